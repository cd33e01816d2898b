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
// Files were dropped in.
constexpr UINT kDroppedMessage = WM_APP + 5;
// What frmContents's threads and slices post, each its event's number beyond this one.
constexpr UINT kEventMessage = WM_APP + 16;
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

// More rows than this selected or cleared at once, the window does it itself where the list
// control would take each row in turn.
constexpr int kManyRows = 64;

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

// The row a key moves the focus to from focused, as a list in report view moves it; -1 for a
// key that moves no row.
int KeyTarget(HWND list, WPARAM key, int focused, int rows) {
  const int top = ListView_GetTopIndex(list);
  const int page = std::max(1, ListView_GetCountPerPage(list));
  const int bottom = std::min(rows - 1, top + page - 1);
  switch (key) {
    case VK_UP:
      return std::max(0, focused - 1);
    case VK_DOWN:
      return std::min(rows - 1, focused + 1);
    case VK_HOME:
      return 0;
    case VK_END:
      return rows - 1;
    case VK_PRIOR:  // the top of the view, else a view up
      return focused > top ? top : std::max(0, focused - page + 1);
    case VK_NEXT:  // the bottom of the view, else a view down
      return focused < bottom ? bottom : std::min(rows - 1, focused + page - 1);
  }
  return -1;
}

}  // namespace

frmContentsWindow::frmContentsWindow(HINSTANCE instance, HWND owner, std::string path, frmMain& frm,
                                     FileSystem& fs)
    : frm_({*this, txtFilter_, lblCount_, *this, cmdExtract_}, std::move(path), frm, fs,
           [cp = fs.Ansi().Id()](std::string_view utf8) { return Encode(cp, Utf16(utf8)); }) {
  RegisterWindowClass(instance, SECTORSIEVE_CONTENTS_CLASS, WindowProcOf<frmContentsWindow>,
                      IDI_SECTORSIEVE, nullptr, "The contents window");
  const int dpi = WindowDpi(owner);
  const SIZE size = FrameSize(kClientWidth, kClientHeight, dpi);
  const std::string caption = Path().substr(fs.LeafStart(Path())) + " - Contents";
  const POINT at = PlaceBelow(owner, size, dpi);
  if (!::CreateWindowExW(0, SECTORSIEVE_CONTENTS_CLASS, Utf16(caption).c_str(), kStyle, at.x, at.y,
                         size.cx, size.cy, owner, NewMenu(), instance, this))
    throw std::runtime_error("The contents window could not be created");
  ::ShowWindow(hwnd_.get(), SW_SHOWNORMAL);
  frm_.Form_Load();
}

frmContentsWindow::~frmContentsWindow() {
  txtRename_End(false);
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
      frm_.mnuRemove_Click();
    else
      mnuRename_Click();
    return true;
  }
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_F5) {
    frm_.Form_KeyF5();
    return true;
  }
  if (msg.message == WM_KEYDOWN && msg.wParam == 'A' && msg.hwnd == lstEntries_ &&
      ::GetKeyState(VK_CONTROL) < 0) {
    frm_.Form_KeyCtrlA();
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
    case kDroppedMessage:
      frm_.AddPaths(std::exchange(dropped_, {}));
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(hwnd, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
  }
  if (msg > kEventMessage && msg <= kEventMessage + static_cast<UINT>(ContentsEvent::Status) + 1) {
    const auto event = static_cast<ContentsEvent>(msg - kEventMessage - 1);
    // A name being edited belongs to the list it was begun in.
    if (event == ContentsEvent::Read) txtRename_End(false);
    frm_.OnEvent(event);
    return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

// WM_CREATE: the controls in tab order, each label before its box, for the box's name.
BOOL frmContentsWindow::OnCreate(HWND hwnd, LPCREATESTRUCT create) {
  HINSTANCE instance = create->hInstance;
  CreateControl(hwnd, IDC_CONTENTS_FINDLABEL, WC_STATICW, L"&Find:", SS_LEFT, 0, instance);
  txtFilter_.hwnd = CreateControl(hwnd, IDC_CONTENTS_FILTER, WC_EDITW, L"",
                                  ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, instance);
  lblCount_.hwnd = CreateControl(hwnd, IDC_CONTENTS_COUNT, WC_STATICW, L"", SS_RIGHT, 0, instance);
  // Clipped around the box where a name is edited, which lies over it.
  lstEntries_ =
      CreateControl(hwnd, IDC_CONTENTS_LIST, WC_LISTVIEWW, L"",
                    LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | WS_TABSTOP | WS_CLIPSIBLINGS,
                    WS_EX_CLIENTEDGE, instance);
  cmdExtract_.hwnd = CreateControl(hwnd, IDC_CONTENTS_EXTRACT, WC_BUTTONW, L"&Extract",
                                   BS_DEFPUSHBUTTON | WS_TABSTOP | WS_DISABLED, 0, instance);
  sbStatus_ =
      CreateControl(hwnd, IDC_CONTENTS_STATUS, STATUSCLASSNAMEW, L"", SBARS_SIZEGRIP, 0, instance);
  ListView_SetExtendedListViewStyle(lstEntries_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  ::SetWindowLongPtrW(lstEntries_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  listProc_ = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(lstEntries_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListProc)));
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
  NameForScreenReaders(txtFilter_.hwnd, L"Find");
  NameForScreenReaders(lstEntries_, L"Entries");
  LayOut(dpi_);
  focus_ = txtFilter_.hwnd;
  if (ole_.initialised) {
    dropTarget_ = NewFileDropTarget([this] { return hwnd_ && frm_.CanChange(); },
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
      // The filter applies once typing pauses.
      if (code == EN_CHANGE) ::SetTimer(hwnd_.get(), kFilterTimer, kFilterPauseMs, nullptr);
      break;
    case IDC_CONTENTS_EXTRACT:
      if (code == BN_CLICKED && cmdExtract_.Enabled()) cmdExtract_Click();
      break;
    case IDC_CONTENTS_RENAME:
      // As Explorer does: a name left for elsewhere is taken.
      if (code == EN_KILLFOCUS) txtRename_End(true);
      break;
    case IDM_CONTENTS_ADD:
      mnuAdd_Click();
      break;
    case IDM_CONTENTS_REMOVE:
      frm_.mnuRemove_Click();
      break;
    case IDM_CONTENTS_RENAME:
      mnuRename_Click();
      break;
    case IDM_CONTENTS_COMPACT:
      frm_.mnuCompact_Click();
      break;
    case IDCANCEL:  // Escape, as IsDialogMessage reports it
      frm_.Form_KeyEscape();
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
      frm_.lstEntries_ColumnClick(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
      return 0;
    case LVN_BEGINDRAG:
      lstEntries_BeginDrag();
      return 0;
    case LVN_DELETEALLITEMS:  // and no LVN_DELETEITEM for each row: there is nothing to free
      return TRUE;
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
  const ContentsList* list = frm_.List();
  if (!list || item.iItem < 0 || static_cast<std::size_t>(item.iItem) >= list->Rows() ||
      item.iSubItem < 0 || item.iSubItem >= kContentsColumns) {
    item.pszText[0] = L'\0';
    return;
  }
  const std::wstring text = Utf16(list->CellText(static_cast<std::size_t>(item.iItem),
                                                 static_cast<ContentsColumn>(item.iSubItem)));
  ::lstrcpynW(item.pszText, text.c_str(), item.cchTextMax);
}

// LVN_ODFINDITEM: type-ahead, the next row whose name begins with what was typed; -1 for none.
LRESULT frmContentsWindow::lstEntries_FindItem(const NMLVFINDITEMW& find) {
  if (!(find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.lvfi.psz) return -1;
  const auto typed = Utf8(find.lvfi.psz);
  if (!typed) return -1;
  const std::size_t start = find.iStart < 0 ? 0 : static_cast<std::size_t>(find.iStart);
  const auto row = frm_.lstEntries_FindItem(*typed, start);
  return row ? static_cast<LRESULT>(*row) : -1;
}

// LVN_ITEMCHANGED: one row's selection, or every row's (-1), as the user changed it.
void frmContentsWindow::lstEntries_ItemChanged(const NMLISTVIEW& change) {
  if (!(change.uChanged & LVIF_STATE)) return;
  const bool now = change.uNewState & LVIS_SELECTED;
  if (now == static_cast<bool>(change.uOldState & LVIS_SELECTED)) return;
  frm_.lstEntries_ItemChanged(
      change.iItem < 0 ? std::nullopt : std::optional(static_cast<std::size_t>(change.iItem)), now);
}

// LVN_ODSTATECHANGED: a range of rows selected at once (Shift+click, Shift+arrows).
void frmContentsWindow::lstEntries_StateChanged(const NMLVODSTATECHANGE& change) {
  if (change.iFrom < 0 || ((change.uNewState ^ change.uOldState) & LVIS_SELECTED) == 0) return;
  frm_.lstEntries_RangeChanged(static_cast<std::size_t>(change.iFrom),
                               static_cast<std::size_t>(change.iTo),
                               change.uNewState & LVIS_SELECTED);
}

// LVN_BEGINDRAG: the selection dragged out as files, their bytes read as the target asks.
// Entries extraction refuses are left out, and the status bar says so once the drag is over.
void frmContentsWindow::lstEntries_BeginDrag() {
  // The drag may begin within the click that held the list's painting; its end clears nothing.
  ReleaseRedraw();
  clickedRow_ = -1;
  EntryDrag drag = frm_.lstEntries_BeginDrag();
  if (!drag.files.empty()) {
    std::vector<DraggedFile> files;
    for (const EntryDrag::File& file : drag.files)
      files.push_back({Utf16(file.name), file.start, file.bytes});
    const unique_data_object object =
        NewEntryDataObject(std::move(drag.data), drag.dataSize, std::move(files));
    const unique_drop_source source = NewDropSource();
    DWORD effect = DROPEFFECT_NONE;
    ::DoDragDrop(object.get(), source.get(), DROPEFFECT_COPY, &effect);
  }
  if (hwnd_) frm_.lstEntries_EndDrag(std::move(drag.notice));
}

// WM_TIMER: typing paused; the filter applies.
void frmContentsWindow::OnTimer(HWND hwnd, UINT id) {
  if (id != kFilterTimer) return;
  ::KillTimer(hwnd, kFilterTimer);
  frm_.txtFilter_Timer();
}

void frmContentsWindow::cmdExtract_Click() {
  frm_.cmdExtract_Click();
  // The window may have been closed during the run.
  if (hwnd_ && !::GetFocus() && ::GetActiveWindow() == hwnd_.get()) ::SetFocus(lstEntries_);
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
  place(txtFilter_.hwnd, m + labelWidth, m, width - 3 * m - labelWidth - countWidth, boxHeight);
  place(lblCount_.hwnd, width - m - countWidth, labelTop, countWidth, Pixels(kLabelHeight, d));
  const int listTop = 2 * m + boxHeight;
  const int buttonTop = height - statusHeight - m - buttonHeight;
  place(lstEntries_, m, listTop, width - 2 * m, buttonTop - m - listTop);
  place(cmdExtract_.hwnd, width - m - buttonWidth, buttonTop, buttonWidth, buttonHeight);
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
  frm_.Form_Activate();
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
  txtFilter_.hwnd = lblCount_.hwnd = cmdExtract_.hwnd = nullptr;
  lstEntries_ = sbStatus_ = txtRename_ = nullptr;
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
  const bool can = frm_.CanChange();
  const std::size_t selected = can ? frm_.List()->SelectedCount() : 0;
  const auto enable = [&](UINT id, bool on) {
    ::EnableMenuItem(menu, id, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
  };
  enable(IDM_CONTENTS_ADD, can);
  enable(IDM_CONTENTS_REMOVE, selected > 0);
  enable(IDM_CONTENTS_RENAME, selected == 1);
  enable(IDM_CONTENTS_COMPACT, can);
}

bool frmContentsWindow::Ask(const std::string& text, const std::string& title) {
  return ::MessageBoxW(hwnd_.get(), Utf16(text).c_str(), Utf16(title).c_str(),
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void frmContentsWindow::Tell(const std::string& text, const std::string& title) {
  ::MessageBoxW(hwnd_.get(), Utf16(text).c_str(), Utf16(title).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

void frmContentsWindow::ShowFailure(const std::string& text, const std::string& title) {
  ::MessageBoxW(hwnd_.get(), Utf16(text).c_str(), Utf16(title).c_str(), MB_OK | MB_ICONERROR);
}

void frmContentsWindow::SetStatus(int part, const std::string& text) {
  ::SendMessageW(sbStatus_, SB_SETTEXTW, static_cast<WPARAM>(part),
                 reinterpret_cast<LPARAM>(Utf16(text).c_str()));
}

// From any thread; a window gone by then takes nothing.
void frmContentsWindow::Post(ContentsEvent event) {
  ::PostMessageW(hwnd_.get(), kEventMessage + 1 + static_cast<UINT>(event), 0, 0);
}

void frmContentsWindow::Close() { hwnd_.reset(); }

// Some list controls clear "every row" a row at a time, a million of them, and a selection of
// scattered rows a range at a time: the selection goes with the rows instead, none for a moment.
void frmContentsWindow::SetRows(std::size_t rows) {
  const int focused = ListView_GetNextItem(lstEntries_, -1, LVNI_FOCUSED);
  if (focused >= 0) ListView_SetItemState(lstEntries_, focused, 0, LVIS_FOCUSED);
  if (ListView_GetSelectedCount(lstEntries_) > 0) ListView_DeleteAllItems(lstEntries_);
  ListView_SetItemCountEx(lstEntries_, static_cast<int>(rows),
                          LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
}

void frmContentsWindow::Select(const std::vector<std::size_t>& rows) {
  if (rows.empty()) return;
  const bool held = HoldRedraw();
  for (const std::size_t row : rows)
    ListView_SetItemState(lstEntries_, static_cast<int>(row), LVIS_SELECTED, LVIS_SELECTED);
  if (held) ReleaseRedraw();
}

// Some list controls repaint each row whose selection changes as it changes, a call to the
// display server a row: a click that selects or clears half a million rows would keep the window
// from answering for a minute. While the list takes what may change many rows, its painting
// waits, and it is painted once after. Whether painting was held by this call.
bool frmContentsWindow::HoldRedraw() {
  if (redrawHeld_) return false;
  redrawHeld_ = true;
  ::SendMessageW(lstEntries_, WM_SETREDRAW, FALSE, 0);
  return true;
}

void frmContentsWindow::ReleaseRedraw() {
  if (!std::exchange(redrawHeld_, false)) return;
  ::SendMessageW(lstEntries_, WM_SETREDRAW, TRUE, 0);
  ::RedrawWindow(lstEntries_, nullptr, nullptr,
                 RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

// Whether many rows are selected: enough that the list control may take long to clear them.
bool frmContentsWindow::ManySelected() const {
  return ListView_GetSelectedCount(lstEntries_) > static_cast<UINT>(kManyRows);
}

// What the list takes that may change the selection of many rows: a click or key with Shift (a
// range), or while many are selected (a plain click clears them), and every row's state at once.
bool frmContentsWindow::MayChangeManyRows(UINT msg, WPARAM wParam) const {
  switch (msg) {
    case LVM_SETITEMSTATE:
      return static_cast<int>(wParam) == -1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
      return (wParam & MK_SHIFT) || ManySelected();
    case WM_KEYDOWN:
      return ::GetKeyState(VK_SHIFT) < 0 || ManySelected();
  }
  return false;
}

// Some list controls clear a selection a row at a time, telling each row apart: a plain click
// that leaves one row of a million selected would take seconds. Where the click is about to
// clear the selection, it goes at once, with the rows, and the view is put back where it was.
// The row under a mouse message's point, or -1.
int frmContentsWindow::RowAt(LPARAM point) const {
  LVHITTESTINFO hit{};
  hit.pt = {GET_X_LPARAM(point), GET_Y_LPARAM(point)};
  return ListView_HitTest(lstEntries_, &hit);
}

void frmContentsWindow::BeforeClick(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_LBUTTONDOWN && msg != WM_LBUTTONUP && msg != WM_RBUTTONDOWN) return;
  const int row = RowAt(lParam);
  const bool onSelected =
      row >= 0 && ListView_GetItemState(lstEntries_, row, LVIS_SELECTED) == LVIS_SELECTED;
  if (msg == WM_LBUTTONDOWN) clickedRow_ = row;
  if ((wParam & (MK_SHIFT | MK_CONTROL)) || !ManySelected()) return;
  // A press on a selected row may begin a drag of them all: they are cleared once it is let go
  // where it began, as the control does.
  const bool clears = msg == WM_LBUTTONUP ? onSelected && row == clickedRow_ : !onSelected;
  if (clears) ClearSelectionAtOnce();
}

void frmContentsWindow::ClearSelectionAtOnce() {
  const int top = ListView_GetTopIndex(lstEntries_);
  RECT rowBox{};
  ListView_GetItemRect(lstEntries_, top, &rowBox, LVIR_BOUNDS);
  const int across = ::GetScrollPos(lstEntries_, SB_HORZ);
  SetRows(static_cast<std::size_t>(ListView_GetItemCount(lstEntries_)));
  // Some controls keep the view through this, others go back to the top.
  ListView_Scroll(lstEntries_, across - ::GetScrollPos(lstEntries_, SB_HORZ),
                  (top - ListView_GetTopIndex(lstEntries_)) * (rowBox.bottom - rowBox.top));
  frm_.lstEntries_ItemChanged(std::nullopt, false);
}

// Shift with a click or a key selects the rows from the mark to the row it goes to, and only
// them. Some list controls select them a row at a time, and clear the others a row at a time:
// half a million rows would take seconds. Where many rows would change, the window takes the
// range itself: in the list at once, in the control the rows in view first and the others a
// slice at a time. Whether it took msg.
bool frmContentsWindow::TakeRange(UINT msg, WPARAM wParam, LPARAM lParam) {
  const int rows = ListView_GetItemCount(lstEntries_);
  const int focused = ListView_GetNextItem(lstEntries_, -1, LVNI_FOCUSED);
  int target = -1;
  if (msg == WM_LBUTTONDOWN && (wParam & MK_SHIFT) && !(wParam & MK_CONTROL)) {
    target = RowAt(lParam);
  } else if (msg == WM_KEYDOWN && ::GetKeyState(VK_SHIFT) < 0 && ::GetKeyState(VK_CONTROL) >= 0 &&
             focused >= 0) {
    target = KeyTarget(lstEntries_, wParam, focused, rows);
  }
  if (target < 0) return false;
  int mark = ListView_GetSelectionMark(lstEntries_);
  if (mark < 0 || mark >= rows) mark = focused >= 0 ? focused : target;
  const int first = std::min(mark, target);
  const int last = std::max(mark, target);
  if (last - first < kManyRows && !ManySelected()) return false;  // the control's own way is quick
  ClearSelectionAtOnce();
  ListView_SetSelectionMark(lstEntries_, mark);
  ListView_SetItemState(lstEntries_, target, LVIS_FOCUSED, LVIS_FOCUSED);
  ListView_EnsureVisible(lstEntries_, target, FALSE);
  frm_.lstEntries_RangeTaken(static_cast<std::size_t>(first), static_cast<std::size_t>(last));
  std::vector<std::size_t> shown;
  const int top = ListView_GetTopIndex(lstEntries_);
  const int end = std::min(last, top + ListView_GetCountPerPage(lstEntries_));
  for (int row = std::max(first, top); row <= end; ++row)
    shown.push_back(static_cast<std::size_t>(row));
  Select(shown);
  if (msg == WM_LBUTTONDOWN) ::SetFocus(lstEntries_);
  return true;
}

// The list's own window procedure, first: what may change many rows holds its painting, and a
// click that clears many rows clears them at once. Replaced the plain way: a subclass through
// the common controls' chain looks itself up on every message, which some systems make a call
// to the display server, a row at a time.
LRESULT CALLBACK frmContentsWindow::ListProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto& window = *reinterpret_cast<frmContentsWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  const WNDPROC list = window.listProc_;
  if (msg == WM_NCDESTROY)
    ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(list));
  if (!window.MayChangeManyRows(msg, wParam) || !window.HoldRedraw())
    return ::CallWindowProcW(list, hwnd, msg, wParam, lParam);
  if (window.TakeRange(msg, wParam, lParam)) {
    window.ReleaseRedraw();
    return 0;
  }
  window.BeforeClick(msg, wParam, lParam);
  const LRESULT result = ::CallWindowProcW(list, hwnd, msg, wParam, lParam);
  window.ReleaseRedraw();
  return result;
}

void frmContentsWindow::Focus(std::size_t row) {
  ListView_SetItemState(lstEntries_, static_cast<int>(row), LVIS_FOCUSED, LVIS_FOCUSED);
  ListView_EnsureVisible(lstEntries_, static_cast<int>(row), FALSE);
}

void frmContentsWindow::SetSortArrow(ContentsColumn column, bool descending) {
  HWND header = ListView_GetHeader(lstEntries_);
  for (int i = 0; i < kContentsColumns; ++i) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    ::SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (static_cast<ContentsColumn>(i) == column)
      item.fmt |= descending ? HDF_SORTDOWN : HDF_SORTUP;
    ::SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
}

void frmContentsWindow::Redraw() { ::InvalidateRect(lstEntries_, nullptr, FALSE); }

// Edit > Add files...: the open-file dialog, several files at once.
void frmContentsWindow::mnuAdd_Click() {
  if (!frm_.CanChange()) return;
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
      Tell("Too many files were picked at once: add them a few at a time.", "Add files");
    return;
  }
  frm_.AddPaths(PickedPaths(picked));
}

// F2 and Edit > Rename: the name of the one entry selected, edited where it is shown. The list's
// own label edit would edit its first column, the index: a box of the window's own lies over
// the Name cell instead, and no click on a selected row can open it.
void frmContentsWindow::mnuRename_Click() {
  if (!frm_.CanChange() || frm_.List()->SelectedCount() != 1 || txtRename_) return;
  const std::size_t row = *frm_.List()->FirstSelectedRow();
  ListView_EnsureVisible(lstEntries_, static_cast<int>(row), FALSE);
  RECT cell{};
  ListView_GetSubItemRect(lstEntries_, static_cast<int>(row),
                          static_cast<int>(ContentsColumn::Name), LVIR_LABEL, &cell);
  ::MapWindowPoints(lstEntries_, hwnd_.get(), reinterpret_cast<POINT*>(&cell), 2);
  renaming_ = std::string(frm_.List()->Entry(row).FileName());
  txtRename_ = CreateControl(
      hwnd_.get(), IDC_CONTENTS_RENAME, WC_EDITW,
      Utf16(frm_.List()->CellText(row, ContentsColumn::Name)).c_str(), ES_AUTOHSCROLL | WS_BORDER,
      0, reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(hwnd_.get(), GWLP_HINSTANCE)));
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
  if (take) frm_.txtRename_Done(renaming_, typed);
}

}  // namespace sectorsieve::ui
