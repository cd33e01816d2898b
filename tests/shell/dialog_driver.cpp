#include "dialog_driver.h"

#include <commctrl.h>
#include <dlgs.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "wide_text.h"

namespace sectorsieve::testing {

namespace {

struct DcTraits {
  using pointer = HDC;
  static pointer invalid() { return nullptr; }
  static void close(HDC dc) { ::DeleteDC(dc); }
};

struct GdiObjectTraits {
  using pointer = HGDIOBJ;
  static pointer invalid() { return nullptr; }
  static void close(HGDIOBJ object) { ::DeleteObject(object); }
};

// Resolved before any test runs: the open-file dialog moves the current folder to the folder of
// the file it returns.
const std::string kArtifacts = [] {
  const char* named = std::getenv("SECTORSIEVE_ARTIFACTS");
  std::string folder(MAX_PATH * 2, '\0');
  const DWORD length = ::GetFullPathNameA(
      named && *named ? named : ".", static_cast<DWORD>(folder.size()), folder.data(), nullptr);
  folder.resize(length < folder.size() ? length : 0);
  ::CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}();

// Long enough for the helper thread to lose no race with a slow first start of the platform,
// short enough that a dialog that never comes fails the test rather than its time limit.
constexpr int kDialogPolls = 600;
constexpr DWORD kPollMilliseconds = 50;

std::string ClassName(HWND window) {
  char name[64] = {};
  ::GetClassNameA(window, name, sizeof name);
  return name;
}

}  // namespace

std::string TreeItemText(HWND tree, HTREEITEM item) {
  char text[MAX_PATH] = {};
  TVITEMA request{};
  request.mask = TVIF_TEXT;
  request.hItem = item;
  request.pszText = text;
  request.cchTextMax = sizeof text;
  ::SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&request));
  return text;
}

bool EndsWithIgnoringCase(const std::string& text, const std::string& label) {
  return text.size() >= label.size() &&
         ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE,
                          text.c_str() + text.size() - label.size(), static_cast<int>(label.size()),
                          label.c_str(), static_cast<int>(label.size())) == CSTR_EQUAL;
}

namespace {

// Asks with a time-out: the tree may belong to another process.
HTREEITEM NextItem(HWND tree, UINT relation, HTREEITEM item) {
  DWORD_PTR result = 0;
  ::SendMessageTimeoutW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item),
                        SMTO_ABORTIFHUNG, 10000, &result);
  return reinterpret_cast<HTREEITEM>(result);
}

BOOL CALLBACK Collect(HWND window, LPARAM windows) {
  reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
  return TRUE;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

// Every window below parent, at any depth.
std::vector<HWND> Descendants(HWND parent) {
  std::vector<HWND> windows;
  ::EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

bool NeedsPainting(HWND window) {
  const auto waits = [](HWND w) { return ::GetUpdateRect(w, nullptr, FALSE) != FALSE; };
  const std::vector<HWND> children = Descendants(window);
  return waits(window) || std::any_of(children.begin(), children.end(), waits);
}

// The window's thread paints when it has nothing else to do; once no part of the window waits
// for paint, a message answered by that thread shows that the last paint has ended too.
void WaitUntilPainted(HWND window) {
  for (int poll = 0; poll < kDialogPolls && NeedsPainting(window); ++poll)
    ::Sleep(kPollMilliseconds);
  ::SendMessageA(window, WM_NULL, 0, 0);
}

}  // namespace

OwnerWindow::OwnerWindow()
    : window_(::CreateWindowExA(0, "STATIC", "Picker owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                800, 600, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr)) {
}

HWND WaitForDialog(HWND owner) {
  for (int poll = 0; poll < kDialogPolls; ++poll) {
    for (HWND window : TopLevelWindows()) {
      if (ClassName(window) != "#32770" || ::GetWindow(window, GW_OWNER) != owner ||
          !::IsWindowVisible(window))
        continue;
      // Answered only from the modal loop, once the dialog has finished setting itself up.
      ::SendMessageA(window, WM_NULL, 0, 0);
      return window;
    }
    ::Sleep(kPollMilliseconds);
  }
  return nullptr;
}

std::string WindowText(HWND window) {
  std::string text(static_cast<std::size_t>(::GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::string WindowUtf8Text(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return Utf8(text).value_or("(not UTF-16)");
}

HWND FindControl(HWND dialog, const std::string& windowClass, const std::string& text) {
  for (HWND window : Descendants(dialog))
    if (ClassName(window) == windowClass && (text.empty() || WindowText(window) == text))
      return window;
  return nullptr;
}

void Click(HWND button) { ::PostMessageA(button, BM_CLICK, 0, 0); }

void TypeFileName(HWND dialog, const std::string& text) {
  const HWND edit = FindControl(::GetDlgItem(dialog, cmb13), "Edit");
  ::SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::vector<std::string> FileTypes(HWND dialog) {
  const HWND list = ::GetDlgItem(dialog, cmb1);
  std::vector<std::string> types;
  const auto count = ::SendMessageA(list, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::string text(static_cast<std::size_t>(::SendMessageA(list, CB_GETLBTEXTLEN, i, 0)) + 1,
                     '\0');
    text.resize(static_cast<std::size_t>(
        ::SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
    types.push_back(text);
  }
  return types;
}

std::vector<std::string> ListedItems(HWND dialog) {
  const HWND view = FindControl(dialog, WC_LISTVIEWA);
  std::vector<std::string> names;
  const auto count = ::SendMessageA(view, LVM_GETITEMCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char text[MAX_PATH] = {};
    LVITEMA item{};
    item.pszText = text;
    item.cchTextMax = sizeof text;
    ::SendMessageA(view, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
    names.push_back(text);
  }
  return names;
}

bool SelectListItem(HWND dialog, const std::string& name) {
  const std::vector<std::string> names = ListedItems(dialog);
  const auto found = std::find(names.begin(), names.end(), name);
  if (found == names.end()) return false;
  const HWND view = FindControl(dialog, WC_LISTVIEWA);
  ::SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(view), TRUE);
  LVITEMA item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageA(view, LVM_SETITEMSTATE, static_cast<WPARAM>(found - names.begin()),
                 reinterpret_cast<LPARAM>(&item));
  return true;
}

bool SelectTreePath(HWND dialog, const std::vector<std::string>& labels,
                    const TreeItemReader& read) {
  const HWND tree = FindControl(dialog, WC_TREEVIEWA);
  HTREEITEM item = NextItem(tree, TVGN_ROOT, nullptr);
  HTREEITEM found = nullptr;
  for (const std::string& label : labels) {
    while (item && !EndsWithIgnoringCase(read(tree, item), label))
      item = NextItem(tree, TVGN_NEXT, item);
    if (!item) return false;
    found = item;
    ::SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(found));
    item = NextItem(tree, TVGN_CHILD, found);
  }
  // A user clicks the item, which moves the focus into the tree.
  ::SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(tree), TRUE);
  ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(found));
  ::SendMessageA(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(found));
  return true;
}

bool SaveScreenshot(HWND window, const std::string& name) {
  ::RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  WaitUntilPainted(window);
  RECT frame{};
  ::GetWindowRect(window, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;

  const HDC screen = ::GetDC(nullptr);
  const scope_exit releaseScreen([&] { ::ReleaseDC(nullptr, screen); });
  const unique_handle<DcTraits> memory(::CreateCompatibleDC(screen));
  const unique_handle<GdiObjectTraits> bitmap(::CreateCompatibleBitmap(screen, width, height));
  if (!memory || !bitmap) return false;
  {
    const HGDIOBJ previous = ::SelectObject(memory.get(), bitmap.get());
    const scope_exit restore([&] { ::SelectObject(memory.get(), previous); });
    ::BitBlt(memory.get(), 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
  }

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  std::vector<char> pixels(stride * static_cast<std::size_t>(height));
  if (::GetDIBits(memory.get(), static_cast<HBITMAP>(bitmap.get()), 0, static_cast<UINT>(height),
                  pixels.data(), &info, DIB_RGB_COLORS) != height)
    return false;

  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
  std::ofstream out(kArtifacts + "\\" + name + ".bmp", std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
  return static_cast<bool>(out);
}

}  // namespace sectorsieve::testing
