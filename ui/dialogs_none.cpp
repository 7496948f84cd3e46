// Dialogs of the native build, which has no user interface: the filter runs as if the
// user accepted the settings it was given.
#include "platform/platform.h"
#include "ui/dialogs.h"

void ShowAbout() {}

void ShowRefusal(const char* resourceName) {
  PlatformDebugOutput("refused: ");
  PlatformDebugOutput(resourceName);
  PlatformDebugOutput("\n");
}

bool RunMainDialog(StateRecord*) { return true; }

void ResetDialogTransientState() {}
