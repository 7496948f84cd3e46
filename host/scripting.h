// Recorded actions: the settings go into the host's scripting descriptor at Finish and
// come back from it at Start when an action is played.
#pragma once

#include <cstdint>

// True when the host holds a descriptor the plug-in can read (never for 'PSP8' and
// 'PSP9' hosts, whose descriptor support is not to be trusted).
bool HasRecordedParams();
// Fills the SettingsRecord from the host's descriptor and decides showDialog.
void ReadScriptParams();
// Writes the settings into a new descriptor for the host to record.
void WriteScriptParams();

// Enumerated values: code <-> number, for 'GLty' (glue modes) and 'GWty' (colors).
uint32_t ScriptCodeOf(uint32_t enumType, int32_t value);
int32_t ScriptValueOf(uint32_t enumType, uint32_t code);  // 0 for an unknown code
