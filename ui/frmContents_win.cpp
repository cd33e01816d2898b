#include "frmContents_win.h"

#include <cderr.h>
#include <commdlg.h>
#include <windowsx.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <stdexcept>
#include <utility>
#include <vector>

#include "entry_drag_win.h"
#include "frmMain_resource.h"
#include "messages.h"
#include "wide_text.h"
#include "window_support_win.h"

namespace sectorsieve::ui {

namespace {

constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
// The list is read on a thread of its own, which says so with this.
constexpr UINT kReadMessage = WM_APP + 1;
constexpr UINT kCheckedMessage = WM_APP + 2;
// The changing thread waits for another change's lock, and is done.
constexpr UINT kWaitingMessage = WM_APP + 3;
constexpr UINT kChangedMessage = WM_APP + 4;
// Files were dropped in.
constexpr UINT kDroppedMessage = WM_APP + 5;
// The control's selection is brought to the list's a slice at a time, the next slice posted.
constexpr UINT kRestoreMessage = WM_APP + 6;
constexpr auto kRestoreSlice = std::chrono::milliseconds(30);
// The filter applies once typing pauses this long.
constexpr UINT kFilterTimer = 1;
constexpr UINT kFilterPauseMs = 300;

// Sizes in twips: the window as it opens and at its smallest, the margin, the rows of controls.
constexpr int kClientWidth = 10200;
constexpr int kClientHeight = 6600;
constexpr int kMinClientWidth = 6000;
constexpr int kMinClientHeight = 3600;
constexpr int kMargin = 120;
constexpr int kLabelWidth = 660;
constexpr int kLabelHeight = 195;
constexpr int kBoxHeight = 315;
constexpr int kCountWidth = 3300;
constexpr int kButtonWidth = 1455;
constexpr int kButtonHeight = 345;
constexpr int kCheckPartWidth = 5000;
// The window opens this far below and right of the main window's corner.
constexpr int kCascade = 600;

struct ColumnLayout {
  const wchar_t* title;
  int width;  // twips
  int format;
};
// Together narrower than the list at the window's first size, its scroll bar included.
constexpr ColumnLayout kColumns[kContentsColumns] = {
    {L"#", 900, LVCFMT_LEFT},        {L"Name", 3300, LVCFMT_LEFT},   {L"Size", 1350, LVCFMT_RIGHT},
    {L"Offset", 1350, LVCFMT_RIGHT}, {L"Status", 2700, LVCFMT_LEFT},
};

constexpr const char* kChangedNotice = "Changed on disk: read again.";
constexpr const char* kWaitingNotice =
    "Waiting for another change of the archive to end (Escape gives up)...";
// Characters the open-file dialog may hand back for the files picked.
constexpr DWORD kPickedRoom = 1 << 16;

// The frame around a client area of width by height twips at dpi.
SIZE FrameSize(int width, int height, int dpi) {
  using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = NewerUser32<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  RECT frame{0, 0, Pixels(width, dpi), Pixels(height, dpi)};
  if (adjustForDpi)
    adjustForDpi(&frame, kStyle, TRUE, 0, static_cast<UINT>(dpi));
  else
    ::AdjustWindowRectEx(&frame, kStyle, TRUE, 0);
  return {frame.right - frame.left, frame.bottom - frame.top};
}

// The window's corner: a step below and right of owner's, the whole frame of size kept within
// owner's monitor's work area.
POINT PlaceBelow(HWND owner, SIZE size, int dpi) {
  RECT frame{};
  ::GetWindowRect(owner, &frame);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& work = monitor.rcWork;
  const int x = std::max<int>(
      work.left, std::min<int>(frame.left + Pixels(kCascade, dpi), work.right - size.cx));
  const int y = std::max<int>(
      work.top, std::min<int>(frame.top + Pixels(kCascade, dpi), work.bottom - size.cy));
  return {x, y};
}

HWND CreateControl(HWND parent, int id, const wchar_t* className, const wchar_t* text, DWORD style,
                   DWORD exStyle, HINSTANCE instance) {
  HWND control =
      ::CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
  if (!control) throw std::runtime_error("A control of the contents window was refused");
  return control;
}

void SetText(HWND window, const std::string& text) {
  ::SetWindowTextW(window, Utf16(text).c_str());
}

NameText NamesOf(const FileSystem& fs) {
  return [cp = fs.Ansi().Id()](std::string_view name) { return DecodeToUtf8(cp, name); };
}

// The Edit menu: what the window changes in the archive.
HMENU NewMenu() {
  HMENU edit = ::CreatePopupMenu();
  ::AppendMenuW(edit, MF_STRING, IDM_CONTENTS_ADD, L"&Add files...");
  ::AppendMenuW(edit, MF_STRING, IDM_CONTENTS_REMOVE, L"&Remove\tDel");
  ::AppendMenuW(edit, MF_STRING, IDM_CONTENTS_RENAME, L"Re&name\tF2");
  ::AppendMenuW(edit, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(edit, MF_STRING, IDM_CONTENTS_COMPACT, L"&Compact");
  HMENU bar = ::CreateMenu();
  ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(edit), L"E&dit");
  return bar;
}

// The file system a change goes through, which says once when it waits for another change's
// lock: the window shows why nothing seems to happen.
class WaitingFileSystem final : public ForwardingFileSystem {
 public:
  WaitingFileSystem(FileSystem& inner, std::function<void()> waiting)
      : ForwardingFileSystem(inner), waiting_(std::move(waiting)) {}
  std::unique_ptr<ArchiveLock> LockArchive(const std::string& base,
                                           const std::function<bool()>& wait) override {
    return inner_.LockArchive(base, Told(wait));
  }
  std::unique_ptr<ArchiveLock> LockFile(const std::string& path,
                                        const std::function<bool()>& wait) override {
    return inner_.LockFile(path, Told(wait));
  }

 private:
  std::function<bool()> Told(const std::function<bool()>& wait) {
    return [this, &wait] {
      if (!told_) {
        told_ = true;
        waiting_();
      }
      return wait && wait();
    };
  }
  std::function<void()> waiting_;
  bool told_ = false;
};

// The paths (UTF-8) of the files the open-file dialog hands back in picked: one path, or a
// folder and then the names in it.
std::vector<std::string> PickedPaths(const std::vector<wchar_t>& picked) {
  std::vector<std::wstring> parts;
  for (const wchar_t* at = picked.data(); *at; at += parts.back().size() + 1)
    parts.emplace_back(at);
  std::vector<std::string> paths;
  if (parts.size() == 1) parts.push_back({});
  for (std::size_t i = 1; i < parts.size(); ++i) {
    std::wstring path = parts[0];
    if (!parts[i].empty()) path += (path.ends_with(L'\\') ? L"" : L"\\") + parts[i];
    if (const auto utf8 = Utf8(path)) paths.push_back(*utf8);
  }
  return paths;
}

}  // namespace

frmContentsWindow::frmContentsWindow(HINSTANCE instance, HWND owner, std::string path, frmMain& frm,
                                     FileSystem& fs)
    : path_(std::move(path)), frm_(frm), fs_(fs) {
  RegisterWindowClass(instance, SECTORSIEVE_CONTENTS_CLASS, WindowProcOf<frmContentsWindow>,
                      IDI_SECTORSIEVE, nullptr, "The contents window");
  const int dpi = WindowDpi(owner);
  const SIZE size = FrameSize(kClientWidth, kClientHeight, dpi);
  const std::string caption = path_.substr(fs_.LeafStart(path_)) + " - Contents";
  const POINT at = PlaceBelow(owner, size, dpi);
  if (!::CreateWindowExW(0, SECTORSIEVE_CONTENTS_CLASS, Utf16(caption).c_str(), kStyle, at.x, at.y,
                         size.cx, size.cy, owner, NewMenu(), instance, this))
    throw std::runtime_error("The contents window could not be created");
  ::ShowWindow(hwnd_.get(), SW_SHOWNORMAL);
  StartReading({});
}

frmContentsWindow::~frmContentsWindow() {
  txtRename_End(false);
  changer_ = std::jthread();
  reader_ = std::jthread();
  hwnd_.reset();
}

frmContentsWindow::OleScope::OleScope() : initialised(SUCCEEDED(::OleInitialize(nullptr))) {}

frmContentsWindow::OleScope::~OleScope() {
  if (initialised) ::OleUninitialize();
}

bool frmContentsWindow::PreTranslate(MSG& msg) {
  if (!hwnd_ || (msg.hwnd != hwnd_.get() && !::IsChild(hwnd_.get(), msg.hwnd))) return false;
  if (txtRename_ && msg.hwnd == txtRename_) {
    if (msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE)) {
      txtRename_End(msg.wParam == VK_RETURN);
      return true;
    }
    return false;  // every other key edits the name
  }
  if (msg.message == WM_KEYDOWN && msg.hwnd == lstEntries_ &&
      (msg.wParam == VK_DELETE || msg.wParam == VK_F2)) {
    if (msg.wParam == VK_DELETE)
      mnuRemove_Click();
    else
      mnuRename_Click();
    return true;
  }
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_F5) {
    StartReading({});
    return true;
  }
  if (msg.message == WM_KEYDOWN && msg.wParam == 'A' && msg.hwnd == lstEntries_ &&
      ::GetKeyState(VK_CONTROL) < 0) {
    ListView_SetItemState(lstEntries_, -1, LVIS_SELECTED, LVIS_SELECTED);
    return true;
  }
  return ::IsDialogMessageW(hwnd_.get(), &msg) != FALSE;
}

LRESULT frmContentsWindow::HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    HANDLE_MSG(hwnd, WM_CREATE, OnCreate);
    HANDLE_MSG(hwnd, WM_COMMAND, OnCommand);
    HANDLE_MSG(hwnd, WM_NOTIFY, OnNotify);
    HANDLE_MSG(hwnd, WM_SIZE, OnSize);
    HANDLE_MSG(hwnd, WM_GETMINMAXINFO, OnGetMinMaxInfo);
    HANDLE_MSG(hwnd, WM_TIMER, OnTimer);
    HANDLE_MSG(hwnd, WM_ACTIVATE, OnActivate);
    HANDLE_MSG(hwnd, WM_INITMENUPOPUP, OnInitMenuPopup);
    HANDLE_MSG(hwnd, WM_CLOSE, OnClose);
    HANDLE_MSG(hwnd, WM_DESTROY, OnDestroy);
    HANDLE_MSG(hwnd, WM_NCDESTROY, OnNCDestroy);
    case DM_GETDEFID:
      return MAKELRESULT(IDC_CONTENTS_EXTRACT, DC_HASDEFID);
    case kReadMessage:
      OnRead();
      return 0;
    case kCheckedMessage:
      OnChecked();
      return 0;
    case kWaitingMessage:
      OnWaiting();
      return 0;
    case kChangedMessage:
      OnChanged();
      return 0;
    case kDroppedMessage:
      AddPaths(std::exchange(dropped_, {}));
      return 0;
    case kRestoreMessage:
      RestoreSelection();
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(hwnd, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

// WM_CREATE: the controls in tab order, each label before its box, for the box's name.
BOOL frmContentsWindow::OnCreate(HWND hwnd, LPCREATESTRUCT create) {
  HINSTANCE instance = create->hInstance;
  CreateControl(hwnd, IDC_CONTENTS_FINDLABEL, WC_STATICW, L"&Find:", SS_LEFT, 0, instance);
  txtFilter_ = CreateControl(hwnd, IDC_CONTENTS_FILTER, WC_EDITW, L"", ES_AUTOHSCROLL | WS_TABSTOP,
                             WS_EX_CLIENTEDGE, instance);
  lblCount_ = CreateControl(hwnd, IDC_CONTENTS_COUNT, WC_STATICW, L"", SS_RIGHT, 0, instance);
  // Clipped around the box where a name is edited, which lies over it.
  lstEntries_ =
      CreateControl(hwnd, IDC_CONTENTS_LIST, WC_LISTVIEWW, L"",
                    LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | WS_TABSTOP | WS_CLIPSIBLINGS,
                    WS_EX_CLIENTEDGE, instance);
  cmdExtract_ = CreateControl(hwnd, IDC_CONTENTS_EXTRACT, WC_BUTTONW, L"&Extract",
                              BS_DEFPUSHBUTTON | WS_TABSTOP | WS_DISABLED, 0, instance);
  sbStatus_ =
      CreateControl(hwnd, IDC_CONTENTS_STATUS, STATUSCLASSNAMEW, L"", SBARS_SIZEGRIP, 0, instance);
  ListView_SetExtendedListViewStyle(lstEntries_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  dpi_ = WindowDpi(hwnd);
  for (int i = 0; i < kContentsColumns; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = kColumns[i].format;
    column.cx = Pixels(kColumns[i].width, dpi_);
    column.pszText = const_cast<wchar_t*>(kColumns[i].title);
    column.iSubItem = i;
    ::SendMessageW(lstEntries_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i),
                   reinterpret_cast<LPARAM>(&column));
  }
  NameForScreenReaders(txtFilter_, L"Find");
  NameForScreenReaders(lstEntries_, L"Entries");
  LayOut(dpi_);
  focus_ = txtFilter_;
  if (ole_.initialised) {
    dropTarget_ = NewFileDropTarget([this] { return CanChange(); },
                                    [this, hwnd](std::vector<std::string> paths) {
                                      dropped_ = std::move(paths);
                                      ::PostMessageW(hwnd, kDroppedMessage, 0, 0);
                                    });
    ::RegisterDragDrop(hwnd, dropTarget_.get());
  }
  return TRUE;
}

// WM_COMMAND: control notifications to their named handlers.
void frmContentsWindow::OnCommand(HWND, int id, HWND, UINT code) {
  switch (id) {
    case IDC_CONTENTS_FILTER:
      if (code == EN_CHANGE) txtFilter_Change();
      break;
    case IDC_CONTENTS_EXTRACT:
      if (code == BN_CLICKED && ::IsWindowEnabled(cmdExtract_)) cmdExtract_Click();
      break;
    case IDC_CONTENTS_RENAME:
      // As Explorer does: a name left for elsewhere is taken.
      if (code == EN_KILLFOCUS) txtRename_End(true);
      break;
    case IDM_CONTENTS_ADD:
      mnuAdd_Click();
      break;
    case IDM_CONTENTS_REMOVE:
      mnuRemove_Click();
      break;
    case IDM_CONTENTS_RENAME:
      mnuRename_Click();
      break;
    case IDM_CONTENTS_COMPACT:
      mnuCompact_Click();
      break;
    case IDCANCEL:  // Escape, as IsDialogMessage reports it
      Form_KeyEscape();
      break;
  }
}

// WM_NOTIFY: the list's requests and changes.
LRESULT frmContentsWindow::OnNotify(HWND, int, NMHDR* header) {
  if (header->hwndFrom != lstEntries_) return 0;
  switch (header->code) {
    case LVN_GETDISPINFOW:
      lstEntries_GetDispInfo(*reinterpret_cast<NMLVDISPINFOW*>(header));
      return 0;
    case LVN_ODCACHEHINT:  // every row is in memory already
      return 0;
    case LVN_ODFINDITEMW:
      return lstEntries_FindItem(*reinterpret_cast<NMLVFINDITEMW*>(header));
    case LVN_ITEMCHANGED:
      lstEntries_ItemChanged(*reinterpret_cast<NMLISTVIEW*>(header));
      return 0;
    case LVN_ODSTATECHANGED:
      lstEntries_StateChanged(*reinterpret_cast<NMLVODSTATECHANGE*>(header));
      return 0;
    case LVN_COLUMNCLICK:
      lstEntries_ColumnClick(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
      return 0;
    case LVN_BEGINDRAG:
      lstEntries_BeginDrag();
      return 0;
    case LVN_BEGINSCROLL:  // the name being edited would no longer lie over its row
      txtRename_End(false);
      return 0;
  }
  return 0;
}

// LVN_GETDISPINFO: one cell's text, copied from the list's value, cut to the room given.
void frmContentsWindow::lstEntries_GetDispInfo(NMLVDISPINFOW& info) {
  LVITEMW& item = info.item;
  if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0) return;
  if (!list_ || item.iItem < 0 || static_cast<std::size_t>(item.iItem) >= list_->Rows() ||
      item.iSubItem < 0 || item.iSubItem >= kContentsColumns) {
    item.pszText[0] = L'\0';
    return;
  }
  const std::wstring text = Utf16(list_->CellText(static_cast<std::size_t>(item.iItem),
                                                  static_cast<ContentsColumn>(item.iSubItem)));
  ::lstrcpynW(item.pszText, text.c_str(), item.cchTextMax);
}

// LVN_ODFINDITEM: type-ahead, the next row whose name begins with what was typed; -1 for none.
LRESULT frmContentsWindow::lstEntries_FindItem(const NMLVFINDITEMW& find) {
  if (!list_ || !(find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.lvfi.psz) return -1;
  const auto typed = Utf8(find.lvfi.psz);
  if (!typed) return -1;
  const std::size_t start = find.iStart < 0 ? 0 : static_cast<std::size_t>(find.iStart);
  const auto row = list_->FindRow(*typed, start);
  return row ? static_cast<LRESULT>(*row) : -1;
}

// LVN_ITEMCHANGED: one row's selection, or every row's (-1), as the user changed it.
void frmContentsWindow::lstEntries_ItemChanged(const NMLISTVIEW& change) {
  if (settingSelection_ || !list_ || !(change.uChanged & LVIF_STATE)) return;
  const bool now = change.uNewState & LVIS_SELECTED;
  if (now == static_cast<bool>(change.uOldState & LVIS_SELECTED)) return;
  if (change.iItem < 0)
    list_->SelectAll(now);
  else
    list_->Select(static_cast<std::size_t>(change.iItem), static_cast<std::size_t>(change.iItem),
                  now);
  ShowStatus();
}

// LVN_ODSTATECHANGED: a range of rows selected at once (Shift+click, Shift+arrows).
void frmContentsWindow::lstEntries_StateChanged(const NMLVODSTATECHANGE& change) {
  if (settingSelection_ || !list_ || change.iFrom < 0 || change.iTo < change.iFrom) return;
  if (((change.uNewState ^ change.uOldState) & LVIS_SELECTED) == 0) return;
  list_->Select(static_cast<std::size_t>(change.iFrom), static_cast<std::size_t>(change.iTo),
                change.uNewState & LVIS_SELECTED);
  ShowStatus();
}

// LVN_COLUMNCLICK: sort by that column; again, the other way.
void frmContentsWindow::lstEntries_ColumnClick(int column) {
  if (!list_ || column < 0 || column >= kContentsColumns) return;
  const auto clicked = static_cast<ContentsColumn>(column);
  list_->SortBy(clicked, clicked == list_->SortColumn() && !list_->SortDescending());
  ShowRows();
}

// LVN_BEGINDRAG: the selection dragged out as files, their bytes read as the target asks.
// Entries extraction refuses are left out, and the status bar says so once the drag is over.
void frmContentsWindow::lstEntries_BeginDrag() {
  if (!list_) return;
  const ContentsList::Dragged dragged = list_->DraggedEntries();
  const Archive& value = list_->Value();
  std::string notice;
  if (!dragged.refused.empty()) {
    const Archive::Entry& first = value[dragged.refused.front()];
    const std::size_t n = dragged.refused.size();
    notice = "Left out " + Grouped(static_cast<std::int64_t>(n)) +
             (n == 1 ? " entry" : " entries") + " that extraction refuses: \"" +
             fs_.Shown(first.FileName()) + "\" " + value.Refusal(first) +
             (n == 1 ? "." : ", and others.");
  }
  if (!dragged.entries.empty()) {
    std::shared_ptr<InputFile> data;
    try {
      // The data file the list was read beside, or none: compact may have put another there.
      if (fs_.Id(value.Paths().img) == value.DataId()) data = fs_.OpenRead(value.Paths().img);
    } catch (const std::exception&) {
    }
    if (!data) {
      StartReading(kChangedNotice);
      return;
    }
    std::vector<DraggedFile> files;
    for (const std::size_t index : dragged.entries) {
      const Archive::Entry& entry = value[index];
      files.push_back({Utf16(fs_.Shown(entry.FileName())), entry.Start(), entry.Bytes()});
    }
    const unique_data_object object =
        NewEntryDataObject(std::move(data), value.DataSize(), std::move(files));
    const unique_drop_source source = NewDropSource();
    DWORD effect = DROPEFFECT_NONE;
    ::DoDragDrop(object.get(), source.get(), DROPEFFECT_COPY, &effect);
  }
  if (!hwnd_) return;
  notice_ = notice;
  ShowStatus();
}

void frmContentsWindow::txtFilter_Change() {
  ::SetTimer(hwnd_.get(), kFilterTimer, kFilterPauseMs, nullptr);
}

// WM_TIMER: typing paused; the filter applies.
void frmContentsWindow::OnTimer(HWND hwnd, UINT id) {
  if (id != kFilterTimer) return;
  ::KillTimer(hwnd, kFilterTimer);
  if (!list_) return;
  try {
    list_->SetFilter(WindowText(txtFilter_));
  } catch (const UnconvertibleText&) {
    return;  // half a character typed: the next one completes it
  }
  ShowRows();
}

void frmContentsWindow::cmdExtract_Click() {
  if (!list_ || frm_.Running() || changing_) return;
  if (ChangedOutside()) {
    // The run reads the archive itself; the window reads it too, to show what it extracts.
    extractWhenRead_ = true;
    StartReading(kChangedNotice);
    return;
  }
  ExtractPicked();
}

void frmContentsWindow::ExtractPicked() {
  const ContentsList::Pick pick = list_->Picked();
  FileSystem& fs = fs_;
  frm_.ExtractPicked([pick, &fs](const Archive& archive, const KeepGoing& keepGoing) {
    return PickedEntries(archive, pick, fs.Ansi(), NamesOf(fs), keepGoing);
  });
  // The window may have been closed during the run.
  if (hwnd_ && !::GetFocus() && ::GetActiveWindow() == hwnd_.get()) ::SetFocus(lstEntries_);
}

// Escape stops a run or a change waiting for another's lock, else closes the window.
void frmContentsWindow::Form_KeyEscape() {
  if (changing_) {
    if (notice_ == kWaitingNotice) changer_.request_stop();
    return;
  }
  if (frm_.Running())
    frm_.Form_KeyEscape();
  else
    hwnd_.reset();
}

// WM_SIZE: the controls follow the window's edges.
void frmContentsWindow::OnSize(HWND, UINT, int width, int height) {
  if (!sbStatus_) return;
  ::SendMessageW(sbStatus_, WM_SIZE, 0, 0);
  RECT status{};
  ::GetWindowRect(sbStatus_, &status);
  const int statusHeight = status.bottom - status.top;
  const int d = dpi_;
  const int m = Pixels(kMargin, d);
  const int boxHeight = Pixels(kBoxHeight, d);
  const int labelWidth = Pixels(kLabelWidth, d);
  const int countWidth = Pixels(kCountWidth, d);
  const int buttonWidth = Pixels(kButtonWidth, d);
  const int buttonHeight = Pixels(kButtonHeight, d);
  const int labelTop = m + (boxHeight - Pixels(kLabelHeight, d)) / 2;
  const auto place = [](HWND control, int x, int y, int w, int h) {
    ::SetWindowPos(control, nullptr, x, y, w > 0 ? w : 0, h > 0 ? h : 0,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  };
  place(::GetDlgItem(hwnd_.get(), IDC_CONTENTS_FINDLABEL), m, labelTop, labelWidth,
        Pixels(kLabelHeight, d));
  place(txtFilter_, m + labelWidth, m, width - 3 * m - labelWidth - countWidth, boxHeight);
  place(lblCount_, width - m - countWidth, labelTop, countWidth, Pixels(kLabelHeight, d));
  const int listTop = 2 * m + boxHeight;
  const int buttonTop = height - statusHeight - m - buttonHeight;
  place(lstEntries_, m, listTop, width - 2 * m, buttonTop - m - listTop);
  place(cmdExtract_, width - m - buttonWidth, buttonTop, buttonWidth, buttonHeight);
  // What check finds takes the right-hand part, as wide as its text needs.
  const int parts[] = {std::max(width / 3, width - Pixels(kCheckPartWidth, d)), -1};
  ::SendMessageW(sbStatus_, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
}

// WM_GETMINMAXINFO: never smaller than its controls need.
void frmContentsWindow::OnGetMinMaxInfo(HWND, MINMAXINFO* info) {
  const SIZE least = FrameSize(kMinClientWidth, kMinClientHeight, dpi_);
  info->ptMinTrackSize = {least.cx, least.cy};
}

// WM_ACTIVATE: the focus comes back where it was; a change from outside is read.
void frmContentsWindow::OnActivate(HWND hwnd, UINT state, HWND, BOOL minimized) {
  if (state == WA_INACTIVE) {
    HWND focus = ::GetFocus();
    if (focus && ::IsChild(hwnd, focus)) focus_ = focus;
    return;
  }
  if (minimized) return;
  ::SetFocus(focus_ && ::IsWindowEnabled(focus_) ? focus_ : lstEntries_);
  if (list_ && !awaitingList_ && !changing_ && !frm_.Running() && ChangedOutside())
    StartReading(kChangedNotice);
}

// WM_DPICHANGED: the place Windows suggests, and everything laid out for the new DPI.
void frmContentsWindow::OnDpiChanged(HWND hwnd, int dpi, const RECT& suggested) {
  for (int i = 0; i < kContentsColumns; ++i)
    ListView_SetColumnWidth(lstEntries_, i,
                            ::MulDiv(ListView_GetColumnWidth(lstEntries_, i), dpi, dpi_));
  LayOut(dpi);
  ::SetWindowPos(hwnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// WM_CLOSE: the window goes, and a name being edited is left as it was; a run it started goes
// on in the main window.
void frmContentsWindow::OnClose(HWND) {
  txtRename_End(false);
  hwnd_.reset();
}

// WM_DESTROY: nothing more is dropped in.
void frmContentsWindow::OnDestroy(HWND hwnd) {
  if (dropTarget_) ::RevokeDragDrop(hwnd);
}

// WM_NCDESTROY: the handle is no longer ours to destroy.
void frmContentsWindow::OnNCDestroy(HWND) {
  hwnd_.release();
  txtFilter_ = lblCount_ = lstEntries_ = cmdExtract_ = sbStatus_ = txtRename_ = nullptr;
}

void frmContentsWindow::LayOut(int dpi) {
  dpi_ = dpi;
  unique_gdi_object font = FontAt(dpi);
  const HFONT shown = font ? static_cast<HFONT>(font.get()) : GetStockFont(DEFAULT_GUI_FONT);
  for (HWND child = ::GetWindow(hwnd_.get(), GW_CHILD); child;
       child = ::GetWindow(child, GW_HWNDNEXT))
    SetWindowFont(child, shown, TRUE);
  font_ = std::move(font);
  RECT client{};
  ::GetClientRect(hwnd_.get(), &client);
  OnSize(hwnd_.get(), SIZE_RESTORED, client.right, client.bottom);
}

void frmContentsWindow::StartReading(std::string notice,
                                     std::optional<std::vector<std::string>> selection) {
  // A reading still going on is given up; the new one waits for it to end, off this thread: it
  // may be in the middle of something it cannot give up at once, as sorting a million names.
  std::jthread previous = std::move(reader_);
  previous.request_stop();
  notice_ = std::move(notice);
  awaitingList_ = true;
  ::EnableWindow(cmdExtract_, FALSE);
  SetText(lblCount_, "Reading the archive...");
  ContentsColumn column = ContentsColumn::Index;
  bool descending = false;
  std::string filter;
  std::vector<std::string> selected;
  if (list_) {
    column = list_->SortColumn();
    descending = list_->SortDescending();
    filter = list_->Filter();
    selected = list_->SelectedKeys();
  }
  if (selection) selected = std::move(*selection);
  HWND window = hwnd_.get();
  const unsigned generation = ++generation_;
  reader_ = std::jthread([this, window, generation, column, descending, filter = std::move(filter),
                          selected = std::move(selected),
                          previous = std::move(previous)](std::stop_token stop) mutable {
    previous = std::jthread();
    Reading reading;
    reading.generation = generation;
    ContentsList* list = nullptr;
    try {
      // Stamps first: a change made while reading shows as a change afterwards.
      reading.stamps = CurrentStamps();
      const auto paths = ArchiveOfDataFile(path_, fs_.Paths());
      if (!paths) throw std::runtime_error("it is not a .img");
      Archive value =
          ArchiveReader(fs_).LoadDirectory(*paths, [&] { return !stop.stop_requested(); });
      reading.list = std::make_unique<ContentsList>(
          std::move(value), fs_.Ansi(), NamesOf(fs_),
          [&fs = fs_](std::string_view name) { return fs.Shown(name); });
      list = reading.list.get();
      if (column != ContentsColumn::Index || descending) list->SortBy(column, descending);
      list->SetFilter(filter);
      list->SelectKeys(selected);
    } catch (const std::exception& e) {
      reading.failure = e.what();
    }
    if (stop.stop_requested()) return;
    {
      const std::lock_guard<std::mutex> lock(readingLock_);
      reading_ = std::move(reading);
    }
    ::PostMessageW(window, kReadMessage, 0, 0);
    if (!list) return;
    // The list shows meanwhile; the window only reads the archive's value, which never changes,
    // and a new reading waits for this one to end.
    Reading checked;
    checked.generation = generation;
    try {
      checked.check = CheckArchive(list->Value(), fs_.Ansi(), NamesOf(fs_),
                                   [&] { return !stop.stop_requested(); });
    } catch (const std::exception&) {
      return;  // out of memory: the status bar keeps saying the check is to come
    }
    if (!checked.check || stop.stop_requested()) return;
    {
      const std::lock_guard<std::mutex> lock(readingLock_);
      checking_ = std::move(checked);
    }
    ::PostMessageW(window, kCheckedMessage, 0, 0);
  });
}

// kReadMessage: the reading thread is done; the list shows what it read.
void frmContentsWindow::OnRead() {
  Reading reading;
  {
    const std::lock_guard<std::mutex> lock(readingLock_);
    reading = std::move(reading_);
  }
  // Taken already, or the answer of a reading given up for a newer one.
  if ((!reading.list && reading.failure.empty()) || reading.generation != generation_) return;
  awaitingList_ = false;
  if (!reading.failure.empty()) {
    SetText(lblCount_, "");
    ::SendMessageW(sbStatus_, SB_SETTEXTW, 0,
                   reinterpret_cast<LPARAM>(
                       Utf16("The archive could not be read: " + reading.failure).c_str()));
    extractWhenRead_ = false;
    return;
  }
  txtRename_End(false);
  list_ = std::move(reading.list);
  stamps_ = reading.stamps;
  {
    // The filter box may have changed while the archive was read.
    try {
      const std::string typed = WindowText(txtFilter_);
      if (typed != list_->Filter()) list_->SetFilter(typed);
    } catch (const UnconvertibleText&) {
    }
  }
  ::EnableWindow(cmdExtract_, !changing_);
  ShowRows();
  if (extractWhenRead_) {
    extractWhenRead_ = false;
    if (!frm_.Running()) ExtractPicked();
  }
}

// kCheckedMessage: what check finds of the list shown, which the status bar and column show.
void frmContentsWindow::OnChecked() {
  Reading checked;
  {
    const std::lock_guard<std::mutex> lock(readingLock_);
    checked = std::move(checking_);
  }
  if (!checked.check || !list_ || checked.generation != generation_) return;
  const bool byStatus = list_->SortColumn() == ContentsColumn::Status;
  list_->SetCheck(std::move(*checked.check));
  if (byStatus)
    ShowRows();
  else
    ::InvalidateRect(lstEntries_, nullptr, FALSE);
  ShowStatus();
}

void frmContentsWindow::ShowRows() {
  settingSelection_ = true;
  ListView_SetItemState(lstEntries_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_SetItemCountEx(lstEntries_, static_cast<int>(list_->Rows()),
                          LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
  const std::size_t total = list_->Rows();
  const bool every = total > 0 && list_->SelectedCount() == total;
  if (every) ListView_SetItemState(lstEntries_, -1, LVIS_SELECTED, LVIS_SELECTED);
  restoredTo_ = every ? total : 0;
  if (const auto first = list_->FirstSelectedRow()) {
    ListView_SetItemState(lstEntries_, static_cast<int>(*first), LVIS_FOCUSED, LVIS_FOCUSED);
    ListView_EnsureVisible(lstEntries_, static_cast<int>(*first), FALSE);
  }
  settingSelection_ = false;
  RestoreSelection();
  ::InvalidateRect(lstEntries_, nullptr, FALSE);

  HWND header = ListView_GetHeader(lstEntries_);
  for (int i = 0; i < kContentsColumns; ++i) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    ::SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (static_cast<ContentsColumn>(i) == list_->SortColumn())
      item.fmt |= list_->SortDescending() ? HDF_SORTDOWN : HDF_SORTUP;
    ::SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
  SetText(lblCount_, list_->CountText());
  ShowStatus();
}

// The control keeps its own selection, a message per row: a scattered selection of a million
// rows is brought to it a slice at a time, the window answering between slices. What the user
// selects meanwhile goes to the list, which the slices still to come follow.
void frmContentsWindow::RestoreSelection() {
  if (!list_) return;
  const auto until = std::chrono::steady_clock::now() + kRestoreSlice;
  const std::size_t total = list_->Rows();
  settingSelection_ = true;
  while (restoredTo_ < total) {
    if (list_->Selected(restoredTo_))
      ListView_SetItemState(lstEntries_, static_cast<int>(restoredTo_), LVIS_SELECTED,
                            LVIS_SELECTED);
    if (++restoredTo_ % 1024 == 0 && std::chrono::steady_clock::now() > until) break;
  }
  settingSelection_ = false;
  if (restoredTo_ < total) ::PostMessageW(hwnd_.get(), kRestoreMessage, 0, 0);
}

void frmContentsWindow::ShowStatus() {
  if (!list_) return;
  std::string first = list_->SelectionText();
  if (!notice_.empty()) first += (first.empty() ? "" : ". ") + notice_;
  ::SendMessageW(sbStatus_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(Utf16(first).c_str()));
  ::SendMessageW(sbStatus_, SB_SETTEXTW, 1,
                 reinterpret_cast<LPARAM>(Utf16(list_->CheckText()).c_str()));
}

frmContentsWindow::Stamps frmContentsWindow::CurrentStamps() {
  Stamps stamps;
  const auto paths = ArchiveOfDataFile(path_, fs_.Paths());
  if (!paths) return stamps;
  stamps.dataId = fs_.Id(paths->img);
  try {
    stamps.data = fs_.OpenRead(paths->img)->Stamp();
  } catch (const std::exception&) {
  }
  try {
    stamps.dir = fs_.OpenRead(paths->dir)->Stamp();
  } catch (const std::exception&) {
  }
  return stamps;
}

bool frmContentsWindow::ChangedOutside() { return CurrentStamps() != stamps_; }

void frmContentsWindow::Fail(const char* what) {
  ::MessageBoxW(
      hwnd_.get(),
      Utf16(std::string("The contents window cannot go on and will close:\r\n") + what).c_str(),
      L"Unexpected failure", MB_OK);
  hwnd_.reset();
}

// WM_INITMENUPOPUP: the Edit menu's commands, as they may be used now.
void frmContentsWindow::OnInitMenuPopup(HWND, HMENU menu, UINT, BOOL window) {
  if (window) return;
  const bool can = CanChange();
  const std::size_t selected = can ? list_->SelectedCount() : 0;
  const auto enable = [&](UINT id, bool on) {
    ::EnableMenuItem(menu, id, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
  };
  enable(IDM_CONTENTS_ADD, can);
  enable(IDM_CONTENTS_REMOVE, selected > 0);
  enable(IDM_CONTENTS_RENAME, selected == 1);
  enable(IDM_CONTENTS_COMPACT, can);
}

bool frmContentsWindow::CanChange() const {
  return hwnd_ && list_ && !awaitingList_ && !changing_ && !frm_.Running();
}

NameTools frmContentsWindow::Tools() const {
  return {fs_.Ansi(), NamesOf(fs_), [&fs = fs_](std::string_view name) { return fs.Shown(name); },
          [cp = fs_.Ansi().Id()](std::string_view utf8) { return Encode(cp, Utf16(utf8)); }};
}

bool frmContentsWindow::Ask(const std::string& text, const wchar_t* title) {
  return ::MessageBoxW(hwnd_.get(), Utf16(text).c_str(), title,
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void frmContentsWindow::Tell(const std::string& text, const wchar_t* title) {
  ::MessageBoxW(hwnd_.get(), Utf16(text).c_str(), title, MB_OK | MB_ICONEXCLAMATION);
}

// Edit > Add files...: the open-file dialog, several files at once.
void frmContentsWindow::mnuAdd_Click() {
  if (!CanChange()) return;
  std::vector<wchar_t> picked(kPickedRoom, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = hwnd_.get();
  dialog.lpstrFilter = L"All files (*.*)\0*.*\0";
  dialog.lpstrFile = picked.data();
  dialog.nMaxFile = kPickedRoom;
  dialog.lpstrTitle = L"Add files";
  dialog.Flags =
      OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!::GetOpenFileNameW(&dialog)) {
    if (::CommDlgExtendedError() == FNERR_BUFFERTOOSMALL)
      Tell("Too many files were picked at once: add them a few at a time.", L"Add files");
    return;
  }
  AddPaths(PickedPaths(picked));
}

void frmContentsWindow::AddPaths(const std::vector<std::string>& paths) {
  if (!CanChange() || paths.empty()) return;
  const Adding adding = AddFilesOf(
      list_->Value(), paths, [&fs = fs_](const std::string& path) { return fs.LeafStart(path); },
      [&fs = fs_](const std::string& path) {
        try {
          fs.OpenRead(path);
        } catch (const IoError& e) {
          return std::string(e.what());
        }
        return std::string();
      },
      Tools());
  if (!adding.refused.empty()) {
    if (adding.files.empty()) {
      Tell(RefusedQuestion(adding), L"Add files");
      return;
    }
    if (!Ask(RefusedQuestion(adding), L"Add files")) return;
  }
  if (!adding.replaced.empty() && !Ask(ReplaceQuestion(adding), L"Replace entries")) return;
  for (const AddedFile& file : adding.files) selectAfter_.push_back(file.name);
  StartChange("Adding files...",
              [files = adding.files, names = NamesOf(fs_)](
                  FileSystem& fs, const ArchivePaths& paths, const ChangeOptions& options) {
                return AddedNotice(files.size(), AddFiles(fs, paths, files, names, options));
              });
}

// Del and Edit > Remove: the entries of every name selected, after one question.
void frmContentsWindow::mnuRemove_Click() {
  if (!CanChange() || list_->SelectedCount() == 0) return;
  std::vector<std::string_view> names;
  for (const std::size_t row : list_->SelectedRows()) names.push_back(list_->Entry(row).FileName());
  const Named named = NameEntries(list_->Value(), names, Tools());
  if (!named.refusal.empty()) {
    Tell("Nothing was removed: " + named.refusal + ".", L"Remove");
    return;
  }
  if (!Ask(RemoveQuestion(named.entries, path_.substr(fs_.LeafStart(path_))), L"Remove")) return;
  StartChange("Removing...",
              [patterns = named.patterns, names = NamesOf(fs_)](
                  FileSystem& fs, const ArchivePaths& paths, const ChangeOptions& options) {
                return RemovedNotice(RemoveEntries(fs, paths, patterns, names, options).removed);
              });
}

// F2 and Edit > Rename: the name of the one entry selected, edited where it is shown. The list's
// own label edit would edit its first column, the index: a box of the window's own lies over
// the Name cell instead, and no click on a selected row can open it.
void frmContentsWindow::mnuRename_Click() {
  if (!CanChange() || list_->SelectedCount() != 1 || txtRename_) return;
  const std::size_t row = list_->SelectedRows().front();
  ListView_EnsureVisible(lstEntries_, static_cast<int>(row), FALSE);
  RECT cell{};
  ListView_GetSubItemRect(lstEntries_, static_cast<int>(row),
                          static_cast<int>(ContentsColumn::Name), LVIR_LABEL, &cell);
  ::MapWindowPoints(lstEntries_, hwnd_.get(), reinterpret_cast<POINT*>(&cell), 2);
  renaming_ = std::string(list_->Entry(row).FileName());
  txtRename_ =
      CreateControl(hwnd_.get(), IDC_CONTENTS_RENAME, WC_EDITW, Utf16(fs_.Shown(renaming_)).c_str(),
                    ES_AUTOHSCROLL | WS_BORDER, 0,
                    reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(hwnd_.get(), GWLP_HINSTANCE)));
  NameForScreenReaders(txtRename_, L"New name");
  SetWindowFont(txtRename_,
                font_ ? static_cast<HFONT>(font_.get()) : GetStockFont(DEFAULT_GUI_FONT), FALSE);
  ::SetWindowPos(txtRename_, HWND_TOP, cell.left, cell.top, cell.right - cell.left,
                 cell.bottom - cell.top, 0);
  Edit_SetSel(txtRename_, 0, -1);
  ::SetFocus(txtRename_);
}

void frmContentsWindow::txtRename_End(bool take) {
  if (!txtRename_) return;
  // Gone before anything else: a box shown below takes the focus, which ends no edit twice.
  HWND box = std::exchange(txtRename_, nullptr);
  std::string typed;
  try {
    typed = WindowText(box);
  } catch (const UnconvertibleText&) {
    take = false;  // half a character: the name is left as it was
  }
  if (::GetFocus() == box) ::SetFocus(lstEntries_);
  ::DestroyWindow(box);
  if (!take || !list_) return;
  const Renaming renaming = RenameEntry(list_->Value(), renaming_, typed, Tools());
  if (renaming.Unchanged()) return;
  if (!renaming.refusal.empty()) {
    Tell("Nothing was renamed: " + renaming.refusal + ".", L"Rename");
    return;
  }
  selectAfter_ = {renaming.name};
  StartChange("Renaming...",
              [renaming, from = fs_.Shown(renaming_), typed, names = NamesOf(fs_)](
                  FileSystem& fs, const ArchivePaths& paths, const ChangeOptions& options) {
                if (RenameEntries(fs, paths, renaming.pattern, renaming.name, names, options) == 0)
                  throw ChangeError(Quoted(from) + " is no longer in the archive");
                return RenamedNotice(from, typed);
              });
}

// Edit > Compact: the data file without the bytes that no entry holds.
void frmContentsWindow::mnuCompact_Click() {
  if (!CanChange()) return;
  StartChange("Compacting...",
              [](FileSystem& fs, const ArchivePaths& paths, const ChangeOptions& options) {
                return CompactedNotice(CompactArchive(fs, paths, options));
              });
}

void frmContentsWindow::StartChange(std::string doing, Change change) {
  changing_ = true;
  ::EnableWindow(cmdExtract_, FALSE);
  notice_ = std::move(doing);
  ShowStatus();
  HWND window = hwnd_.get();
  changer_ = std::jthread([this, window, change = std::move(change)](std::stop_token stop) {
    Changed changed;
    WaitingFileSystem fs(fs_, [window] { ::PostMessageW(window, kWaitingMessage, 0, 0); });
    try {
      const auto paths = ArchiveOfDataFile(path_, fs_.Paths());
      if (!paths) throw std::runtime_error(Quoted(path_) + " is not a .img");
      changed.notice = change(fs, *paths, {[&stop] { return !stop.stop_requested(); }, false});
    } catch (const ChangedButNotSafe& e) {
      changed.failure = e.what();
      changed.made = true;
    } catch (const ChangeInterrupted&) {
      changed.notice = "Given up: the archive was not changed.";
    } catch (const std::exception& e) {
      changed.failure = e.what();
    }
    {
      const std::lock_guard<std::mutex> lock(readingLock_);
      changed_ = std::move(changed);
    }
    ::PostMessageW(window, kChangedMessage, 0, 0);
  });
}

// kWaitingMessage: another change holds the archive's lock.
void frmContentsWindow::OnWaiting() {
  if (!changing_) return;
  notice_ = kWaitingNotice;
  ShowStatus();
}

// kChangedMessage: the change is done or failed; either way the list shows the archive as it is.
void frmContentsWindow::OnChanged() {
  Changed changed;
  {
    const std::lock_guard<std::mutex> lock(readingLock_);
    changed = std::move(changed_);
  }
  changer_ = std::jthread();
  changing_ = false;
  std::optional<std::vector<std::string>> selection;
  if (changed.failure.empty() && !selectAfter_.empty()) {
    selection.emplace();
    for (const std::string& name : selectAfter_)
      selection->push_back(KeyOf(name, fs_.Ansi(), NamesOf(fs_)));
  }
  selectAfter_.clear();
  if (!changed.failure.empty())
    ::MessageBoxW(hwnd_.get(), Utf16(changed.failure).c_str(),
                  changed.made ? L"Changed, not yet safe" : L"The archive was not changed",
                  MB_OK | MB_ICONERROR);
  if (hwnd_) StartReading(changed.notice, std::move(selection));
}

}  // namespace sectorsieve::ui
