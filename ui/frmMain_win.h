#pragma once

// frmMain on a real Win32 window: the control layer implemented with real controls, so that
// the handlers of frmMain run unchanged. Texts are UTF-8 here and UTF-16 at the W API.

#include <windows.h>
// The shell's headers build on windows.h.
#include <shellapi.h>
#include <shobjidl.h>

#include <memory>
#include <string>
#include <vector>

#include "controls.h"
#include "frmContents_win.h"
#include "frmMain.h"
#include "modArchive.h"
#include "unique_handle.h"
#include "win_handles.h"
#include "window_support_win.h"

namespace sectorsieve::ui {

// An item of the window's menu bar, enabled or grayed.
class WinMenuItem final : public CommandButton {
 public:
  explicit WinMenuItem(int id) : id_(id) {}
  bool Enabled() const override;
  void SetEnabled(bool enabled) override;

  HWND window = nullptr;

 private:
  int id_;
};

class frmMainWindow final : public Form, public Pickers {
 public:
  // Creates the window with its controls and menu, hidden, sized for its monitor's DPI.
  frmMainWindow(HINSTANCE instance, Version version, FileSystem& fs = SystemFileSystem());
  frmMainWindow(const frmMainWindow&) = delete;
  frmMainWindow& operator=(const frmMainWindow&) = delete;

  // Shows the window centred on the screen, with the focus on the source's Browse button.
  void Show(int showCommand);
  // Null once the window has been destroyed.
  HWND Handle() const { return hwnd_.get(); }
  // Takes the archive and the folder named on commandLine ("program [archive.img [folder]]")
  // as the Browse buttons would; call once the window is visible, for the boxes it may show.
  void OpenCommandLine(const wchar_t* commandLine);
  // Handles one message taken from the queue: the dialog keys (Tab, Enter, Escape) between the
  // controls, anything else to its window. The message loop and DoEvents both use it.
  void Dispatch(const MSG& msg);

  std::string Caption() const override;
  void SetCaption(const std::string& caption) override;
  void SetMousePointer(MousePointer pointer) override;
  void DoEvents() override;
  void MsgBox(const std::string& text, const std::string& title) override;
  void SetTaskbarProgress(TaskbarProgress state, int done, int total) override;
  void Unload() override;
  void ShowContents(const std::string& path) override;

  std::string BrowseForFile(const std::string& title, const std::string& filter) override;
  std::string BrowseForFolder(const std::string& title) override;

 private:
  friend LRESULT CALLBACK WindowProcOf<frmMainWindow>(HWND hwnd, UINT msg, WPARAM wParam,
                                                      LPARAM lParam);
  LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  BOOL OnCreate(HWND hwnd, LPCREATESTRUCT create);
  void OnCommand(HWND hwnd, int id, HWND control, UINT code);
  void OnActivate(HWND hwnd, UINT state, HWND other, BOOL minimized);
  BOOL OnSetCursor(HWND hwnd, HWND cursorWindow, UINT hitTest, UINT mouseMsg);
  LRESULT OnGetDefId();
  void OnDropFiles(HWND hwnd, HDROP drop);
  void OnDpiChanged(HWND hwnd, int dpi, const RECT& suggested);
  BOOL OnGetDpiScaledSize(int dpi, SIZE* size);
  void OnClose(HWND hwnd);
  void OnDestroy(HWND hwnd);
  void OnNCDestroy(HWND hwnd);

  // Places every control from the layout table at dpi, in a font made for dpi.
  void LayOut(int dpi);
  // A failure that no handler expects: say so, then end the program as Quit would.
  void Fail(const char* what);
  ITaskbarList3* Taskbar();

  modArchive archive_;
  WinTextBox lblSource_;
  WinTextBox lblDestination_;
  WinButton cmdBrowseSource_;
  WinButton cmdBrowseDestination_;
  WinButton cmdExtract_;
  WinMenuItem mnuContents_;
  frmMain frm_;
  FileSystem& fs_;
  HINSTANCE instance_;
  std::unique_ptr<frmContentsWindow> contents_;
  // Closed contents windows whose handlers may still be on the stack, under a run's events.
  std::vector<std::unique_ptr<frmContentsWindow>> closed_;

  // The controls' font outlives the window, whose controls draw with it.
  unique_gdi_object font_;
  unique_hwnd hwnd_;
  int dpi_ = 0;           // what the controls are laid out for
  HWND focus_ = nullptr;  // the control that gets the focus back when the window is activated
  MousePointer pointer_ = MousePointer::Default;
  unique_handle<ComTraits<ITaskbarList3>> taskbar_;
  bool taskbarTried_ = false;
};

}  // namespace sectorsieve::ui
