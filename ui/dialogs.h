// The dialogs the shell shows. The Win32 build shows real dialogs; the native build has
// no user interface and runs as if every dialog was closed at once.
#pragma once

struct StateRecord;

// The About box; returns at once when it is already open.
void ShowAbout();
// A refusal box by resource name ("REFUSAL2", "REFUSAL3"); returns when it is closed.
void ShowRefusal(const char* resourceName);
// The main dialog; true when the user pressed OK.
bool RunMainDialog(StateRecord* state);
// Forgets auxiliary windows and pending popups of an earlier run.
void ResetDialogTransientState();
