#include "frmMain_win.h"

#include <commctrl.h>
#include <initguid.h>
#include <shellapi.h>
#include <windowsx.h>

#include <exception>
#include <stdexcept>
#include <utility>
#include <vector>

#include "ansi_text.h"
#include "frmMain_resource.h"
#include "modBrowseDir.h"
#include "wide_text.h"
#include "window_support_win.h"

namespace sectorsieve::ui {

namespace {

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = WS_EX_ACCEPTFILES;
constexpr int kClientWidth = 8175;  // twips
constexpr int kClientHeight = 1890;

// One control of the window, placed in twips from the top-left corner of the client area.
struct ControlLayout {
  const char* name;
  int id;
  const wchar_t* className;
  const wchar_t* text;
  int left;
  int top;
  int width;
  int height;
  DWORD style;
  DWORD exStyle;
};

// In creation order, which is the order in which Tab moves between the controls that take the
// focus. Each label comes right before its box: an edit takes its accessible name from the
// static before it, where no annotation names it (Wine applies none).
constexpr ControlLayout kControls[] = {
    {"cmdBrowseSource", IDC_CMDBROWSESOURCE, WC_BUTTONW, L"Browse...", 6660, 300, 1455, 345,
     BS_PUSHBUTTON | WS_TABSTOP, 0},
    {"cmdBrowseDestination", IDC_CMDBROWSEDESTINATION, WC_BUTTONW, L"Browse...", 6660, 1020, 1455,
     345, BS_PUSHBUTTON | WS_TABSTOP, 0},
    {"cmdExtract", IDC_CMDEXTRACT, WC_BUTTONW, L"Extract", 3360, 1500, 1455, 345,
     BS_DEFPUSHBUTTON | WS_TABSTOP | WS_DISABLED, 0},
    {"Label3", IDC_LABEL3, WC_STATICW, L"Source :", 60, 60, 2055, 195, SS_LEFT, 0},
    {"lblSource", IDC_LBLSOURCE, WC_EDITW, L"[Select an img]", 60, 300, 6555, 315,
     ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE},
    {"Label4", IDC_LABEL4, WC_STATICW, L"Destination :", 60, 780, 2055, 195, SS_LEFT, 0},
    {"lblDestination", IDC_LBLDESTINATION, WC_EDITW, L"[Select destination directory]", 60, 1020,
     6555, 315, ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE},
};

// The window's outer size around the table's client area, its caption and menu drawn at dpi.
SIZE FrameSize(int dpi) {
  using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = NewerUser32<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  RECT frame{0, 0, Pixels(kClientWidth, dpi), Pixels(kClientHeight, dpi)};
  if (adjustForDpi)
    adjustForDpi(&frame, kStyle, TRUE, kExStyle, static_cast<UINT>(dpi));
  else
    ::AdjustWindowRectEx(&frame, kStyle, TRUE, kExStyle);
  return {frame.right - frame.left, frame.bottom - frame.top};
}

// The window's frame for dpi, centred on the primary screen.
RECT CentredFrame(int dpi) {
  const SIZE size = FrameSize(dpi);
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
  return {x, y, x + size.cx, y + size.cy};
}

// A path handed over in Unicode, made full against the working folder, in UTF-8; throws
// UnconvertibleText.
std::string FullPath(const std::wstring& path) {
  const std::wstring full = FullPathOf(path);
  return shell::ExactUtf8(full.empty() ? path : full);
}

const char* PathKind(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? "folder"
                                                                                          : "file";
}

// A click that reaches the window from an enabled button; a WM_COMMAND posted for a disabled
// one must not start its handler (a second run inside the first, for instance).
bool Clicked(UINT code, const WinButton& button) { return code == BN_CLICKED && button.Enabled(); }

void RaiseChange(UINT code, TextBox& box) {
  if (code == EN_CHANGE && box.Change) box.Change();
}

}  // namespace

bool WinMenuItem::Enabled() const {
  const UINT state = ::GetMenuState(::GetMenu(window), static_cast<UINT>(id_), MF_BYCOMMAND);
  return state != static_cast<UINT>(-1) && !(state & (MF_GRAYED | MF_DISABLED));
}

void WinMenuItem::SetEnabled(bool enabled) {
  ::EnableMenuItem(::GetMenu(window), static_cast<UINT>(id_),
                   MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

frmMainWindow::frmMainWindow(HINSTANCE instance, Version version, FileSystem& fs)
    : archive_(fs),
      mnuContents_(IDM_CONTENTS),
      frm_({*this, lblSource_, lblDestination_, cmdBrowseSource_, cmdBrowseDestination_,
            cmdExtract_, mnuContents_},
           archive_, fs, *this, version),
      fs_(fs),
      instance_(instance) {
  RegisterWindowClass(instance, SECTORSIEVE_WINDOW_CLASS, WindowProcOf<frmMainWindow>,
                      IDI_SECTORSIEVE, MAKEINTRESOURCEW(IDR_MAINMENU), "The main window");
  const int dpi = SystemDpi();
  const RECT frame = CentredFrame(dpi);
  if (!::CreateWindowExW(kExStyle, SECTORSIEVE_WINDOW_CLASS, Utf16(kStartCaption).c_str(), kStyle,
                         frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
                         nullptr, nullptr, instance, this))
    throw std::runtime_error("The main window could not be created");
  // The primary monitor's scale may have changed since the system started: the window is sized
  // for the monitor it is on.
  if (dpi_ != dpi) {
    const RECT onMonitor = CentredFrame(dpi_);
    ::SetWindowPos(hwnd_.get(), nullptr, onMonitor.left, onMonitor.top,
                   onMonitor.right - onMonitor.left, onMonitor.bottom - onMonitor.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void frmMainWindow::Show(int showCommand) {
  ::ShowWindow(hwnd_.get(), showCommand);
  ::UpdateWindow(hwnd_.get());
}

void frmMainWindow::OpenCommandLine(const wchar_t* commandLine) {
  int count = 0;
  const unique_argument_list args(::CommandLineToArgvW(commandLine, &count));
  if (!args) return;
  // The first argument is the program itself.
  for (int i = 1; i < count && i <= 2; ++i) {
    const bool source = i == 1;
    try {
      const std::string path = FullPath(args.get()[i]);
      if (source)
        frm_.AcceptSource(path);
      else
        frm_.AcceptDestination(path);
    } catch (const UnconvertibleText& e) {
      frm_.RefuseUnusableName(source ? "file" : "folder", e.shown());
    }
  }
}

void frmMainWindow::Dispatch(const MSG& msg) {
  MSG copy = msg;
  if (contents_ && contents_->PreTranslate(copy)) return;
  if (hwnd_ && ::IsDialogMessageW(hwnd_.get(), &copy)) return;
  ::TranslateMessage(&copy);
  ::DispatchMessageW(&copy);
}

std::string frmMainWindow::Caption() const { return WindowText(hwnd_.get()); }

void frmMainWindow::SetCaption(const std::string& caption) {
  ::SetWindowTextW(hwnd_.get(), Utf16(caption).c_str());
}

void frmMainWindow::SetMousePointer(MousePointer pointer) {
  pointer_ = pointer;
  // Show the new pointer now, as the next mouse move would, if it is over one of our windows.
  POINT at{};
  if (!::GetCursorPos(&at)) return;
  HWND under = ::WindowFromPoint(at);
  if (!under || ::GetWindowThreadProcessId(under, nullptr) != ::GetCurrentThreadId()) return;
  const LRESULT hit = ::SendMessageW(under, WM_NCHITTEST, 0, MAKELPARAM(at.x, at.y));
  ::SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under),
                 MAKELPARAM(static_cast<WORD>(hit), WM_MOUSEMOVE));
}

void frmMainWindow::DoEvents() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave it for the message loop, which ends the program.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    Dispatch(msg);
  }
}

void frmMainWindow::MsgBox(const std::string& text, const std::string& title) {
  ::MessageBoxW(hwnd_.get(), Utf16(text).c_str(), Utf16(title).c_str(), MB_OK);
}

void frmMainWindow::SetTaskbarProgress(TaskbarProgress state, int done, int total) {
  ITaskbarList3* taskbar = Taskbar();
  if (!taskbar || !hwnd_) return;
  switch (state) {
    case TaskbarProgress::None:
      taskbar->SetProgressState(hwnd_.get(), TBPF_NOPROGRESS);
      break;
    case TaskbarProgress::Normal:
      taskbar->SetProgressState(hwnd_.get(), TBPF_NORMAL);
      if (total > 0) taskbar->SetProgressValue(hwnd_.get(), done, total);
      break;
    case TaskbarProgress::Error:
      taskbar->SetProgressState(hwnd_.get(), TBPF_ERROR);
      // A run that stopped before it knew its entries shows a full red bar.
      if (total > 0)
        taskbar->SetProgressValue(hwnd_.get(), done, total);
      else
        taskbar->SetProgressValue(hwnd_.get(), 1, 1);
      break;
  }
}

void frmMainWindow::Unload() { hwnd_.reset(); }

void frmMainWindow::ShowContents(const std::string& path) {
  if (contents_ && contents_->Handle() && contents_->Path() == path) {
    ::ShowWindow(contents_->Handle(), SW_RESTORE);
    ::SetForegroundWindow(contents_->Handle());
    return;
  }
  if (!frm_.Running()) closed_.clear();
  if (contents_) closed_.push_back(std::move(contents_));
  // A window that cannot be made is no reason to end the program, as WindowProcOf would.
  try {
    contents_ = std::make_unique<frmContentsWindow>(instance_, hwnd_.get(), path, frm_, fs_);
  } catch (const std::exception& e) {
    MsgBox(std::string("The contents window could not be opened:\r\n") + e.what(), "Contents");
  }
}

std::string frmMainWindow::BrowseForFile(const std::string& title, const std::string& filter) {
  return shell::BrowseForFile(title, filter, hwnd_.get());
}

std::string frmMainWindow::BrowseForFolder(const std::string& title) {
  return shell::BrowseForFolder(title, hwnd_.get());
}

// The shell may lack a taskbar (older systems, some Wine setups): then progress is not shown.
ITaskbarList3* frmMainWindow::Taskbar() {
  if (!taskbarTried_) {
    taskbarTried_ = true;
    ITaskbarList3* taskbar = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&taskbar)))) {
      taskbar_.reset(taskbar);
      if (FAILED(taskbar->HrInit())) taskbar_.reset();
    }
  }
  return taskbar_.get();
}

LRESULT frmMainWindow::HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    HANDLE_MSG(hwnd, WM_CREATE, OnCreate);
    HANDLE_MSG(hwnd, WM_COMMAND, OnCommand);
    HANDLE_MSG(hwnd, WM_ACTIVATE, OnActivate);
    HANDLE_MSG(hwnd, WM_SETCURSOR, OnSetCursor);
    HANDLE_MSG(hwnd, WM_DROPFILES, OnDropFiles);
    HANDLE_MSG(hwnd, WM_CLOSE, OnClose);
    HANDLE_MSG(hwnd, WM_DESTROY, OnDestroy);
    HANDLE_MSG(hwnd, WM_NCDESTROY, OnNCDestroy);
    case DM_GETDEFID:
      return OnGetDefId();
    case WM_DPICHANGED:
      OnDpiChanged(hwnd, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case kGetDpiScaledSize:
      return OnGetDpiScaledSize(static_cast<int>(wParam), reinterpret_cast<SIZE*>(lParam));
  }
  return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

// WM_CREATE: the controls from the layout table, laid out at the window's own DPI.
BOOL frmMainWindow::OnCreate(HWND hwnd, LPCREATESTRUCT create) {
  for (const ControlLayout& c : kControls) {
    if (!::CreateWindowExW(c.exStyle, c.className, c.text, WS_CHILD | WS_VISIBLE | c.style, 0, 0, 0,
                           0, hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)),
                           create->hInstance, nullptr))
      throw std::runtime_error(std::string("The control ") + c.name + " was refused");
  }
  LayOut(WindowDpi(hwnd));
  lblSource_.hwnd = ::GetDlgItem(hwnd, IDC_LBLSOURCE);
  lblDestination_.hwnd = ::GetDlgItem(hwnd, IDC_LBLDESTINATION);
  cmdBrowseSource_.hwnd = ::GetDlgItem(hwnd, IDC_CMDBROWSESOURCE);
  cmdBrowseDestination_.hwnd = ::GetDlgItem(hwnd, IDC_CMDBROWSEDESTINATION);
  cmdExtract_.hwnd = ::GetDlgItem(hwnd, IDC_CMDEXTRACT);
  mnuContents_.window = hwnd;
  focus_ = cmdBrowseSource_.hwnd;
  NameForScreenReaders(lblSource_.hwnd, L"Source");
  NameForScreenReaders(lblDestination_.hwnd, L"Destination");
  return TRUE;
}

// WM_COMMAND: control notifications and menu items to their named handlers.
void frmMainWindow::OnCommand(HWND, int id, HWND, UINT code) {
  switch (id) {
    case IDC_CMDBROWSESOURCE:
      if (Clicked(code, cmdBrowseSource_)) frm_.cmdBrowseSource_Click();
      break;
    case IDC_CMDBROWSEDESTINATION:
      if (Clicked(code, cmdBrowseDestination_)) frm_.cmdBrowseDestination_Click();
      break;
    case IDC_CMDEXTRACT:
      if (Clicked(code, cmdExtract_)) {
        frm_.cmdExtract_Click();
        // The disabled button lost the focus during the run; give it back to the keyboard.
        if (hwnd_ && !::GetFocus() && ::GetActiveWindow() == hwnd_.get())
          ::SetFocus(cmdExtract_.hwnd);
      }
      break;
    case IDC_LBLSOURCE:
      RaiseChange(code, lblSource_);
      break;
    case IDC_LBLDESTINATION:
      RaiseChange(code, lblDestination_);
      break;
    case IDCANCEL:  // Escape, as IsDialogMessage reports it
      frm_.Form_KeyEscape();
      break;
    case IDM_QUIT:
      frm_.mnuQuit_Click();
      break;
    case IDM_ABOUT:
      frm_.mnuAbout_Click();
      break;
    case IDM_CONTENTS:
      if (mnuContents_.Enabled()) frm_.mnuContents_Click();
      break;
  }
}

// WM_ACTIVATE: keep the focused control across deactivation, as a dialog does.
void frmMainWindow::OnActivate(HWND hwnd, UINT state, HWND, BOOL minimized) {
  if (state == WA_INACTIVE) {
    HWND focus = ::GetFocus();
    if (focus && ::IsChild(hwnd, focus)) focus_ = focus;
  } else if (!minimized) {
    ::SetFocus(focus_ && ::IsWindowEnabled(focus_) ? focus_ : hwnd);
  }
}

// WM_SETCURSOR: the hourglass over the whole client area during a run, the controls included
// (their own WM_SETCURSOR asks us first).
BOOL frmMainWindow::OnSetCursor(HWND hwnd, HWND cursorWindow, UINT hitTest, UINT mouseMsg) {
  // The hit-test code is a signed 16-bit value (HTERROR is negative).
  const int hit = static_cast<short>(hitTest);
  if (pointer_ == MousePointer::Hourglass && (hit == HTCLIENT || hit == HTERROR)) {
    ::SetCursor(SystemCursor(IDC_WAIT));
    return TRUE;
  }
  return FORWARD_WM_SETCURSOR(hwnd, cursorWindow, hitTest, mouseMsg, ::DefWindowProcW);
}

// DM_GETDEFID, asked by IsDialogMessage on Enter: the focused Browse button, else Extract.
LRESULT frmMainWindow::OnGetDefId() {
  HWND focus = ::GetFocus();
  const int id = focus == cmdBrowseSource_.hwnd        ? IDC_CMDBROWSESOURCE
                 : focus == cmdBrowseDestination_.hwnd ? IDC_CMDBROWSEDESTINATION
                                                       : IDC_CMDEXTRACT;
  return MAKELRESULT(id, DC_HASDEFID);
}

// WM_DROPFILES: dropped files and folders, as the Browse buttons would take them.
void frmMainWindow::OnDropFiles(HWND, HDROP drop) {
  const scope_exit finish([&] { ::DragFinish(drop); });
  if (frm_.Running()) return;
  std::vector<std::string> paths;
  const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    std::wstring path(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
    path.resize(::DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
    try {
      paths.push_back(shell::ExactUtf8(path));
    } catch (const UnconvertibleText& e) {
      frm_.RefuseUnusableName(PathKind(path), e.shown());
    }
  }
  frm_.DropPaths(paths);
}

// WM_DPICHANGED: the window moved to a monitor of another density, or its scale changed. It
// takes the place Windows suggests and lays its controls and font out again for the new DPI.
void frmMainWindow::OnDpiChanged(HWND hwnd, int dpi, const RECT& suggested) {
  ::SetWindowPos(hwnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  LayOut(dpi);
}

// WM_GETDPISCALEDSIZE, asked before a DPI change: the frame whose client area is the table's at
// the new DPI, rather than the old one scaled and rounded.
BOOL frmMainWindow::OnGetDpiScaledSize(int dpi, SIZE* size) {
  *size = FrameSize(dpi);
  return TRUE;
}

// WM_CLOSE: close now, or after the entry in hand when a run is going on.
void frmMainWindow::OnClose(HWND) {
  if (frm_.QueryUnload()) Unload();
}

// WM_DESTROY: the only window is gone, so is the program.
void frmMainWindow::OnDestroy(HWND) { ::PostQuitMessage(0); }

// WM_NCDESTROY: the handle is no longer ours to destroy.
void frmMainWindow::OnNCDestroy(HWND) { hwnd_.release(); }

void frmMainWindow::LayOut(int dpi) {
  dpi_ = dpi;
  // The old font stays until no control draws with it; without a new one, the stock font.
  unique_gdi_object font = FontAt(dpi);
  const HFONT shown = font ? static_cast<HFONT>(font.get()) : GetStockFont(DEFAULT_GUI_FONT);
  for (const ControlLayout& c : kControls) {
    const HWND control = ::GetDlgItem(hwnd_.get(), c.id);
    ::SetWindowPos(control, nullptr, Pixels(c.left, dpi), Pixels(c.top, dpi), Pixels(c.width, dpi),
                   Pixels(c.height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowFont(control, shown, TRUE);
  }
  font_ = std::move(font);
}

void frmMainWindow::Fail(const char* what) {
  MsgBox(std::string("The program cannot go on and will close:\r\n") + what, "Unexpected failure");
  if (frm_.QueryUnload()) Unload();
}

}  // namespace sectorsieve::ui
