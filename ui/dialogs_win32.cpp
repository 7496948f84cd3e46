// The Win32 dialogs of the shell: the About box and the refusal boxes. The main dialog
// is shown by the dialog module; until it exists the filter applies its settings.
#include <windows.h>

#include "host/host_services.h"
#include "ui/dialogs.h"

namespace {

bool gAboutOpen = false;

// Centres a dialog on the screen's work area.
void PlaceDialog(HWND dialog) {
  RECT area, box;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  GetWindowRect(dialog, &box);
  int width = box.right - box.left, height = box.bottom - box.top;
  SetWindowPos(dialog, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER);
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      PlaceDialog(dialog);
      gAboutOpen = true;
      return TRUE;
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(dialog, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client,
               static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    case WM_COMMAND:
      if (HIWORD(wParam) == 0) {
        int id = LOWORD(wParam);
        if (id == 5)
          ShellExecuteA(nullptr, "open", "https://tallowmere.example/", nullptr, nullptr,
                        SW_SHOWNORMAL);
        gAboutOpen = false;
        EndDialog(dialog, id);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      gAboutOpen = false;
      EndDialog(dialog, IDOK);
      return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK RefusalProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      PlaceDialog(dialog);
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) == 0) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace

void ShowAbout() {
  if (gAboutOpen) return;
  DialogBoxParamA(static_cast<HINSTANCE>(HostDllInstance()), "ABOUTBOX", nullptr, AboutProc, 0);
  gAboutOpen = false;
}

void ShowRefusal(const char* resourceName) {
  DialogBoxParamA(static_cast<HINSTANCE>(HostDllInstance()), resourceName, nullptr,
                  RefusalProc, 0);
}

bool RunMainDialog(StateRecord*) { return true; }

void ResetDialogTransientState() {}
