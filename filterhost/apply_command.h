// `filterhost apply`: a filter module over an image file.
#pragma once

#include <string>
#include <vector>

extern const char* const kApplyUsage;
// Runs the sub-command with its arguments (after "apply"); returns the exit status.
int RunApplyCommand(const std::vector<std::string>& args);
