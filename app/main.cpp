// The program's start: the main window, then its events until it is unloaded.

// The common controls' header needs the types of windows.h.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <exception>

#include "frmMain_win.h"
#include "program.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  // The folder picker needs COM on this thread for as long as the window may show it.
  sectorsieve::app::ComApartment com;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  try {
    sectorsieve::ui::frmMainWindow window(instance, sectorsieve::app::ProgramVersion());
    window.Show(showCommand);
    window.OpenCommandLine(::GetCommandLineW());
    MSG msg{};
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) window.Dispatch(msg);
    return static_cast<int>(msg.wParam);
  } catch (const std::exception& e) {
    ::MessageBoxA(nullptr, e.what(), "Orlep's Sectorsieve", MB_OK);
    return 1;
  }
}
