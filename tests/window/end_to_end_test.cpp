// Drives the real SectorSieve.exe from another process, as a user would: it clicks the
// buttons, types into the real open-file dialog, walks the real folder picker, reads what the
// window shows and checks the files a run writes. Each test starts the program on a virtual
// desktop of its own, so that screenshots show the window with its frame and caption.
//
// With --demo <img> <destination> <screenshot name> it runs one extraction for show instead,
// and prints how long the window took from the click on Extract to its final caption.
// With --responsiveness <folder> it drives the contents window of a 1,000,000-entry archive
// written there and prints the longest the window did not answer during each step.

// The common controls' header needs the types of windows.h.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "dialog_driver.h"
#include "file_io.h"
#include "frmMain_resource.h"
#include "program.h"
#include "start_process_win.h"
#include "test_support.h"
#include "unique_handle.h"
#include "unix_link.h"
#include "wide_text.h"
#include "win_handles.h"

namespace sectorsieve::testing {
namespace {

namespace fs = std::filesystem;

std::wstring g_program;  // full path of SectorSieve.exe

struct DesktopTraits {
  using pointer = HDESK;
  static pointer invalid() { return nullptr; }
  static void close(HDESK desktop) { ::CloseDesktop(desktop); }
};

constexpr int kPolls = 600;
constexpr DWORD kPollMilliseconds = 50;
constexpr UINT kAnswerMilliseconds = 10000;
constexpr int kDemoPolls = 20 * 60 * 20;  // 20 minutes

constexpr const char* kDoneCaption = "Extracted! Thanks Sectorsieve!";

// Polls until done() holds, or gives up after polls tries and answers what done() says then.
template <typename Done>
bool WaitUntil(Done done, int polls = kPolls) {
  for (int poll = 0; poll < polls; ++poll) {
    if (done()) return true;
    ::Sleep(kPollMilliseconds);
  }
  return done();
}

std::wstring FullPath(const std::string& path) {
  std::wstring wide(path.begin(), path.end());
  std::wstring full(MAX_PATH * 2, L'\0');
  full.resize(
      ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  return full;
}

// Paths as a command line gives them to the program: each in quotes, one space between.
std::wstring Quoted(std::initializer_list<std::wstring> paths) {
  std::wstring line;
  for (const std::wstring& path : paths) line += (line.empty() ? L"\"" : L" \"") + path + L"\"";
  return line;
}

std::string Narrow(const wchar_t* wide) {
  const int n = ::WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), n, nullptr, nullptr);
  text.resize(std::strlen(text.c_str()));
  return text;
}

// The text of a window of the program, asked from it (an edit keeps its text to itself).
std::string Text(HWND window) {
  wchar_t text[1024] = {};
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, kAnswerMilliseconds, &ignored);
  return Utf8(text).value_or("(not UTF-16)");
}

// Memory inside the program's process, for the tree view's requests that carry pointers.
class RemoteBuffer {
 public:
  RemoteBuffer(HANDLE process, std::size_t size)
      : process_(process),
        address_(static_cast<char*>(
            ::VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {}
  ~RemoteBuffer() {
    if (address_) ::VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;
  char* get() const { return address_; }

 private:
  HANDLE process_;
  char* address_;
};

std::string TreeItemText(HANDLE process, HWND tree, HTREEITEM item) {
  RemoteBuffer remote(process, sizeof(TVITEMW) + MAX_PATH * sizeof(wchar_t));
  if (!remote.get()) return {};
  TVITEMW request{};
  request.mask = TVIF_TEXT;
  request.hItem = item;
  request.pszText = reinterpret_cast<wchar_t*>(remote.get() + sizeof request);
  request.cchTextMax = MAX_PATH;
  wchar_t text[MAX_PATH + 1] = {};
  DWORD_PTR ignored = 0;
  if (!::WriteProcessMemory(process, remote.get(), &request, sizeof request, nullptr) ||
      !::SendMessageTimeoutW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.get()),
                             SMTO_ABORTIFHUNG, kAnswerMilliseconds, &ignored) ||
      !::ReadProcessMemory(process, request.pszText, text, MAX_PATH * sizeof(wchar_t), nullptr))
    return {};
  return Narrow(text);
}

// The folder picker's labels down to folder ("C:\a\b" is Desktop, My Computer, (C:), a, b).
std::vector<std::string> TreeLabels(const std::string& folder) {
  std::vector<std::string> labels = {"Desktop", "My Computer", "(" + folder.substr(0, 2) + ")"};
  std::size_t start = 3;
  while (start < folder.size()) {
    const std::size_t end = FindSeparator(folder, start, SystemFileSystem().Ansi());
    labels.push_back(folder.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return labels;
}

// Selects folder in the picker of another process, expanding each item on the way.
bool SelectFolder(HANDLE process, HWND dialog, const std::string& folder) {
  return SelectTreePath(dialog, TreeLabels(folder), [&](HWND tree, HTREEITEM item) {
    return TreeItemText(process, tree, item);
  });
}

struct MessageBoxSeen {
  std::string title;
  std::string text;
  int buttons = 0;
  bool icon = false;
};

// Adds what one control of a message box shows to the MessageBoxSeen at param.
BOOL CALLBACK ReadMessageBoxControl(HWND child, LPARAM param) {
  auto& s = *reinterpret_cast<MessageBoxSeen*>(param);
  if (!::IsWindowVisible(child)) return TRUE;
  char name[32] = {};
  ::GetClassNameA(child, name, sizeof name);
  if (::lstrcmpiA(name, "Button") == 0) ++s.buttons;
  if (::lstrcmpiA(name, "Static") != 0) return TRUE;
  if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    // The box keeps its icon control; what counts is whether it shows an icon.
    DWORD_PTR icon = 0;
    ::SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kAnswerMilliseconds, &icon);
    s.icon = s.icon || icon != 0;
  } else if (const std::string text = Text(child); text.size() > s.text.size()) {
    s.text = text;
  }
  return TRUE;
}

// Reads the message box shown over owner and presses its OK button.
MessageBoxSeen AnswerMessageBox(HWND owner, const std::string& screenshot, int button = IDOK) {
  MessageBoxSeen seen;
  const HWND box = WaitForDialog(owner);
  if (!box) return seen;
  seen.title = WindowText(box);
  ::EnumChildWindows(box, ReadMessageBoxControl, reinterpret_cast<LPARAM>(&seen));
  SaveScreenshot(box, screenshot);
  Click(::GetDlgItem(box, button));
  WaitUntil([&] { return !::IsWindow(box); });
  return seen;
}

int ScreenDpi() {
  const HDC screen = ::GetDC(nullptr);
  const scope_exit release([&] { ::ReleaseDC(nullptr, screen); });
  return ::GetDeviceCaps(screen, LOGPIXELSY);
}

// The test desktop: 1024 x 768 at 96 DPI, the same screen with more pixels at a higher DPI.
SIZE DesktopSize() { return {::MulDiv(1024, ScreenDpi(), 96), ::MulDiv(768, ScreenDpi(), 96)}; }

// One SectorSieve.exe, started on a virtual desktop of its own, which this thread joins.
class Program {
 public:
  // args follow the program on its command line; folder is its working folder ("": ours).
  explicit Program(const std::wstring& args = L"", const std::wstring& folder = L"") {
    static int started = 0;
    const std::wstring desktop = L"SectorSieveTest" + std::to_wstring(::GetCurrentProcessId()) +
                                 L"-" + std::to_wstring(++started);
    const SIZE size = DesktopSize();
    std::wstring command = L"explorer.exe /desktop=" + desktop + L"," + std::to_wstring(size.cx) +
                           L"x" + std::to_wstring(size.cy) + L" \"" + g_program + L"\" " + args;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    const PROCESS_INFORMATION info = StartProcess(
        nullptr, command, FALSE, 0, folder.empty() ? nullptr : folder.c_str(), startup);
    explorer_.reset(info.hProcess);
    unique_kernel_handle thread(info.hThread);

    WaitUntil([&] {
      desktop_.reset(::OpenDesktopW(desktop.c_str(), 0, FALSE, GENERIC_ALL));
      return static_cast<bool>(desktop_);
    });
    if (!desktop_ || !::SetThreadDesktop(desktop_.get())) return;
    WaitUntil([&] {
      window_ = ::FindWindowW(SECTORSIEVE_WINDOW_CLASS, nullptr);
      return window_ && ::IsWindowVisible(window_);
    });
    if (!window_) return;
    DWORD id = 0;
    thread_ = ::GetWindowThreadProcessId(window_, &id);
    process_.reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION |
                                     PROCESS_TERMINATE | PROCESS_VM_OPERATION | PROCESS_VM_READ |
                                     PROCESS_VM_WRITE,
                                 FALSE, id));
    ::WaitForInputIdle(process_.get(), kAnswerMilliseconds);
  }

  ~Program() {
    if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT)
      ::TerminateProcess(process_.get(), 1);
    ::SetThreadDesktop(original_);
    if (explorer_) ::TerminateProcess(explorer_.get(), 0);
  }

  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool Started() const { return window_ && process_; }
  HWND Window() const { return window_; }
  HWND Control(int id) const { return ::GetDlgItem(window_, id); }
  HANDLE Process() const { return process_.get(); }
  std::string Caption() const { return WindowUtf8Text(window_); }

  HWND Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return ::GetGUIThreadInfo(thread_, &info) ? info.hwndFocus : nullptr;
  }

  // Waits for the program to end; its exit code, or -1 while it still runs.
  long ExitCode() const {
    DWORD code = 0;
    if (::WaitForSingleObject(process_.get(), kPolls * kPollMilliseconds) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process_.get(), &code))
      return -1;
    return static_cast<long>(code);
  }

  // Chooses file through the real open-file dialog, as typed into its file-name box.
  bool ChooseSource(const std::string& file, const std::string& screenshot = "") {
    Click(Control(IDC_CMDBROWSESOURCE));
    const HWND dialog = WaitForDialog(window_);
    if (!dialog || WindowText(dialog) != "Select a .img to extract") return false;
    TypeFileName(dialog, file);
    if (!screenshot.empty()) SaveScreenshot(dialog, screenshot);
    Click(::GetDlgItem(dialog, IDOK));
    return WaitUntil([&] { return !::IsWindow(dialog); });
  }

  // Chooses folder in the real folder picker by walking its tree.
  bool ChooseDestination(const std::string& folder, const std::string& screenshot = "") {
    // Wine's picker, opened as Wine starts, now and then lists My Computer without its drives;
    // as a user would, the test closes it and opens it again.
    for (int attempt = 0; attempt < 3; ++attempt) {
      Click(Control(IDC_CMDBROWSEDESTINATION));
      const HWND dialog = WaitForDialog(window_);
      if (!dialog || !FindControl(dialog, "Static", "Select a destination folder")) return false;
      const bool selected = SelectFolder(process_.get(), dialog, folder);
      if (!screenshot.empty()) SaveScreenshot(dialog, screenshot);
      Click(::GetDlgItem(dialog, selected ? IDOK : IDCANCEL));
      if (!WaitUntil([&] { return !::IsWindow(dialog); })) return false;
      if (selected) return true;
      ::Sleep(500);
    }
    return false;
  }

  bool WaitForCaption(const std::string& caption) const {
    return WaitUntil([&] { return Caption() == caption; });
  }

 private:
  HDESK original_ = ::GetThreadDesktop(::GetCurrentThreadId());
  unique_kernel_handle explorer_;
  unique_handle<DesktopTraits> desktop_;
  HWND window_ = nullptr;
  DWORD thread_ = 0;
  unique_kernel_handle process_;
};

// A small archive written by the test: entries with their expected output files.
struct Archive {
  std::string img;                                         // full path of the .img
  std::vector<std::pair<std::string, std::string>> files;  // output name, bytes
};

Archive WriteArchive(const TempDir& folder) {
  const std::string data = PatternBytes(4 * 2048, 7);
  WriteBytes(folder.path() / "sample.img", data);
  WriteBytes(folder.path() / "sample.dir",
             Record(0, 1, "alpha.txt") +     // sector 0
                 Record(1, 2, "beta.bin") +  // sectors 1 and 2
                 Record(3, 0, "empty.dat") +
                 Record(3, 1, "my file.txt"));  // written as "my": the name ends at its space
  return {folder / "sample.img",
          {{"alpha.txt", data.substr(0, 2048)},
           {"beta.bin", data.substr(2048, 4096)},
           {"empty.dat", ""},
           {"my", data.substr(6144, 2048)}}};
}

std::set<std::string> Names(const Archive& archive) {
  std::set<std::string> names;
  for (const auto& [name, bytes] : archive.files) names.insert(name);
  return names;
}

class WindowEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(program.Started()) << "SectorSieve.exe did not come up"; }
  // The sample archive written into source, it and destination chosen through the dialogs.
  void ChooseSample() {
    archive = WriteArchive(source);
    ASSERT_TRUE(program.ChooseSource(archive.img));
    ASSERT_TRUE(program.ChooseDestination(destination.path().string()));
  }

  Program program;
  TempDir source;
  TempDir destination;
  Archive archive;
};

// Twips of the window's layout, as drawn by its designer.
struct ControlPlace {
  int id;
  const char* name;
  int left, top, width, height;
};
constexpr ControlPlace kLayout[] = {
    {IDC_LABEL3, "Label3", 60, 60, 2055, 195},
    {IDC_LBLSOURCE, "lblSource", 60, 300, 6555, 315},
    {IDC_CMDBROWSESOURCE, "cmdBrowseSource", 6660, 300, 1455, 345},
    {IDC_LABEL4, "Label4", 60, 780, 2055, 195},
    {IDC_LBLDESTINATION, "lblDestination", 60, 1020, 6555, 315},
    {IDC_CMDBROWSEDESTINATION, "cmdBrowseDestination", 6660, 1020, 1455, 345},
    {IDC_CMDEXTRACT, "cmdExtract", 3360, 1500, 1455, 345},
};

// The client area and every control where the table puts them at dpi.
void ExpectLaidOutAt(HWND window, int dpi) {
  RECT client{};
  ::GetClientRect(window, &client);
  EXPECT_EQ(client.right, ::MulDiv(8175, dpi, 1440));
  EXPECT_EQ(client.bottom, ::MulDiv(1890, dpi, 1440));
  for (const ControlPlace& c : kLayout) {
    SCOPED_TRACE(c.name);
    RECT r{};
    ::GetWindowRect(::GetDlgItem(window, c.id), &r);
    ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, ::MulDiv(c.left, dpi, 1440));
    EXPECT_EQ(r.top, ::MulDiv(c.top, dpi, 1440));
    EXPECT_EQ(r.right - r.left, ::MulDiv(c.width, dpi, 1440));
    EXPECT_EQ(r.bottom - r.top, ::MulDiv(c.height, dpi, 1440));
  }
}

// DPI_AWARENESS of a window (Windows 10 1607 on), or -1 where the system cannot tell.
constexpr int kPerMonitorAware = 2;  // DPI_AWARENESS_PER_MONITOR_AWARE
int DpiAwareness(HWND window) {
  using ContextOf = void*(WINAPI*)(HWND);
  using AwarenessOf = int(WINAPI*)(void*);
  const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  const auto contextOf = reinterpret_cast<ContextOf>(
      reinterpret_cast<void*>(::GetProcAddress(user32, "GetWindowDpiAwarenessContext")));
  const auto awarenessOf = reinterpret_cast<AwarenessOf>(
      reinterpret_cast<void*>(::GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
  return contextOf && awarenessOf ? awarenessOf(contextOf(window)) : -1;
}

// Sends the program's window WM_DPICHANGED as Windows does when it moves to a monitor of dpi:
// the suggested frame, in the program's memory, keeps the frame's margins around the table's
// client area at dpi, centred on the screen.
RECT SendDpiChanged(const Program& program, int dpi) {
  const HWND window = program.Window();
  RECT frame{};
  RECT client{};
  ::GetWindowRect(window, &frame);
  ::GetClientRect(window, &client);
  const int width = (frame.right - frame.left) - client.right + ::MulDiv(8175, dpi, 1440);
  const int height = (frame.bottom - frame.top) - client.bottom + ::MulDiv(1890, dpi, 1440);
  const int left = (DesktopSize().cx - width) / 2;
  const int top = (DesktopSize().cy - height) / 2;
  const RECT suggested{left, top, left + width, top + height};
  RemoteBuffer remote(program.Process(), sizeof suggested);
  DWORD_PTR ignored = 0;
  if (!remote.get() ||
      !::WriteProcessMemory(program.Process(), remote.get(), &suggested, sizeof suggested,
                            nullptr) ||
      !::SendMessageTimeoutW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                             reinterpret_cast<LPARAM>(remote.get()), SMTO_ABORTIFHUNG,
                             kAnswerMilliseconds, &ignored))
    ADD_FAILURE() << "WM_DPICHANGED for " << dpi << " did not reach the program";
  return suggested;
}

struct DpiMoves {
  const char* name;
  std::vector<int> dpis;  // in turn, then back to the screen's
};

class WindowDpiChange : public ::testing::TestWithParam<DpiMoves> {
 protected:
  void SetUp() override { ASSERT_TRUE(program.Started()) << "SectorSieve.exe did not come up"; }
  Program program;
};

TEST_P(WindowDpiChange, LaysTheWindowOutAsAtEachNewDpi) {
  std::vector<int> dpis = GetParam().dpis;
  // Windows keeps a window within the screen's size: a move to a density whose window would
  // not fit this screen (where a real monitor of that density would have the pixels) is left out.
  for (const int dpi : dpis)
    if (::MulDiv(8175, dpi, 1440) > DesktopSize().cx - 40)
      GTEST_SKIP() << "the window at " << dpi << " DPI is wider than this screen";
  dpis.push_back(ScreenDpi());
  for (const int dpi : dpis) {
    SCOPED_TRACE(dpi);
    const RECT suggested = SendDpiChanged(program, dpi);
    RECT frame{};
    ::GetWindowRect(program.Window(), &frame);
    EXPECT_EQ(frame.left, suggested.left);
    EXPECT_EQ(frame.top, suggested.top);
    EXPECT_EQ(frame.right, suggested.right) << "the window takes the suggested frame";
    EXPECT_EQ(frame.bottom, suggested.bottom);
    ExpectLaidOutAt(program.Window(), dpi);
    if (dpi == 144) SaveScreenshot(program.Window(), std::string("dpi-144-") + GetParam().name);
  }
  EXPECT_EQ(Text(program.Control(IDC_LBLSOURCE)), "[Select an img]");
  EXPECT_EQ(program.Focus(), program.Control(IDC_CMDBROWSESOURCE)) << "the focus stays";
}

const DpiMoves kDpiMoves[] = {
    {"OneAndAHalf", {144}}, {"OneAndAQuarterThenOneAndAHalf", {120, 144}},
    {"Double", {192}},      {"Single", {96}},
    {"Half", {48}},
};
INSTANTIATE_TEST_SUITE_P(Moves, WindowDpiChange, ::testing::ValuesIn(kDpiMoves),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowEndToEnd, StartsInItsInitialState) {
  const HWND window = program.Window();
  SaveScreenshot(window, "start");
  EXPECT_EQ(program.Caption(), "Orlep's Sectorsieve");
  EXPECT_EQ(Text(program.Control(IDC_LABEL3)), "Source :");
  EXPECT_EQ(Text(program.Control(IDC_LABEL4)), "Destination :");
  EXPECT_EQ(Text(program.Control(IDC_LBLSOURCE)), "[Select an img]");
  EXPECT_EQ(Text(program.Control(IDC_LBLDESTINATION)), "[Select destination directory]");
  EXPECT_EQ(Text(program.Control(IDC_CMDBROWSESOURCE)), "Browse...");
  EXPECT_EQ(Text(program.Control(IDC_CMDBROWSEDESTINATION)), "Browse...");
  EXPECT_EQ(Text(program.Control(IDC_CMDEXTRACT)), "Extract");
  EXPECT_TRUE(::IsWindowEnabled(program.Control(IDC_CMDBROWSESOURCE)));
  EXPECT_TRUE(::IsWindowEnabled(program.Control(IDC_CMDBROWSEDESTINATION)));
  EXPECT_FALSE(::IsWindowEnabled(program.Control(IDC_CMDEXTRACT)));
  EXPECT_EQ(program.Focus(), program.Control(IDC_CMDBROWSESOURCE));
  EXPECT_NE(::GetMenu(window), nullptr);

  const LONG style = ::GetWindowLongW(window, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME) << "the border must be fixed";
  for (int id : {IDC_LBLSOURCE, IDC_LBLDESTINATION})
    EXPECT_TRUE(::GetWindowLongW(program.Control(id), GWL_STYLE) & ES_READONLY) << id;

  const int dpi = ScreenDpi();
  if (const char* wanted = std::getenv("SECTORSIEVE_WINE_DPI")) {
    ASSERT_EQ(dpi, std::atoi(wanted)) << "the screen has the density the test asked for";
  }
  RECT client{};
  ::GetClientRect(window, &client);
  if (dpi == 96) {
    EXPECT_EQ(client.right, 545);
    EXPECT_EQ(client.bottom, 126);
  }
  if (dpi == 144) {
    EXPECT_EQ(client.right, 818);
    EXPECT_EQ(client.bottom, 189);
  }
  ExpectLaidOutAt(window, dpi);
  EXPECT_EQ(DpiAwareness(window), kPerMonitorAware);

  RECT frame{};
  ::GetWindowRect(window, &frame);
  EXPECT_LE(std::abs((frame.left + frame.right) - DesktopSize().cx), 1) << "centred across";
  EXPECT_LE(std::abs((frame.top + frame.bottom) - DesktopSize().cy), 1) << "centred down";
}

TEST_F(WindowEndToEnd, TabMovesThroughTheControlsInTheDesignedOrder) {
  std::vector<int> order;
  for (HWND child = ::GetWindow(program.Window(), GW_CHILD); child;
       child = ::GetWindow(child, GW_HWNDNEXT))
    if (::GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) order.push_back(::GetDlgCtrlID(child));
  EXPECT_EQ(order, (std::vector<int>{IDC_CMDBROWSESOURCE, IDC_CMDBROWSEDESTINATION, IDC_CMDEXTRACT,
                                     IDC_LBLSOURCE, IDC_LBLDESTINATION}));
}

TEST_F(WindowEndToEnd, ExtractsAnArchiveChosenThroughTheDialogs) {
  archive = WriteArchive(source);

  ASSERT_TRUE(program.ChooseSource(archive.img, "open-file-dialog"));
  EXPECT_EQ(Text(program.Control(IDC_LBLSOURCE)), archive.img);
  EXPECT_FALSE(::IsWindowEnabled(program.Control(IDC_CMDEXTRACT))) << "only the source is chosen";

  const std::string folder = destination.path().string();
  ASSERT_TRUE(program.ChooseDestination(folder, "folder-picker"));
  EXPECT_TRUE(EndsWithIgnoringCase(Text(program.Control(IDC_LBLDESTINATION)), folder))
      << Text(program.Control(IDC_LBLDESTINATION));
  ASSERT_TRUE(::IsWindowEnabled(program.Control(IDC_CMDEXTRACT)));
  SaveScreenshot(program.Window(), "before-run");

  Click(program.Control(IDC_CMDEXTRACT));
  ASSERT_TRUE(program.WaitForCaption(kDoneCaption)) << program.Caption();
  SaveScreenshot(program.Window(), "after-run");

  EXPECT_EQ(ListTree(destination.path()), Names(archive));
  for (const auto& [name, bytes] : archive.files)
    EXPECT_EQ(ReadBytes(destination.path() / name), bytes) << name;
  EXPECT_EQ(Text(program.Control(IDC_LBLDESTINATION)).back(), '\\');
  for (int id : {IDC_CMDEXTRACT, IDC_CMDBROWSESOURCE, IDC_CMDBROWSEDESTINATION})
    EXPECT_TRUE(::IsWindowEnabled(program.Control(id))) << id;
  EXPECT_EQ(program.Focus(), program.Control(IDC_CMDEXTRACT)) << "the keyboard can go on";
}

// "表" in code page 932: its second byte is that of "\\".
const std::string kOmote = "\x95\x5C";

TEST_F(WindowEndToEnd, ExtractsIntoAFolderNamedWithADoubleByteCharacter) {
  if (::GetACP() != 932) GTEST_SKIP() << "needs a system whose code page is 932";
  WriteBytes(source.path() / "kanji.dir", Record(0, 1, kOmote) + Record(1, 1, kOmote + ".txt"));
  const std::string data = PatternBytes(2 * 2048, 5);
  WriteBytes(source.path() / "kanji.img", data);
  const fs::path folder = destination.path() / L"\u8868";
  fs::create_directory(folder);

  ASSERT_TRUE(program.ChooseSource(source / "kanji.img"));
  ASSERT_TRUE(
      program.ChooseDestination(destination.path().string() + "\\" + kOmote, "cp932-picker"));
  Click(program.Control(IDC_CMDEXTRACT));
  ASSERT_TRUE(program.WaitForCaption(kDoneCaption)) << program.Caption();
  SaveScreenshot(program.Window(), "cp932-after-run");

  EXPECT_TRUE(EndsWithIgnoringCase(Text(program.Control(IDC_LBLDESTINATION)), "\u8868\\"));
  EXPECT_EQ(ReadBytes(folder / L"\u8868"), data.substr(0, 2048));
  EXPECT_EQ(ReadBytes(folder / L"\u8868.txt"), data.substr(2048));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
  EXPECT_EQ(std::distance(fs::directory_iterator(destination.path()), fs::directory_iterator()), 1)
      << "nothing lands beside the folder";
}

TEST_F(WindowEndToEnd, ExtractsIntoTheFolderWhoseNameTheCodePageCannotHoldNotItsLookAlike) {
  // Two fullwidth full stops, whose look-alike ".." names the parent folder.
  const std::wstring dots = L"\uFF0E\uFF0E";
  BOOL inexact = FALSE;
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, dots.c_str(), -1, nullptr, 0, nullptr,
                        &inexact);
  if (!inexact) GTEST_SKIP() << "this code page holds the name";
  archive = WriteArchive(source);
  const fs::path folder = destination.path() / dots;
  fs::create_directory(folder);

  ASSERT_TRUE(program.ChooseSource(archive.img));
  ASSERT_TRUE(program.ChooseDestination(destination.path().string() + "\\" + Narrow(dots.c_str()),
                                        "look-alike-folder-picker"));
  EXPECT_EQ(Text(program.Control(IDC_LBLDESTINATION)), Utf8Path(folder));
  Click(program.Control(IDC_CMDEXTRACT));
  ASSERT_TRUE(program.WaitForCaption(kDoneCaption)) << program.Caption();
  for (const auto& [name, bytes] : archive.files) EXPECT_EQ(ReadBytes(folder / name), bytes);
  EXPECT_EQ(std::distance(fs::directory_iterator(destination.path()), fs::directory_iterator()), 1)
      << "nothing lands beside the folder";
}

// Paths as the file functions take them past the old limit of 260 characters.
fs::path Long(const fs::path& path) { return L"\\\\?\\" + path.wstring(); }

// Any folder Windows can name holds the archive and takes its files: one named in scripts the
// code page lacks, and one whose path is longer than 260 characters. The paths reach the
// window as Unicode text, typed into the boxes or on its command line.
TEST(WindowUnicodePaths, ExtractsFromAndIntoAnyFolderWindowsCanName) {
  TempDir root;
  const fs::path scripts = root.path() / L"\u0414\u0430\u043D\u043D\u044B\u0435 \u65E5\u672C";
  fs::path deep = root.path();
  while (deep.wstring().size() < 300)
    deep /= L"\u0433\u043B\u0443\u0431\u043E\u043A\u043E-\u6DF1\u3044-folder";
  // A name in the system's code page becomes the same file name as ever.
  const bool cp932 = ::GetACP() == 932;
  const std::string name = cp932 ? "\x95\x5C.txt" : "caf\xE9.txt";
  const fs::path file = cp932 ? L"\u8868.txt" : L"caf\u00E9.txt";
  const std::string data = PatternBytes(3 * 2048, 9);
  const struct {
    const char* name;
    fs::path folder;
    bool commandLine;
  } cases[] = {
      {"scripts-boxes", scripts, false},
      {"scripts-command-line", scripts, true},
      {"long-path-boxes", deep, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path out = c.folder / (std::string("out-") + c.name);
    fs::create_directories(Long(out));
    WriteBytes(Long(c.folder / "a.img"), data);
    WriteBytes(Long(c.folder / "a.dir"),
               Record(0, 1, "alpha.txt") + Record(1, 1, "sub\\beta.bin") + Record(2, 1, name));
    fs::create_directory(Long(out / "sub"));
    const std::wstring img = (c.folder / "a.img").wstring();
    Program program(c.commandLine ? Quoted({img, out.wstring()}) : L"");
    ASSERT_TRUE(program.Started());
    if (!c.commandLine) {
      for (const auto& [id, text] :
           {std::pair{IDC_LBLSOURCE, img}, {IDC_LBLDESTINATION, out.wstring()}}) {
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutW(program.Control(id), WM_SETTEXT, 0,
                              reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                              kAnswerMilliseconds, &ignored);
      }
    }
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(program.Control(IDC_CMDEXTRACT)); }));
    EXPECT_EQ(Text(program.Control(IDC_LBLSOURCE)), Utf8Path(c.folder / "a.img"));
    Click(program.Control(IDC_CMDEXTRACT));
    ASSERT_TRUE(program.WaitForCaption(kDoneCaption)) << program.Caption();
    SaveScreenshot(program.Window(), std::string("unicode-") + c.name);
    EXPECT_EQ(Text(program.Control(IDC_LBLDESTINATION)), Utf8Path(out) + "\\");
    EXPECT_EQ(ReadBytes(Long(out / "alpha.txt")), data.substr(0, 2048));
    EXPECT_EQ(ReadBytes(Long(out / "sub" / "beta.bin")), data.substr(2048, 2048));
    EXPECT_EQ(ReadBytes(Long(out / file)), data.substr(4096));
  }
}

// "SectorSieve.exe [archive.img [folder]]": what a shortcut, "Open with" or a drop on the
// program's icon hands over takes the Browse buttons' checks, and no run starts by itself.
TEST(WindowCommandLine, FillsTheBoxesAsTheBrowseButtonsWould) {
  TempDir source;
  const Archive archive = WriteArchive(source);
  WriteBytes(source.path() / "lonely.img", PatternBytes(2048));
  WriteBytes(source.path() / "upper.IMG", PatternBytes(2048));
  WriteBytes(source.path() / "upper.dir", Record(0, 1, "a"));
  fs::create_directory(source.path() / "out");
  const std::string out = (source.path() / "out").string();
  const std::wstring folder = source.path().wstring();
  const struct {
    const char* name;
    std::wstring args, workingFolder;
    std::string sourceBox, destinationBox, boxTitle;
  } cases[] = {
      {"full-paths", Quoted({folder + L"\\sample.img", folder + L"\\out"}), L"", archive.img, out,
       ""},
      {"relative-paths", L"sample.img out", folder, archive.img, out, ""},
      {"missing-dir", L"lonely.img", folder, "[Select an img]", "[Select destination directory]",
       "File not found"},
      {"upper-case-extension", L"upper.IMG out", folder, "[Select an img]", out, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Program program(c.args, c.workingFolder);
    ASSERT_TRUE(program.Started());
    if (!c.boxTitle.empty()) {
      EXPECT_EQ(AnswerMessageBox(program.Window(), std::string("command-line-") + c.name).title,
                c.boxTitle);
    }
    ASSERT_TRUE(
        WaitUntil([&] { return Text(program.Control(IDC_LBLDESTINATION)) == c.destinationBox; }));
    EXPECT_EQ(Text(program.Control(IDC_LBLSOURCE)), c.sourceBox);
    SaveScreenshot(program.Window(), std::string("command-line-") + c.name);
    const bool both = c.sourceBox == archive.img && c.destinationBox == out;
    EXPECT_EQ(::IsWindowEnabled(program.Control(IDC_CMDEXTRACT)) != FALSE, both);
    EXPECT_EQ(program.Caption(), "Orlep's Sectorsieve") << "no run starts by itself";
  }
}

TEST_F(WindowEndToEnd, EscapeStopsALongRunAndTheNextRunFinishes) {
  constexpr int kEntries = 3000;
  std::string records;
  for (int i = 0; i < kEntries; ++i) records += Record(i, 1, "e" + std::to_string(i) + ".bin");
  WriteBytes(source.path() / "long.dir", records);
  const std::string data = PatternBytes(std::size_t{kEntries} * 2048, 3);
  WriteBytes(source.path() / "long.img", data);
  ASSERT_TRUE(program.ChooseSource(source / "long.img"));
  ASSERT_TRUE(program.ChooseDestination(destination.path().string()));

  Click(program.Control(IDC_CMDEXTRACT));
  ASSERT_TRUE(WaitUntil([&] { return program.Caption().starts_with("Extracting : e2"); }))
      << program.Caption();
  // Escape reaches the window as a key, as the keyboard would send it.
  ::PostMessageW(program.Window(), WM_KEYDOWN, VK_ESCAPE, 0);
  ASSERT_TRUE(program.WaitForCaption("Extraction stopped")) << program.Caption();
  SaveScreenshot(program.Window(), "escape-stopped");
  for (int id : {IDC_CMDEXTRACT, IDC_CMDBROWSESOURCE, IDC_CMDBROWSEDESTINATION})
    EXPECT_TRUE(::IsWindowEnabled(program.Control(id))) << id;
  const auto written = ListTree(destination.path());
  EXPECT_LT(written.size(), std::size_t{kEntries});
  for (const std::string& name : written) {
    ASSERT_TRUE(name.starts_with("e") && name.ends_with(".bin")) << "left behind: " << name;
    const std::size_t i = std::stoul(name.substr(1));
    EXPECT_EQ(ReadBytes(destination.path() / name), data.substr(i * 2048, 2048)) << name;
  }

  Click(program.Control(IDC_CMDEXTRACT));
  ASSERT_TRUE(program.WaitForCaption(kDoneCaption)) << program.Caption();
  EXPECT_EQ(ListTree(destination.path()).size(), std::size_t{kEntries});
}

// The window started with an archive and a folder on its command line; Extract clicked.
void ExtractFromCommandLine(Program& program) {
  ASSERT_TRUE(program.Started());
  ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(program.Control(IDC_CMDEXTRACT)); }));
  Click(program.Control(IDC_CMDEXTRACT));
}

TEST(WindowLinks, AnEntryThroughALinkedFolderIsRefusedWithItsBoxAndNothingLandsOutside) {
  TempDir root;
  const fs::path out = root.path() / "out";
  const fs::path away = root.path() / "away";
  fs::create_directories(out / "sub");
  fs::create_directory(away);
  MakeUnixLink(away, out / "lnk");
  WriteBytes(root.path() / "a.img", PatternBytes(2 * 2048, 5));
  WriteBytes(root.path() / "a.dir", Record(0, 1, "lnk\\evil.txt") + Record(1, 1, "sub\\ok.txt"));
  Program program(Quoted({(root.path() / "a.img").wstring(), out.wstring()}));
  ExtractFromCommandLine(program);

  const MessageBoxSeen box = AnswerMessageBox(program.Window(), "link-refused");
  EXPECT_EQ(box.title, "Extraction errors");
  EXPECT_NE(box.text.find("lnk\\evil.txt: is not written through \"" + out.string() + "\\lnk\""),
            std::string::npos)
      << box.text;
  EXPECT_TRUE(program.WaitForCaption("Extracted with 1 error(s)")) << program.Caption();
  EXPECT_TRUE(fs::is_empty(away));
  EXPECT_EQ(ReadBytes(out / "sub" / "ok.txt"), PatternBytes(2 * 2048, 5).substr(2048));
}

// A link "sub." leads outside. "sub..\\x" and "sub...\\y" are read as "sub\\x" and "sub\\y" in a
// short path and literally past 260 characters: neither way leads through the link.
TEST(WindowLinks, ADottedLinkIsNoWayOutAtAnyLength) {
  for (const std::size_t length : {std::size_t{0}, std::size_t{300}}) {
    SCOPED_TRACE(length);
    TempDir root;
    fs::path out = root.path() / "out";
    while (out.wstring().size() < length) {
      const std::size_t rest = length - out.wstring().size();
      // Folders of ordinary length, at which the box's text can wrap.
      out /= std::wstring(rest <= 41 ? rest - 1 : std::min<std::size_t>(40, rest - 3), L'd');
    }
    fs::create_directories(Long(out));
    const fs::path away = root.path() / "away";
    fs::create_directory(away);
    MakeUnixLink(away, Long(out / "sub."));
    const std::string data = PatternBytes(3 * 2048, 5);
    WriteBytes(root.path() / "a.img", data);
    WriteBytes(root.path() / "a.dir",
               Record(0, 1, "sub..\\x") + Record(1, 1, "sub...\\y") + Record(2, 1, "ok.txt"));
    Program program(Quoted({(root.path() / "a.img").wstring(), out.wstring()}));
    ExtractFromCommandLine(program);

    const MessageBoxSeen box =
        AnswerMessageBox(program.Window(), "dotted-link-" + std::to_string(length));
    EXPECT_EQ(box.title, "Extraction errors");
    EXPECT_NE(box.text.find("sub..\\x: could not be saved as"), std::string::npos) << box.text;
    EXPECT_NE(box.text.find("sub...\\y: could not be saved as"), std::string::npos) << box.text;
    EXPECT_TRUE(program.WaitForCaption("Extracted with 2 error(s)")) << program.Caption();
    EXPECT_TRUE(fs::is_empty(away));
    EXPECT_EQ(ReadBytes(Long(out / "ok.txt")), data.substr(4096));
  }
}

// An archive extracted into its own folder keeps its files, whatever its entries are named.
TEST(WindowArchiveItself, EntriesNamedLikeTheArchiveAreRefusedWithTheirBox) {
  TempDir root;
  const std::string records = Record(0, 1, "a.img") + Record(1, 1, "A.DIR") + Record(2, 1, "b");
  const std::string data = PatternBytes(3 * 2048, 6);
  WriteBytes(root.path() / "a.img", data);
  WriteBytes(root.path() / "a.dir", records);
  Program program(Quoted({(root.path() / "a.img").wstring(), root.path().wstring()}));
  ExtractFromCommandLine(program);

  const MessageBoxSeen box = AnswerMessageBox(program.Window(), "archive-itself");
  EXPECT_EQ(box.title, "Extraction errors");
  EXPECT_NE(box.text.find("a.img: would replace the archive being read"), std::string::npos)
      << box.text;
  EXPECT_NE(box.text.find("A.DIR: would replace the archive being read"), std::string::npos)
      << box.text;
  EXPECT_TRUE(program.WaitForCaption("Extracted with 2 error(s)")) << program.Caption();
  EXPECT_EQ(ReadBytes(root.path() / "a.img"), data);
  EXPECT_EQ(ReadBytes(root.path() / "a.dir"), records);
  EXPECT_EQ(ReadBytes(root.path() / "b"), data.substr(4096));
}

TEST(WindowCase, HundredsOfPairsOfTwoSpellingsEndWithTheLaterEntries) {
  if (::GetACP() != 1252) GTEST_SKIP() << "the names are spelled in code page 1252";
  constexpr int kPairs = 300;
  TempDir root;
  fs::create_directory(root.path() / "out");
  std::string records;
  for (int i = 0; i < kPairs; ++i) {
    const std::string n = std::to_string(1000 + i).substr(1);
    records +=
        Record(2 * i, 1, "caf\xE9" + n + ".bin") + Record(2 * i + 1, 1, "CAF\xC9" + n + ".BIN");
  }
  const std::string data = PatternBytes(2 * kPairs * 2048, 9);
  WriteBytes(root.path() / "pairs.img", data);
  WriteBytes(root.path() / "pairs.dir", records);
  Program program(Quoted({(root.path() / "pairs.img").wstring(), (root.path() / "out").wstring()}));
  ExtractFromCommandLine(program);

  ASSERT_TRUE(program.WaitForCaption(kDoneCaption)) << program.Caption();
  SaveScreenshot(program.Window(), "two-spellings");
  // A message box would disable the window it belongs to.
  ::Sleep(500);
  EXPECT_TRUE(::IsWindowEnabled(program.Window())) << "no box after success";
  const std::string out = (root.path() / "out").string() + "\\";
  for (int i = 0; i < kPairs; ++i) {
    const std::string n = std::to_string(1000 + i).substr(1);
    const auto file = SystemFileSystem().OpenRead(out + "caf\u00E9" + n + ".bin");
    std::string bytes(2048, '\0');
    file->ReadAt(0, bytes.data(), bytes.size());
    EXPECT_EQ(bytes, data.substr((2 * i + 1) * 2048, 2048)) << i;
  }
  EXPECT_EQ(ListTree(root.path() / "out").size(), std::size_t{kPairs});
}

TEST_F(WindowEndToEnd, RefusesAnImgWithoutItsDir) {
  TempDir folder;
  WriteBytes(folder.path() / "lonely.img", PatternBytes(2048));

  Click(program.Control(IDC_CMDBROWSESOURCE));
  const HWND dialog = WaitForDialog(program.Window());
  ASSERT_NE(dialog, nullptr);
  TypeFileName(dialog, folder / "lonely.img");
  Click(::GetDlgItem(dialog, IDOK));
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(dialog); }));
  const MessageBoxSeen box = AnswerMessageBox(program.Window(), "file-not-found");

  EXPECT_EQ(box.title, "File not found");
  EXPECT_EQ(box.text,
            "The associated .dir was not found.\r\n"
            "Please specify a .img with a .dir of the same name in the same folder.");
  EXPECT_EQ(box.buttons, 1);
  EXPECT_FALSE(box.icon);
  EXPECT_EQ(Text(program.Control(IDC_LBLSOURCE)), "[Select an img]");
  EXPECT_FALSE(::IsWindowEnabled(program.Control(IDC_CMDEXTRACT)));
}

TEST_F(WindowEndToEnd, AboutShowsTheProgramsVersion) {
  ::PostMessageW(program.Window(), WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
  const MessageBoxSeen box = AnswerMessageBox(program.Window(), "about");
  EXPECT_EQ(box.title, "About...");
  EXPECT_EQ(box.text.rfind("SectorSieve 1.0\r\n\r\n", 0), 0u) << box.text;
  EXPECT_EQ(box.buttons, 1);
  EXPECT_FALSE(box.icon);
  EXPECT_EQ(program.Caption(), "Orlep's Sectorsieve") << "the box changes nothing";
}

TEST_F(WindowEndToEnd, AboutDuringARunPausesItUntilClosed) {
  ASSERT_NO_FATAL_FAILURE(ChooseSample());

  // Both go into the queue in order: the run starts, and its first look at pending events
  // finds the menu command before any entry is written.
  Click(program.Control(IDC_CMDEXTRACT));
  ::PostMessageW(program.Window(), WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
  const HWND box = WaitForDialog(program.Window());
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(ListTree(destination.path()).empty()) << "nothing written while the box is open";
  for (int id : {IDC_CMDEXTRACT, IDC_CMDBROWSESOURCE, IDC_CMDBROWSEDESTINATION})
    EXPECT_FALSE(::IsWindowEnabled(program.Control(id))) << id;
  Click(::GetDlgItem(box, IDOK));

  ASSERT_TRUE(program.WaitForCaption(kDoneCaption)) << program.Caption();
  EXPECT_EQ(ListTree(destination.path()), Names(archive));
}

TEST_F(WindowEndToEnd, ClosingDuringARunEndsTheProgramBeforeTheNextEntry) {
  ASSERT_NO_FATAL_FAILURE(ChooseSample());

  Click(program.Control(IDC_CMDEXTRACT));
  ::PostMessageW(program.Window(), WM_CLOSE, 0, 0);

  EXPECT_EQ(program.ExitCode(), 0);
  EXPECT_TRUE(ListTree(destination.path()).empty());
}

struct QuitCase {
  const char* how;
  UINT message;
  WPARAM wParam;
};

class WindowQuits : public WindowEndToEnd, public ::testing::WithParamInterface<QuitCase> {};

TEST_P(WindowQuits, EndsTheProgramAtOnce) {
  ::PostMessageW(program.Window(), GetParam().message, GetParam().wParam, 0);
  EXPECT_EQ(program.ExitCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(Ways, WindowQuits,
                         ::testing::Values(QuitCase{"FileQuit", WM_COMMAND, IDM_QUIT},
                                           QuitCase{"CloseBox", WM_SYSCOMMAND, SC_CLOSE},
                                           QuitCase{"Close", WM_CLOSE, 0}),
                         [](const auto& info) { return std::string(info.param.how); });

// The contents window of a running program, read and driven from outside: requests that carry
// pointers go through memory inside the program's process.
class Contents {
 public:
  explicit Contents(const Program& program) : program_(program) {}

  // File > Contents..., as the menu sends it; true once the window shows its list.
  bool Open() {
    ::PostMessageW(program_.Window(), WM_COMMAND, MAKEWPARAM(IDM_CONTENTS, 0), 0);
    return WaitUntil([&] {
      window_ = ::FindWindowW(SECTORSIEVE_CONTENTS_CLASS, nullptr);
      return window_ && ::IsWindowVisible(window_) &&
             ::IsWindowEnabled(Control(IDC_CONTENTS_EXTRACT));
    });
  }
  HWND Window() const { return window_; }
  HWND Control(int id) const { return ::GetDlgItem(window_, id); }

  int Rows() const {
    DWORD_PTR count = 0;
    ::SendMessageTimeoutW(Control(IDC_CONTENTS_LIST), LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG,
                          kAnswerMilliseconds, &count);
    return static_cast<int>(count);
  }

  std::string Cell(int row, int column) const {
    constexpr int kRoom = 300;
    RemoteBuffer remote(program_.Process(), sizeof(LVITEMW) + kRoom * sizeof(wchar_t));
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(remote.get() + sizeof item);
    item.cchTextMax = kRoom;
    wchar_t text[kRoom + 1] = {};
    DWORD_PTR ignored = 0;
    if (!remote.get() ||
        !::WriteProcessMemory(program_.Process(), remote.get(), &item, sizeof item, nullptr) ||
        !::SendMessageTimeoutW(Control(IDC_CONTENTS_LIST), LVM_GETITEMTEXTW, row,
                               reinterpret_cast<LPARAM>(remote.get()), SMTO_ABORTIFHUNG,
                               kAnswerMilliseconds, &ignored) ||
        !::ReadProcessMemory(program_.Process(), item.pszText, text, kRoom * sizeof(wchar_t),
                             nullptr))
      return "(unread)";
    return Utf8(text).value_or("(not UTF-16)");
  }

  // The list as shown: one vector of cell texts per row.
  std::vector<std::vector<std::string>> Table() const {
    std::vector<std::vector<std::string>> rows;
    for (int row = 0; row < Rows(); ++row) {
      rows.emplace_back();
      for (int column = 0; column < 5; ++column) rows.back().push_back(Cell(row, column));
    }
    return rows;
  }

  // A click on a column's header, with the mouse.
  void ClickColumn(int column) const {
    const HWND header = Header();
    const RECT r = Send(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), RECT{});
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    const int rows = Rows();
    const std::string before = Cell(0, 0) + Cell(rows - 1, 0) + Cell(rows / 2, 0);
    ::PostMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::PostMessageW(header, WM_LBUTTONUP, 0, at);
    // The click is taken once the rows or the arrow changed.
    const int arrow = SortArrow(column);
    WaitUntil([&] {
      return SortArrow(column) != arrow ||
             Cell(0, 0) + Cell(rows - 1, 0) + Cell(rows / 2, 0) != before;
    });
  }

  // The header's arrow over column: 1 up, -1 down, 0 none.
  int SortArrow(int column) const {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    const HWND header =
        reinterpret_cast<HWND>(::SendMessageW(Control(IDC_CONTENTS_LIST), LVM_GETHEADER, 0, 0));
    item = Send(header, HDM_GETITEMW, static_cast<WPARAM>(column), item);
    return item.fmt & HDF_SORTUP ? 1 : item.fmt & HDF_SORTDOWN ? -1 : 0;
  }

  // Selects row, or every row (-1), or takes the selection away.
  void Select(int row, bool selected = true) const {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED;
    item.state = selected ? LVIS_SELECTED : 0;
    Send(Control(IDC_CONTENTS_LIST), LVM_SETITEMSTATE, static_cast<WPARAM>(row), item);
  }

  // key pressed in the list with modifier (VK_SHIFT, VK_CONTROL) held, as a user presses them:
  // held in the input state this thread shares with the program's while the list takes the key.
  // done says when the key was taken; its answer is returned.
  template <typename Done>
  bool Press(WPARAM key, int modifier, Done done) const {
    const HWND list = Control(IDC_CONTENTS_LIST);
    const DWORD theirs = ::GetWindowThreadProcessId(list, nullptr);
    if (!::AttachThreadInput(::GetCurrentThreadId(), theirs, TRUE)) return false;
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[modifier] |= 0x80;
    ::SetKeyboardState(keys);
    ::PostMessageW(list, WM_KEYDOWN, key, 0);
    const bool taken = done();
    keys[modifier] &= 0x7F;
    ::SetKeyboardState(keys);
    ::AttachThreadInput(::GetCurrentThreadId(), theirs, FALSE);
    return taken;
  }
  // Row scrolled into view, as little as it takes.
  bool ShowRow(int row) const {
    DWORD_PTR ignored = 0;
    return ::SendMessageTimeoutW(Control(IDC_CONTENTS_LIST), LVM_ENSUREVISIBLE,
                                 static_cast<WPARAM>(row), FALSE, SMTO_ABORTIFHUNG,
                                 kAnswerMilliseconds, &ignored) != 0;
  }
  // A click on row, shown, with the keys given (MK_SHIFT, or none), as the mouse sends it.
  void Click(int row, WPARAM keys) const {
    const HWND list = Control(IDC_CONTENTS_LIST);
    RECT r{};
    r.left = LVIR_LABEL;
    r = Send(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), r);
    const LPARAM at = MAKELPARAM(r.left + 4, (r.top + r.bottom) / 2);
    ::PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON | keys, at);
    ::PostMessageW(list, WM_LBUTTONUP, keys, at);
  }
  // What the list control says of its selection and its view.
  int SelectedCount() const { return ListSays(LVM_GETSELECTEDCOUNT, 0, 0); }
  int FirstSelected() const {
    return ListSays(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
  }
  int TopRow() const { return ListSays(LVM_GETTOPINDEX, 0, 0); }

  std::string Status(int part) const {
    constexpr int kRoom = 512;
    RemoteBuffer remote(program_.Process(), kRoom * sizeof(wchar_t));
    wchar_t text[kRoom + 1] = {};
    DWORD_PTR ignored = 0;
    if (!remote.get() ||
        !::SendMessageTimeoutW(Control(IDC_CONTENTS_STATUS), SB_GETTEXTW, static_cast<WPARAM>(part),
                               reinterpret_cast<LPARAM>(remote.get()), SMTO_ABORTIFHUNG,
                               kAnswerMilliseconds, &ignored) ||
        !::ReadProcessMemory(program_.Process(), remote.get(), text, kRoom * sizeof(wchar_t),
                             nullptr))
      return "(unread)";
    return Utf8(text).value_or("(not UTF-16)");
  }

  void Filter(const std::string& text) const {
    const std::wstring wide = Utf16(text);
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(Control(IDC_CONTENTS_FILTER), WM_SETTEXT, 0,
                          reinterpret_cast<LPARAM>(wide.c_str()), SMTO_ABORTIFHUNG,
                          kAnswerMilliseconds, &ignored);
  }

 private:
  HWND Header() const {
    return reinterpret_cast<HWND>(::SendMessageW(Control(IDC_CONTENTS_LIST), LVM_GETHEADER, 0, 0));
  }
  int ListSays(UINT message, WPARAM wParam, LPARAM lParam) const {
    DWORD_PTR answer = static_cast<DWORD_PTR>(-2);
    ::SendMessageTimeoutW(Control(IDC_CONTENTS_LIST), message, wParam, lParam, SMTO_ABORTIFHUNG,
                          kAnswerMilliseconds, &answer);
    return static_cast<int>(answer);
  }
  // Sends message with a copy of value in the program's memory; returns the copy as it is after.
  template <typename Value>
  Value Send(HWND to, UINT message, WPARAM wParam, Value value) const {
    RemoteBuffer remote(program_.Process(), sizeof value);
    DWORD_PTR ignored = 0;
    if (!remote.get() ||
        !::WriteProcessMemory(program_.Process(), remote.get(), &value, sizeof value, nullptr) ||
        !::SendMessageTimeoutW(to, message, wParam, reinterpret_cast<LPARAM>(remote.get()),
                               SMTO_ABORTIFHUNG, kAnswerMilliseconds, &ignored) ||
        !::ReadProcessMemory(program_.Process(), remote.get(), &value, sizeof value, nullptr))
      ADD_FAILURE() << "message " << message << " did not reach the program";
    return value;
  }

  const Program& program_;
  HWND window_ = nullptr;
};

// `sectorsieve list --json ARCHIVE [NAME...]` as the rows the contents window shows: index,
// name, size and offset with their thousands grouped, and the refusal.
std::vector<std::vector<std::string>> Listed(const std::vector<std::string>& args) {
  const Output listed = RunProgram(args);
  const std::regex line(
      R"re(\{"index": (\d+), "name": "([^"]*)", "bytes": "[0-9a-f]*", "offset": (\d+), "size": (\d+), "refusal": (null|"([^"]*)")\})re");
  const auto grouped = [](std::string digits) {
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
  };
  std::vector<std::vector<std::string>> rows;
  for (auto it = std::sregex_iterator(listed.out.begin(), listed.out.end(), line);
       it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    rows.push_back({m[1], m[2], grouped(m[4]), grouped(m[3]), m[6]});
  }
  return rows;
}

// The same for the archive WriteContentsArchive writes, whose first entry the last replaces:
// `check` says so, and the window's Status column too.
std::vector<std::vector<std::string>> ListedContents(const std::vector<std::string>& args) {
  auto rows = Listed(args);
  for (auto& row : rows)
    if (row[0] == "0") row[4] = "replaced by a later entry";
  return rows;
}

// Thirty entries of two kinds of names, one beyond the end of the data file and one that
// replaces the first (the same name in capitals).
std::string WriteContentsArchive(const TempDir& folder) {
  std::string records;
  for (int i = 0; i < 30; ++i)
    records +=
        Record(i, (i * 7) % 4,
               (i % 3 ? "data" : "Doc") + std::to_string(29 - i) + (i % 2 ? ".txt" : ".bin"));
  records += Record(100, 1, "late.bin") + Record(35, 1, "DOC29.BIN");
  WriteBytes(folder.path() / "many.dir", records);
  WriteBytes(folder.path() / "many.img", PatternBytes(40 * 2048, 11));
  return folder / "many.img";
}

// Every file of folder and its bytes.
std::map<std::string, std::string> Files(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const std::string& name : ListTree(folder)) files[name] = ReadBytes(folder / name);
  return files;
}

// A program to start before the contents window that reads it: the first base of OpenContents.
struct StartedProgram {
  explicit StartedProgram(const std::wstring& args) : program(args) {}
  Program program;
};

// The contents window of the program started with img (and destination) on its command line.
class OpenContents : public StartedProgram, public Contents {
 public:
  explicit OpenContents(const std::string& archive, const fs::path& destination = {})
      : StartedProgram(destination.empty() ? Quoted({Utf16(archive)})
                                           : Quoted({Utf16(archive), destination.wstring()})),
        Contents(program),
        img(archive) {
    if (!program.Started())
      failed = "SectorSieve.exe did not come up";
    else if (!WaitUntil([&] {
               return Text(program.Control(IDC_LBLSOURCE)) == img &&
                      (destination.empty() || ::IsWindowEnabled(program.Control(IDC_CMDEXTRACT)));
             }))
      failed = "the boxes were not filled from the command line";
    else if (!Open())
      failed = "the contents window did not open";
  }
  // On the archive WriteContentsArchive writes into folder.
  explicit OpenContents(const TempDir& folder, const fs::path& destination = {})
      : OpenContents(WriteContentsArchive(folder), destination) {}

  const std::string img;
  std::string failed;  // the step that did not happen, or ""
};

TEST(ContentsWindow, OpensFromTheMenuOnceAnArchiveIsChosen) {
  {
    Program program;
    ASSERT_TRUE(program.Started());
    // Menus belong to the program's process: what counts is that the command opens nothing.
    ::PostMessageW(program.Window(), WM_COMMAND, MAKEWPARAM(IDM_CONTENTS, 0), 0);
    ::Sleep(500);
    EXPECT_EQ(::FindWindowW(SECTORSIEVE_CONTENTS_CLASS, nullptr), nullptr);
  }
  TempDir source;
  const OpenContents contents(source);
  ASSERT_EQ(contents.failed, "");
  const Program& program = contents.program;
  EXPECT_EQ(WindowUtf8Text(contents.Window()), "many.img - Contents");
  EXPECT_EQ(::GetWindow(contents.Window(), GW_OWNER), program.Window());
  EXPECT_EQ(contents.Table(), ListedContents({"list", "--json", contents.img}));
  EXPECT_EQ(Text(contents.Control(IDC_CONTENTS_COUNT)), "32 entries");
  // Sectors 0, 4, ... 28, 32 to 34 and 36 to 39 belong to no entry: 15 of 40.
  EXPECT_EQ(contents.Status(1), "1 refused, 1 replaced; 37.5% of the data file unused");
  EXPECT_EQ(contents.Cell(0, 4), "replaced by a later entry");
  EXPECT_EQ(contents.SortArrow(0), 1);
  std::vector<int> tabOrder;
  for (HWND child = ::GetWindow(contents.Window(), GW_CHILD); child;
       child = ::GetWindow(child, GW_HWNDNEXT))
    if (::GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) tabOrder.push_back(::GetDlgCtrlID(child));
  EXPECT_EQ(tabOrder,
            (std::vector<int>{IDC_CONTENTS_FILTER, IDC_CONTENTS_LIST, IDC_CONTENTS_EXTRACT}));
  SaveScreenshot(contents.Window(), "contents");

  // Escape closes it; the main window stays as it was.
  ::PostMessageW(contents.Window(), WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(contents.Window()); }));
  EXPECT_TRUE(::IsWindowVisible(program.Window()));
  EXPECT_EQ(program.Caption(), "Orlep's Sectorsieve");
  EXPECT_EQ(ListTree(source.path()), (std::set<std::string>{"many.dir", "many.img"}))
      << "opening it changes nothing on disk";
}

TEST(ContentsWindow, SortsByEachColumnWithTheNameSecond) {
  TempDir source;
  const OpenContents contents(source);
  ASSERT_EQ(contents.failed, "");
  const auto listed = Listed({"list", "--json", contents.img});
  const auto number = [](std::string text) {
    std::erase(text, ',');
    return std::stoll(text);
  };
  const auto upper = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
  };
  for (const int column : {1, 2, 3, 4, 0}) {
    SCOPED_TRACE(column);
    for (const bool again : {false, true}) {
      contents.ClickColumn(column);
      const auto rows = contents.Table();
      ASSERT_EQ(rows.size(), listed.size());
      const bool descending = again;
      EXPECT_EQ(contents.SortArrow(column), descending ? -1 : 1);
      // Each row against the next: the column's order, then the name's, then the index's.
      for (std::size_t r = 0; r + 1 < rows.size(); ++r) {
        const auto& a = rows[r];
        const auto& b = rows[r + 1];
        const auto key = [&](const std::vector<std::string>& row) {
          const bool numeric = column == 0 || column == 2 || column == 3;
          return std::tuple(numeric ? number(row[column]) : 0, column == 4 ? row[4] : std::string(),
                            upper(row[1]), number(row[0]));
        };
        const auto ka = key(a);
        const auto kb = key(b);
        const bool primaryEqual = std::get<0>(ka) == std::get<0>(kb) &&
                                  std::get<1>(ka) == std::get<1>(kb) &&
                                  (column != 1 || std::get<2>(ka) == std::get<2>(kb));
        if (!descending || primaryEqual)
          EXPECT_LT(ka, kb) << r;
        else
          EXPECT_GT(std::tuple(std::get<0>(ka), std::get<1>(ka), std::get<2>(ka)),
                    std::tuple(std::get<0>(kb), std::get<1>(kb), std::get<2>(kb)))
              << r;
      }
    }
  }
  SaveScreenshot(contents.Window(), "contents-sorted");
}

TEST(ContentsWindow, FiltersSelectsAndExtractsAsTheCommandLineDoes) {
  TempDir source;
  TempDir out;
  TempDir reference;
  const OpenContents contents(source, out.path());
  ASSERT_EQ(contents.failed, "");
  const std::string& img = contents.img;
  const Program& program = contents.program;

  for (const std::string filter : {"*.txt", "doc2?.* late.bin", "nothing", "DATA1?.*"}) {
    SCOPED_TRACE(filter);
    std::vector<std::string> args = {"list", "--json", img};
    for (std::size_t start = 0; start < filter.size();) {
      const std::size_t end = std::min(filter.find(' ', start), filter.size());
      args.push_back(filter.substr(start, end - start));
      start = end + 1;
    }
    const auto listed = ListedContents(args);
    contents.Filter(filter);
    ASSERT_TRUE(WaitUntil([&] {
      return Text(contents.Control(IDC_CONTENTS_COUNT)) ==
             std::to_string(listed.size()) + " of 32 entries";
    })) << Text(contents.Control(IDC_CONTENTS_COUNT));
    EXPECT_EQ(contents.Table(), listed);
  }
  // data19.bin to data10.txt, and two of them picked.
  ASSERT_EQ(contents.Rows(), 7);
  contents.Select(1);
  contents.Select(4);
  const std::string first = contents.Cell(1, 1);
  const std::string second = contents.Cell(4, 1);
  EXPECT_EQ(contents.Status(0).substr(0, 11), "2 selected,");
  SaveScreenshot(contents.Window(), "contents-filtered");
  Click(contents.Control(IDC_CONTENTS_EXTRACT));
  ASSERT_TRUE(program.WaitForCaption(kDoneCaption)) << program.Caption();
  EXPECT_EQ(RunProgram({"extract", img, reference.path().string(), first, second}).status, 0);
  EXPECT_EQ(Files(out.path()), Files(reference.path()));
  EXPECT_EQ(Files(out.path()).size(), 2u);

  // Changed from outside: Extract reads the archive again, keeps the picks by name and takes
  // them from the new reading.
  fs::remove(out.path() / first);
  fs::remove(out.path() / second);
  WriteBytes(source.path() / "added.txt", PatternBytes(3000, 4));
  ASSERT_EQ(RunProgram({"add", img, (source.path() / "added.txt").string()}).status, 0);
  Click(contents.Control(IDC_CONTENTS_EXTRACT));
  EXPECT_TRUE(WaitUntil([&] { return ListTree(out.path()).size() == 2; }));
  EXPECT_TRUE(WaitUntil([&] {
    return contents.Status(0).find("Changed on disk: read again.") != std::string::npos;
  })) << contents.Status(0);
  EXPECT_EQ(Files(out.path()), Files(reference.path()));
  contents.Filter("");
  EXPECT_TRUE(
      WaitUntil([&] { return Text(contents.Control(IDC_CONTENTS_COUNT)) == "33 entries"; }));
}

// A change from the command line while the window is open shows once the window is activated.
struct RangeCase {
  const char* name;
  int row;       // clicked, or where the key goes from
  WPARAM keys;   // with the click
  WPARAM key;    // pressed with Shift instead of a click, or 0
  int selected;  // rows selected after it, as the status bar says it too
  const char* says;
  int first;  // the first of them
};

// With many rows selected, or many to select, the window changes the selection itself where the
// list control would change it a row at a time: each click or key still leaves what it leaves in
// any list, and a click leaves the view where it was.
TEST(ContentsWindow, ClicksAndShiftSelectAsInAnyListWithManyRows) {
  constexpr int kEntries = 3000;
  TempDir source;
  std::string records;
  for (int i = 0; i < kEntries; ++i) records += Record(i, 1, "e" + std::to_string(i) + ".bin");
  WriteBytes(source.path() / "many.dir", records);
  WriteBytes(source.path() / "many.img", PatternBytes(kEntries * 2048, 5));
  const OpenContents contents((source.path() / "many.img").string());
  ASSERT_EQ(contents.failed, "");
  const RangeCase cases[] = {
      {"a plain click on one of all rows selected", 1500, 0, 0, 1, "1 selected", 1500},
      {"Shift and a click, from the row clicked before", 2500, MK_SHIFT, 0, 1001, "1,001 selected",
       1500},
      {"a plain click on a row not selected", 100, 0, 0, 1, "1 selected", 100},
      {"Shift+End from there", 100, 0, VK_END, 2900, "2,900 selected", 100},
      {"Shift+Up, from the last row", 2999, 0, VK_UP, 2899, "2,899 selected", 100},
      {"Shift+Home", 2998, 0, VK_HOME, 101, "101 selected", 0},
  };
  contents.Select(-1);
  ASSERT_TRUE(WaitUntil([&] { return contents.Status(0).starts_with("3,000 selected"); }))
      << contents.Status(0);
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(contents.ShowRow(c.row));
    const int top = contents.TopRow();
    const auto shown = [&] { return contents.Status(0).starts_with(c.says); };
    if (c.key) {
      EXPECT_TRUE(contents.Press(c.key, VK_SHIFT, [&] { return WaitUntil(shown); }))
          << contents.Status(0);
    } else {
      contents.Click(c.row, c.keys);
      EXPECT_TRUE(WaitUntil(shown)) << contents.Status(0);
      EXPECT_EQ(contents.TopRow(), top) << "the view stays where it was";
    }
    EXPECT_EQ(contents.SelectedCount(), c.selected);
    EXPECT_EQ(contents.FirstSelected(), c.first);
  }
  SaveScreenshot(contents.Window(), "contents-range");
}

TEST(ContentsWindow, ReadsTheArchiveAgainWhenActivatedAfterAChange) {
  TempDir source;
  const OpenContents contents(source);
  ASSERT_EQ(contents.failed, "");
  ASSERT_EQ(RunProgram({"remove", contents.img, "data*.txt"}).status, 0);
  ::PostMessageW(contents.Window(), WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_TRUE(WaitUntil([&] { return Text(contents.Control(IDC_CONTENTS_COUNT)) == "22 entries"; }))
      << Text(contents.Control(IDC_CONTENTS_COUNT));
  EXPECT_EQ(contents.Status(0), "Changed on disk: read again.");
  EXPECT_EQ(contents.Table(), ListedContents({"list", "--json", contents.img}));
}

// What the status bar's first part says from start on, once it says it, after what is selected.
std::string StatusOnce(const Contents& contents, const std::string& start) {
  std::string status;
  WaitUntil([&] {
    status = contents.Status(0);
    return status.find(start) != std::string::npos;
  });
  const std::size_t at = status.find(start);
  return at == std::string::npos ? status : status.substr(at);
}

// The same change made through the window on one copy of an archive and by the command line on
// another: both copies list alike and hold the same bytes.
class ContentsChange : public ::testing::Test {
 protected:
  void SetUp() override {
    twin = WriteContentsArchive(command);
    contents.emplace(window);
    img = contents->img;
    ASSERT_EQ(contents->failed, "");
  }
  // replaced: the archive still holds the entry that a later one replaces.
  void ExpectAlike(bool replaced = true) {
    EXPECT_EQ(Listed({"list", "--json", img}), Listed({"list", "--json", twin}));
    EXPECT_EQ(ReadBytes(window.path() / "many.dir"), ReadBytes(command.path() / "many.dir"));
    EXPECT_EQ(ReadBytes(window.path() / "many.img"), ReadBytes(command.path() / "many.img"));
    EXPECT_EQ(contents->Table(),
              replaced ? ListedContents({"list", "--json", img}) : Listed({"list", "--json", img}));
  }
  // Types name into the box that F2 opens over the row selected, then presses key there, if any.
  void Rename(int row, const std::string& name, WPARAM key = VK_RETURN) {
    contents->Select(row);
    ::PostMessageW(contents->Control(IDC_CONTENTS_LIST), WM_KEYDOWN, VK_F2, 0);
    ASSERT_TRUE(WaitUntil([&] { return contents->Control(IDC_CONTENTS_RENAME) != nullptr; }));
    const HWND box = contents->Control(IDC_CONTENTS_RENAME);
    EXPECT_EQ(Text(box), contents->Cell(row, 1));
    const std::wstring wide = Utf16(name);
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()),
                          SMTO_ABORTIFHUNG, kAnswerMilliseconds, &ignored);
    SaveScreenshot(contents->Window(), "contents-rename");
    if (!key) return;  // left open
    ::PostMessageW(box, WM_KEYDOWN, key, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(box); }));
  }

  TempDir window;
  TempDir command;
  std::string img;
  std::string twin;
  std::optional<OpenContents> contents;
};

TEST_F(ContentsChange, RemovesTheEntriesOfEveryNameSelectedAfterOneQuestion) {
  // Row 0 and row 31 have one name in two spellings: both go.
  const std::string first = contents->Cell(0, 1);
  const std::string second = contents->Cell(5, 1);
  contents->Select(0);
  contents->Select(5);
  ::PostMessageW(contents->Control(IDC_CONTENTS_LIST), WM_KEYDOWN, VK_DELETE, 0);
  MessageBoxSeen box = AnswerMessageBox(contents->Window(), "contents-remove", IDNO);
  EXPECT_EQ(box.title, "Remove");
  EXPECT_EQ(box.text, "Remove 3 entries from many.img? This cannot be undone.");
  EXPECT_EQ(box.buttons, 2);
  EXPECT_EQ(Listed({"list", "--json", img}), Listed({"list", "--json", twin})) << "No leaves all";

  ::PostMessageW(contents->Window(), WM_COMMAND, MAKEWPARAM(IDM_CONTENTS_REMOVE, 0), 0);
  box = AnswerMessageBox(contents->Window(), "contents-remove", IDYES);
  EXPECT_EQ(box.text, "Remove 3 entries from many.img? This cannot be undone.");
  EXPECT_EQ(StatusOnce(*contents, "Removed"), "Removed 3 entries.");
  ASSERT_EQ(RunProgram({"remove", twin, first, second}).status, 0);
  ExpectAlike(false);
  SaveScreenshot(contents->Window(), "contents-removed");
}

TEST_F(ContentsChange, RenamesInPlaceAndRefusesANameRenameRefusesOrThatIsTaken) {
  const std::string old = contents->Cell(3, 1);
  Rename(3, "renamed.bin");
  EXPECT_EQ(StatusOnce(*contents, "Renamed"), "Renamed \"" + old + "\" to \"renamed.bin\".");
  EXPECT_EQ(contents->Status(0),
            "1 selected, 2,048 bytes. Renamed \"" + old + "\" to \"renamed.bin\".")
      << "the entry keeps its selection under its new name";
  ASSERT_EQ(RunProgram({"rename", twin, old, "renamed.bin"}).status, 0);
  ExpectAlike();
  EXPECT_EQ(RunProgram({"extract", "--stdout", img, "renamed.bin"}).out,
            RunProgram({"extract", "--stdout", twin, "renamed.bin"}).out);

  struct Refused {
    std::string name;
    std::string title;
    std::string text;
  };
  const Refused refused[] = {
      {"two words", "Rename",
       "Nothing was renamed: \"two words\" cannot be an entry's name: its name holds a space."},
      {"a-name-longer-than-24.bin", "Rename",
       "Nothing was renamed: \"a-name-longer-than-24.bin\" cannot be an entry's name: its name "
       "is longer than 24 bytes."},
      {"LATE.BIN", "The archive was not changed", "\"LATE.BIN\" is already in the archive"},
  };
  for (const Refused& r : refused) {
    contents->Select(-1, false);
    Rename(2, r.name);
    const MessageBoxSeen box = AnswerMessageBox(contents->Window(), "contents-rename-refused");
    EXPECT_EQ(box.title, r.title);
    EXPECT_EQ(box.text, r.text);
    ExpectAlike();
  }

  // Escape, and closing the window, leave the name being edited as it was.
  contents->Select(-1, false);
  Rename(2, "escaped.bin", VK_ESCAPE);
  contents->Select(-1, false);
  Rename(2, "closed.bin", 0);
  ::PostMessageW(contents->Window(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(contents->Window()); }));
  ::Sleep(500);  // long enough for a rename that wrongly started to be made
  EXPECT_EQ(Listed({"list", "--json", img}), Listed({"list", "--json", twin}));
}

TEST_F(ContentsChange, CompactsAndSaysHowManyBytesItFreed) {
  const auto before = fs::file_size(window.path() / "many.img");
  ::PostMessageW(contents->Window(), WM_COMMAND, MAKEWPARAM(IDM_CONTENTS_COMPACT, 0), 0);
  const std::string said = StatusOnce(*contents, "Compacted");
  ASSERT_EQ(RunProgram({"compact", twin}).status, 0);
  const auto freed = static_cast<std::int64_t>(before - fs::file_size(window.path() / "many.img"));
  EXPECT_GT(freed, 0);
  std::string digits = std::to_string(freed);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  EXPECT_EQ(said, "Compacted: freed " + digits + " bytes.");
  ExpectAlike();
  EXPECT_EQ(ListTree(window.path()), (std::set<std::string>{"many.dir", "many.img"}));
}

// A change from the command line at the same time as the window's: both wait for the lock
// another holds, then each is made whole, one after the other.
TEST_F(ContentsChange, AndTheCommandLineChangingAtTheSameTimeTakeTurns) {
  auto lock = SystemFileSystem().LockArchive((window / "many"), {});
  ASSERT_NE(lock, nullptr);
  const std::string removed = contents->Cell(5, 1);
  const std::string renamed = contents->Cell(7, 1);
  contents->Select(5);
  ::PostMessageW(contents->Control(IDC_CONTENTS_LIST), WM_KEYDOWN, VK_DELETE, 0);
  EXPECT_EQ(AnswerMessageBox(contents->Window(), "contents-remove", IDYES).title, "Remove");
  EXPECT_EQ(StatusOnce(*contents, "Waiting"),
            "Waiting for another change of the archive to end (Escape gives up)...");
  int status = -1;
  std::thread command([&] { status = RunProgram({"rename", img, renamed, "other.bin"}).status; });
  ::Sleep(300);  // the command line, started, waits too
  lock.reset();
  command.join();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(StatusOnce(*contents, "Removed"), "Removed 1 entry.");
  ASSERT_EQ(RunProgram({"remove", twin, removed}).status, 0);
  ASSERT_EQ(RunProgram({"rename", twin, renamed, "other.bin"}).status, 0);
  // The window reads the archive again once its own change is made, which may be before the
  // command line's: activated, it notices the other.
  ::PostMessageW(contents->Window(), WM_ACTIVATE, WA_ACTIVE, 0);
  WaitUntil([&] { return contents->Table() == ListedContents({"list", "--json", img}); });
  ExpectAlike();
}

// Edit > Add files...: two files picked at once in the open-file dialog, one of which replaces
// an entry after the question.
TEST_F(ContentsChange, AddsTheFilesPickedInTheOpenFileDialog) {
  TempDir source;
  WriteBytes(source.path() / "one.bin", PatternBytes(5000, 4));
  WriteBytes(source.path() / "Data27.bin", PatternBytes(3000, 5));
  ::PostMessageW(contents->Window(), WM_COMMAND, MAKEWPARAM(IDM_CONTENTS_ADD, 0), 0);
  const HWND dialog = WaitForDialog(contents->Window());
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(WindowText(dialog), "Add files");
  TypeFileName(dialog, source.path().string() + "\\");
  Click(::GetDlgItem(dialog, IDOK));
  ::Sleep(500);
  TypeFileName(dialog, "\"one.bin\" \"Data27.bin\"");
  SaveScreenshot(dialog, "contents-add-dialog");
  Click(::GetDlgItem(dialog, IDOK));
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(dialog); }));
  const MessageBoxSeen box = AnswerMessageBox(contents->Window(), "contents-replace", IDYES);
  EXPECT_EQ(box.title, "Replace entries");
  EXPECT_EQ(box.text, "Replace 1 entry?\r\n\r\ndata27.bin");
  EXPECT_EQ(StatusOnce(*contents, "Added"), "Added 2 files: 1 new, 1 replaced.");
  EXPECT_EQ(contents->Status(0), "2 selected, 10,240 bytes. Added 2 files: 1 new, 1 replaced.");
  ASSERT_EQ(RunProgram({"add", twin, source / "one.bin", source / "Data27.bin"}).status, 0);
  ExpectAlike();
  EXPECT_EQ(RunProgram({"extract", "--stdout", img, "one.bin"}).out,
            PatternBytes(5000, 4) + std::string(3 * 2048 - 5000, '\0'));
}

// A change the window starts while another holds the archive's lock waits, says so, and is
// made once the other ends.
TEST_F(ContentsChange, WaitsForAChangeThatHoldsTheLock) {
  auto lock = SystemFileSystem().LockArchive((window / "many"), {});
  ASSERT_NE(lock, nullptr);
  const std::string old = contents->Cell(3, 1);
  Rename(3, "renamed.bin");
  EXPECT_EQ(StatusOnce(*contents, "Waiting"),
            "Waiting for another change of the archive to end (Escape gives up)...");
  lock.reset();
  EXPECT_EQ(StatusOnce(*contents, "Renamed"), "Renamed \"" + old + "\" to \"renamed.bin\".");
  ASSERT_EQ(RunProgram({"rename", twin, old, "renamed.bin"}).status, 0);
  ExpectAlike();

  // Escape gives up the wait, and the change with it.
  lock = SystemFileSystem().LockArchive((window / "many"), {});
  ::PostMessageW(contents->Window(), WM_COMMAND, MAKEWPARAM(IDM_CONTENTS_COMPACT, 0), 0);
  EXPECT_EQ(StatusOnce(*contents, "Waiting"),
            "Waiting for another change of the archive to end (Escape gives up)...");
  ::PostMessageW(contents->Window(), WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(StatusOnce(*contents, "Given up"), "Given up: the archive was not changed.");
  lock.reset();
  EXPECT_TRUE(::IsWindow(contents->Window()));
  ExpectAlike();
}

// A compact started from the window and cut short by the end of the program, at moments from
// its start to its end: the next command reads the archive as it was or as compact leaves it.
TEST(ContentsWindowKilled, DuringACompactLeavesTheArchiveAsBeforeOrAfter) {
  constexpr int kEntries = 1000;
  std::string records;
  for (int i = 0; i < kEntries; ++i)
    records += Record(i * 16, 8, "entry" + std::to_string(i) + ".bin");
  const std::string data = PatternBytes(std::size_t{kEntries} * 16 * 2048, 3);
  TempDir compacted;
  WriteBytes(compacted.path() / "big.dir", records);
  WriteBytes(compacted.path() / "big.img", data);
  const std::string before = RunProgram({"list", "--json", compacted / "big.img"}).out;
  ASSERT_EQ(RunProgram({"compact", compacted / "big.img"}).status, 0);
  const std::string after = RunProgram({"list", "--json", compacted / "big.img"}).out;
  const std::string afterData = ReadBytes(compacted.path() / "big.img");
  for (const int delay : {0, 30, 150, 600}) {
    TempDir folder;
    WriteBytes(folder.path() / "big.dir", records);
    WriteBytes(folder.path() / "big.img", data);
    const std::string img = folder / "big.img";
    {
      const OpenContents contents(img);
      ASSERT_EQ(contents.failed, "");
      ::PostMessageW(contents.Window(), WM_COMMAND, MAKEWPARAM(IDM_CONTENTS_COMPACT, 0), 0);
      ASSERT_TRUE(WaitUntil([&] { return contents.Status(0).starts_with("Compacting"); }));
      ::Sleep(static_cast<DWORD>(delay));
      ::TerminateProcess(contents.program.Process(), 1);
      ::WaitForSingleObject(contents.program.Process(), INFINITE);
    }
    const std::string listed = RunProgram({"list", "--json", img}).out;
    const std::string bytes = ReadBytes(folder.path() / "big.img");
    EXPECT_TRUE((listed == before && bytes == data) || (listed == after && bytes == afterData))
        << "killed " << delay << " ms in: " << bytes.size() << " bytes";
  }
}

// A million entries: the list fills once the archive is read, the filter finds one name, and
// Extract takes out that entry only.
TEST(ContentsWindow, FindsAndExtractsOneEntryOfAMillion) {
  constexpr int kRecords = 1000000;
  constexpr int kLongPolls = 20 * 180;  // 3 minutes
  TempDir source;
  TempDir out;
  const std::string picked = "entry765432.bin";
  {
    std::string records;
    records.reserve(std::size_t{kRecords} * 32);
    for (int i = 0; i < kRecords; ++i) {
      const std::string name = "entry" + std::to_string(i) + ".bin";
      records += Record(0, name == picked ? 1 : 0, name);
    }
    WriteBytes(source.path() / "million.dir", records);
  }
  const std::string data = PatternBytes(2048, 6);
  WriteBytes(source.path() / "million.img", data);
  Program program(L"\"" + Utf16(source / "million.img") + L"\" \"" + out.path().wstring() + L"\"");
  ASSERT_TRUE(program.Started());
  ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(program.Control(IDC_CMDEXTRACT)); }));
  Contents contents(program);
  ::PostMessageW(program.Window(), WM_COMMAND, MAKEWPARAM(IDM_CONTENTS, 0), 0);
  ASSERT_TRUE(WaitUntil(
      [&] {
        const HWND window = ::FindWindowW(SECTORSIEVE_CONTENTS_CLASS, nullptr);
        return window && Text(::GetDlgItem(window, IDC_CONTENTS_COUNT)) == "1,000,000 entries";
      },
      kLongPolls));
  ASSERT_TRUE(contents.Open());
  EXPECT_EQ(contents.Rows(), kRecords);
  EXPECT_EQ(contents.Cell(kRecords - 1, 1), "entry999999.bin");
  contents.Filter("ENTRY765432.*");
  ASSERT_TRUE(WaitUntil(
      [&] { return Text(contents.Control(IDC_CONTENTS_COUNT)) == "1 of 1,000,000 entries"; },
      kLongPolls))
      << Text(contents.Control(IDC_CONTENTS_COUNT));
  EXPECT_EQ(contents.Cell(0, 1), picked);
  SaveScreenshot(contents.Window(), "contents-million");
  Click(contents.Control(IDC_CONTENTS_EXTRACT));
  ASSERT_TRUE(WaitUntil([&] { return program.Caption() == kDoneCaption; }, kLongPolls))
      << program.Caption();
  EXPECT_EQ(Files(out.path()), (std::map<std::string, std::string>{{picked, data}}));
}

// One extraction for show: the archive through the open-file dialog, the destination through
// the folder picker, Extract, and a picture of the window afterwards.
int Demo(const std::string& img, const std::string& destination, const std::string& screenshot) {
  Program program;
  if (!program.Started()) {
    std::fprintf(stderr, "SectorSieve.exe did not come up\n");
    return 1;
  }
  if (!program.ChooseSource(img)) {
    std::fprintf(stderr, "could not choose %s\n", img.c_str());
    return 1;
  }
  if (!program.ChooseDestination(destination)) {
    std::fprintf(stderr, "could not choose %s\n", destination.c_str());
    return 1;
  }
  const auto clicked = std::chrono::steady_clock::now();
  Click(program.Control(IDC_CMDEXTRACT));
  // A big archive takes minutes under Wine: longer than the tests wait for a caption.
  const bool done = WaitUntil([&] { return program.Caption() == kDoneCaption; }, kDemoPolls);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - clicked;
  SaveScreenshot(program.Window(), screenshot);
  std::printf("%s\n%.2f s from the click on Extract to this caption\n", program.Caption().c_str(),
              took.count());
  ::PostMessageW(program.Window(), WM_COMMAND, MAKEWPARAM(IDM_QUIT, 0), 0);
  return done && program.ExitCode() == 0 ? 0 : 1;
}

// Round trips of WM_NULL to one window, made all along from a thread of their own: each takes as
// long as the window's thread was not taking messages.
class Watcher {
 public:
  using Clock = std::chrono::steady_clock;
  struct Trip {
    Clock::time_point sent, answered;
  };
  Watcher()
      : thread_([this](std::stop_token stop) {
          while (!stop.stop_requested()) {
            const HWND window = window_.load();
            const auto sent = Clock::now();
            DWORD_PTR ignored = 0;
            ::SetLastError(0);
            if (window &&
                (::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 600000, &ignored) ||
                 ::GetLastError() == ERROR_TIMEOUT)) {
              const std::lock_guard<std::mutex> lock(lock_);
              trips_.push_back({sent, Clock::now()});
            }
            ::Sleep(2);
          }
        }) {}
  void Watch(HWND window) { window_ = window; }
  // The longest round trip sent within [from, to), in milliseconds: a stall that what a step did
  // causes is met by a round trip sent after the step began.
  double Longest(Clock::time_point from, Clock::time_point to) {
    const std::lock_guard<std::mutex> lock(lock_);
    double longest = 0;
    for (const Trip& t : trips_)
      if (t.sent >= from && t.sent < to)
        longest = std::max(longest,
                           std::chrono::duration<double, std::milli>(t.answered - t.sent).count());
    return longest;
  }

 private:
  std::atomic<HWND> window_ = nullptr;
  std::mutex lock_;
  std::vector<Trip> trips_;
  std::jthread thread_;
};

// The contents window of a 1,000,000-entry archive driven through what a user does with it,
// step after step, each awaited by what the window shows; prints the longest the window did not
// answer during each step and over all. Exits 0 when every step could be driven.
int Responsiveness(const std::string& folder) {
  constexpr int kRecords = 1000000;
  constexpr int kLong = 20 * 600;  // polls: 10 minutes
  const fs::path root = fs::path(folder);
  {
    // Sizes of 0 to 3 sectors at offsets spread over the data file.
    std::string records;
    records.reserve(std::size_t{kRecords} * 32);
    for (int i = 0; i < kRecords; ++i)
      records += Record(i % 1000, i % 4, "entry" + std::to_string(i) + ".bin");
    WriteBytes(root / "million.dir", records);
    WriteBytes(root / "million.img", PatternBytes(1004 * 2048, 6));
    fs::create_directories(root / "out");
  }
  Program program(L"\"" + (root / "million.img").wstring() + L"\" \"" + (root / "out").wstring() +
                  L"\"");
  if (!program.Started() ||
      !WaitUntil([&] { return ::IsWindowEnabled(program.Control(IDC_CMDEXTRACT)); })) {
    std::fprintf(stderr, "SectorSieve.exe did not come up\n");
    return 1;
  }
  Watcher onMain, onContents;
  onMain.Watch(program.Window());
  Contents contents(program);
  const auto count = [&] { return Text(contents.Control(IDC_CONTENTS_COUNT)); };
  const auto checking = [&] { return contents.Status(1) == "Checking the archive..."; };
  const auto shown = [&] { return count() == "1,000,000 entries"; };
  const auto sorted = [&](int column, int arrow) {
    contents.ClickColumn(column);
    return WaitUntil([&] { return contents.SortArrow(column) == arrow; }, kLong);
  };
  const auto key = [&](WPARAM key) {
    ::PostMessageW(contents.Control(IDC_CONTENTS_LIST), WM_KEYDOWN, key, 0);
  };
  // F5, and true once the list read again shows while its check has yet to end.
  const auto readAgain = [&] {
    key(VK_F5);
    return WaitUntil([&] { return !shown(); }) && WaitUntil(shown, kLong) && checking();
  };
  const auto readUntilChecking = [&] {
    // The check of a million names takes seconds: one try in three shows it under way.
    bool under = false;
    for (int attempt = 0; attempt < 3 && !under; ++attempt) under = readAgain();
    return under;
  };
  // Rows selected one message each, through one buffer in the program's memory.
  const auto selectRows = [&](int first, int last, int step) {
    RemoteBuffer remote(program.Process(), sizeof(LVITEMW));
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    if (!remote.get() ||
        !::WriteProcessMemory(program.Process(), remote.get(), &item, sizeof item, nullptr))
      return false;
    DWORD_PTR ignored = 0;
    for (int row = first; row <= last; row += step)
      if (!::SendMessageTimeoutW(contents.Control(IDC_CONTENTS_LIST), LVM_SETITEMSTATE,
                                 static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.get()),
                                 SMTO_NORMAL, 600000, &ignored))
        return false;
    return true;
  };
  // Rows first to last selected as Shift and a click select them: the mark on first, then a
  // click on last with Shift down.
  const auto selectRange = [&](int first, int last) {
    DWORD_PTR ignored = 0;
    if (!::SendMessageTimeoutW(contents.Control(IDC_CONTENTS_LIST), LVM_SETSELECTIONMARK, 0, first,
                               SMTO_NORMAL, 600000, &ignored) ||
        !contents.ShowRow(last))
      return false;
    contents.Click(last, MK_SHIFT);
    return true;
  };
  const auto selected = [&](const std::string& n) {
    return WaitUntil([&] { return contents.Status(0).starts_with(n + " selected"); }, kLong);
  };
  const auto ctrlA = [&] {
    return contents.Press('A', VK_CONTROL, [&] { return selected("1,000,000"); });
  };
  const auto clickOne = [&] {
    contents.Click(contents.TopRow(), 0);
    return selected("1");
  };

  struct Step {
    const char* name;
    std::function<bool()> drive;
  };
  const std::vector<Step> steps = {
      {"1 opening until the list shows and its check ends",
       [&] {
         ::PostMessageW(program.Window(), WM_COMMAND, MAKEWPARAM(IDM_CONTENTS, 0), 0);
         const bool found = WaitUntil(
             [&] {
               const HWND window = ::FindWindowW(SECTORSIEVE_CONTENTS_CLASS, nullptr);
               onContents.Watch(window);
               return window &&
                      Text(::GetDlgItem(window, IDC_CONTENTS_COUNT)) == "1,000,000 entries";
             },
             kLong);
         return found && contents.Open() && WaitUntil([&] { return !checking(); }, kLong);
       }},
      {"2 filter *77.bin and back to none",
       [&] {
         contents.Filter("*77.bin");
         if (!WaitUntil([&] { return count() == "10,000 of 1,000,000 entries"; }, kLong))
           return false;
         contents.Filter("");
         return WaitUntil(shown, kLong);
       }},
      {"3 sort by name, again by name (descending), by size, offset, status and #",
       [&] {
         return sorted(1, 1) && sorted(1, -1) && sorted(2, 1) && sorted(3, 1) && sorted(4, 1) &&
                sorted(0, 1);
       }},
      {"4a select all (Ctrl+A)", ctrlA},
      {"4b sort by size with all selected", [&] { return sorted(2, 1); }},
      {"4c a plain click on one row", clickOne},
      {"5a every other row of the first 200,000 selected, one message each",
       [&] { return selectRows(0, 199998, 2) && selected("100,000"); }},
      {"5b sort by name with those 100,000 selected", [&] { return sorted(1, 1); }},
      {"5c a plain click on one row", clickOne},
      {"6 F5 again while the check runs",
       [&] {
         return readUntilChecking() && readAgain() && WaitUntil([&] { return !checking(); }, kLong);
       }},
      {"7a sort by size, rows 0 to 499,999 selected with Shift+click",
       [&] { return sorted(2, 1) && selectRange(0, kRecords / 2 - 1) && selected("500,000"); }},
      {"7b Extract with 500,000 selected until it runs, then stopped",
       [&] {
         Click(contents.Control(IDC_CONTENTS_EXTRACT));
         if (!WaitUntil([&] { return program.Caption().starts_with("Extracting : "); }, kLong))
           return false;
         ::Sleep(2000);
         ::PostMessageW(program.Window(), WM_KEYDOWN, VK_ESCAPE, 0);
         return WaitUntil([&] { return program.Caption() == "Extraction stopped"; }, kLong);
       }},
      {"7c a plain click on one row", clickOne},
      {"8a F5 until the list shows again", readUntilChecking},
      {"8b closing the window while the check runs (main window)",
       [&] {
         const HWND window = contents.Window();
         onContents.Watch(nullptr);
         ::PostMessageW(window, WM_CLOSE, 0, 0);
         const bool closed = WaitUntil([&] { return !::IsWindow(window); }, kLong);
         ::Sleep(2000);  // a stall right after the window went counts too
         return closed;
       }},
  };
  double longest = 0;
  for (const Step& step : steps) {
    const auto from = Watcher::Clock::now();
    const bool driven = step.drive();
    const auto to = Watcher::Clock::now();
    const double ms = std::max(onMain.Longest(from, to), onContents.Longest(from, to));
    if (!driven) {
      std::fprintf(stderr, "%s: could not be driven (count \"%s\", status \"%s\" \"%s\")\n",
                   step.name, count().c_str(), contents.Status(0).c_str(),
                   contents.Status(1).c_str());
      return 1;
    }
    std::printf("%s: longest %.0f ms\n", step.name, ms);
    std::fflush(stdout);
    longest = std::max(longest, ms);
  }
  std::printf("longest: %.0f ms\n", longest);
  ::PostMessageW(program.Window(), WM_COMMAND, MAKEWPARAM(IDM_QUIT, 0), 0);
  return program.ExitCode() == 0 ? 0 : 1;
}

}  // namespace
}  // namespace sectorsieve::testing

// Usage: window_end_to_end <SectorSieve.exe> [--demo <img> <destination> <screenshot>]
// [--responsiveness <folder>]
// [GoogleTest options]
int main(int argc, char** argv) {
  // Real pixels: the layout is checked against the DPI the program itself sees.
  ::SetProcessDPIAware();
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <SectorSieve.exe> [--demo <img> <destination> <name>]\n",
                 argv[0]);
    return 2;
  }
  sectorsieve::testing::g_program = sectorsieve::testing::FullPath(argv[1]);
  if (argc == 6 && std::string(argv[2]) == "--demo")
    return sectorsieve::testing::Demo(argv[3], argv[4], argv[5]);
  if (argc == 4 && std::string(argv[2]) == "--responsiveness")
    return sectorsieve::testing::Responsiveness(argv[3]);
  return RUN_ALL_TESTS();
}
