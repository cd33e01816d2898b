// The Win32 binding of the main window, inside the test's own process: what the real controls
// must do for the handlers to behave as they do in memory.

#include "frmMain_win.h"

#include <gtest/gtest.h>
#include <oleacc.h>
#include <shlobj.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include "cli/program.h"
#include "dialog_driver.h"
#include "entry_drag_win.h"
#include "faulty_file_system.h"
#include "frmMain_resource.h"
#include "program.h"
#include "test_support.h"

namespace sectorsieve::ui {
namespace {

HCURSOR SystemCursor(LPCSTR id) { return ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(id)); }

// Runs what is waiting in this thread's queue, as the message loop would.
void Pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

// Pumps the queue until done says so, for at most polls times 10 ms; what done says last.
template <typename Done>
bool PumpUntil(Done done, int polls = 400) {
  for (int i = 0; i < polls && !done(); ++i) {
    Pump();
    ::Sleep(10);
  }
  return done();
}

// Drops the WM_QUIT that a destroyed window leaves, so it cannot end a later test's loop.
void DropQuit() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

// Accessibility and the taskbar are COM services of the window's thread, as in the program.
class ComEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { com_.emplace(); }
  void TearDown() override { com_.reset(); }

 private:
  std::optional<app::ComApartment> com_;
};
[[maybe_unused]] const auto* const kCom = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

// A cell's text asked of list as the control is asked: into text, room characters at most.
void GetCellText(HWND list, int row, int column, wchar_t* text, int room) {
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = room;
  ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

class RealWindow : public ::testing::Test {
 protected:
  void TearDown() override {
    window.Unload();
    DropQuit();
  }
  HWND Control(int id) const { return ::GetDlgItem(window.Handle(), id); }
  bool ExtractEnabled() const { return ::IsWindowEnabled(Control(IDC_CMDEXTRACT)); }

  // Opens the contents window over img and waits until its list shows rows entries.
  void OpenContents(const std::string& img, int rows) {
    window.ShowContents(img);
    contents = ::FindWindowW(SECTORSIEVE_CONTENTS_CLASS, nullptr);
    ASSERT_NE(contents, nullptr);
    list = ::GetDlgItem(contents, IDC_CONTENTS_LIST);
    ASSERT_TRUE(PumpUntil([&] { return ListView_GetItemCount(list) == rows; }))
        << ListView_GetItemCount(list) << " rows";
  }
  std::wstring StatusText() const {
    wchar_t status[256] = {};
    ::SendMessageW(::GetDlgItem(contents, IDC_CONTENTS_STATUS), SB_GETTEXTW, 0,
                   reinterpret_cast<LPARAM>(status));
    return status;
  }

  frmMainWindow window{::GetModuleHandleW(nullptr), Version{1, 0}};
  HWND contents = nullptr;  // and its list, once OpenContents has opened them
  HWND list = nullptr;
};

TEST_F(RealWindow, SettingABoxRaisesItsChangeBeforeTheSetReturns) {
  ::SetWindowTextW(Control(IDC_LBLSOURCE), L"C:\\a\\b.img");
  EXPECT_FALSE(ExtractEnabled()) << "one filled box is not enough";
  ::SetWindowTextW(Control(IDC_LBLDESTINATION), L"C:\\out");
  // No message has been pumped: only a change raised inside SetWindowText can have done this.
  EXPECT_TRUE(ExtractEnabled());
}

TEST_F(RealWindow, ContentsIsGrayedUntilAnArchiveIsChosen) {
  const auto grayed = [&] {
    return (::GetMenuState(::GetMenu(window.Handle()), IDM_CONTENTS, MF_BYCOMMAND) & MF_GRAYED) !=
           0;
  };
  EXPECT_TRUE(grayed());
  ::SetWindowTextW(Control(IDC_LBLSOURCE), L"C:\\a\\b.img");
  EXPECT_FALSE(grayed());
}

// The contents window's list asked as the control asks it: cells cut to the room given, and
// type-ahead that finds a name or says -1.
TEST_F(RealWindow, ContentsListCopiesAtMostTheRoomGivenAndFindsByName) {
  testing::TempDir folder;
  testing::WriteArchive(folder.path() / "a", {{"alpha.txt", 0, 1}, {"beta.bin", 1, 1}}, 2);
  ASSERT_NO_FATAL_FAILURE(OpenContents(folder / "a.img", 2));
  struct Case {
    int row, column, room;
    std::wstring text;
  };
  for (const Case& c : {Case{0, 1, 64, L"alpha.txt"}, Case{0, 1, 4, L"alp"}, Case{1, 1, 1, L""},
                        Case{1, 2, 64, L"2,048"}, Case{1, 3, 3, L"2,"}}) {
    wchar_t text[80];
    std::fill(std::begin(text), std::end(text), L'#');
    GetCellText(list, c.row, c.column, text, c.room);
    EXPECT_EQ(std::wstring(text), c.text) << c.row << ", " << c.column << ", " << c.room;
    EXPECT_EQ(text[c.room], L'#') << "nothing written past the room given";
  }
  for (const auto& [typed, row] : {std::pair{L"BE", 1}, {L"a", 0}, {L"gamma", -1}}) {
    LVFINDINFOW find{};
    find.flags = LVFI_PARTIAL | LVFI_STRING;
    find.psz = typed;
    EXPECT_EQ(::SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1),
                             reinterpret_cast<LPARAM>(&find)),
              row);
  }
}

// The control's selection follows the entries when a click on a column sorts them, however many.
TEST_F(RealWindow, ContentsSortKeepsTheSelectedEntriesSelected) {
  testing::TempDir folder;
  testing::WriteArchive(folder.path() / "a",
                        {{"b.txt", 0, 1}, {"d.txt", 0, 1}, {"a.txt", 0, 1}, {"c.txt", 0, 1}}, 1);
  ASSERT_NO_FATAL_FAILURE(OpenContents(folder / "a.img", 4));
  const auto selectedNames = [&] {
    std::set<std::wstring> names;
    for (int row = -1; (row = ListView_GetNextItem(list, row, LVNI_SELECTED)) >= 0;) {
      wchar_t text[64] = {};
      GetCellText(list, row, 1, text, 64);
      names.insert(text);
    }
    return names;
  };
  const auto clickName = [&] {
    NMLISTVIEW click{};
    click.hdr = {list, IDC_CONTENTS_LIST, LVN_COLUMNCLICK};
    click.iItem = -1;
    click.iSubItem = 1;
    ::SendMessageW(contents, WM_NOTIFY, IDC_CONTENTS_LIST, reinterpret_cast<LPARAM>(&click));
  };
  for (const std::vector<int>& rows : {std::vector<int>{1}, std::vector<int>{0, 1, 2}}) {
    SCOPED_TRACE(rows.size());
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
    for (const int row : rows) ListView_SetItemState(list, row, LVIS_SELECTED, LVIS_SELECTED);
    const std::set<std::wstring> before = selectedNames();
    ASSERT_EQ(before.size(), rows.size());
    clickName();
    EXPECT_TRUE(PumpUntil([&] { return selectedNames() == before; }));
    clickName();
    EXPECT_TRUE(PumpUntil([&] { return selectedNames() == before; }));
  }
}

// A drag of the whole list: the drop lands nowhere (no button is down), and the entry that
// extraction refuses was left out, as the status bar says.
TEST_F(RealWindow, ContentsDragLeavesOutWhatExtractionRefuses) {
  testing::TempDir folder;
  testing::WriteArchive(folder.path() / "a", {{"alpha.txt", 0, 1}, {"late.bin", 9, 1}}, 1);
  ASSERT_NO_FATAL_FAILURE(OpenContents(folder / "a.img", 2));
  ListView_SetItemState(list, -1, LVIS_SELECTED, LVIS_SELECTED);
  NMLISTVIEW drag{};
  drag.hdr = {list, IDC_CONTENTS_LIST, LVN_BEGINDRAG};
  drag.iItem = 0;
  ::SendMessageW(contents, WM_NOTIFY, IDC_CONTENTS_LIST, reinterpret_cast<LPARAM>(&drag));
  EXPECT_EQ(StatusText(),
            L"2 selected, 4,096 bytes. Left out 1 entry that extraction refuses: \"late.bin\" lies "
            L"beyond the end of the archive.");
}

// The data object a drag out hands its target, asked as the shell asks it: one descriptor per
// file, and each file's bytes from its stream as `extract --stdout` writes them.
TEST(EntryDrag, OffersTheFilesAsTheCommandLineExtractsThem) {
  testing::TempDir folder;
  // The data file ends within tail.bin's last sector, whose rest reads as zeros.
  testing::WriteBytes(folder.path() / "a.dir",
                      testing::Record(0, 1, "alpha.txt") + testing::Record(1, 2, "tail.bin"));
  testing::WriteBytes(folder.path() / "a.img", testing::PatternBytes(5000, 3));
  const std::string img = folder / "a.img";
  const unique_data_object object = NewEntryDataObject(
      SystemFileSystem().OpenRead(img), 5000, {{L"alpha.txt", 0, 2048}, {L"tail.bin", 2048, 4096}});
  const auto format = [](const wchar_t* name, LONG index, DWORD medium) {
    return FORMATETC{static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(name)), nullptr,
                     DVASPECT_CONTENT, index, medium};
  };

  FORMATETC descriptors = format(L"FileGroupDescriptorW", -1, TYMED_HGLOBAL);
  STGMEDIUM medium{};
  ASSERT_EQ(object.get()->GetData(&descriptors, &medium), S_OK);
  {
    const auto* group = static_cast<const FILEGROUPDESCRIPTORW*>(::GlobalLock(medium.hGlobal));
    ASSERT_EQ(group->cItems, 2u);
    EXPECT_EQ(std::wstring(group->fgd[0].cFileName), L"alpha.txt");
    EXPECT_EQ(std::wstring(group->fgd[1].cFileName), L"tail.bin");
    EXPECT_EQ(group->fgd[1].nFileSizeLow, 4096u);
    EXPECT_TRUE(group->fgd[1].dwFlags & FD_FILESIZE);
    ::GlobalUnlock(medium.hGlobal);
    ::ReleaseStgMedium(&medium);
  }
  for (const auto& [index, name] : {std::pair{0, "alpha.txt"}, {1, "tail.bin"}}) {
    FORMATETC contents = format(L"FileContents", index, TYMED_ISTREAM);
    ASSERT_EQ(object.get()->GetData(&contents, &medium), S_OK) << name;
    std::string bytes;
    char piece[1000];
    ULONG read = 0;
    while (SUCCEEDED(medium.pstm->Read(piece, sizeof piece, &read)) && read > 0)
      bytes.append(piece, read);
    ::ReleaseStgMedium(&medium);
    const testing::Output extracted = testing::RunProgram({"extract", "--stdout", img, name});
    EXPECT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_EQ(bytes, extracted.outBytes) << name;
  }
  FORMATETC beyond = format(L"FileContents", 2, TYMED_ISTREAM);
  EXPECT_EQ(object.get()->QueryGetData(&beyond), DV_E_LINDEX);
  FORMATETC drop{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  EXPECT_EQ(object.get()->QueryGetData(&drop), DV_E_FORMATETC) << "no files exist to name";

  const unique_drop_source source = NewDropSource();
  EXPECT_EQ(source.get()->QueryContinueDrag(TRUE, MK_LBUTTON), DRAGDROP_S_CANCEL);
  EXPECT_EQ(source.get()->QueryContinueDrag(FALSE, 0), DRAGDROP_S_DROP);
  EXPECT_EQ(source.get()->QueryContinueDrag(FALSE, MK_LBUTTON), S_OK);
}

TEST_F(RealWindow, CreatingTheBoxesFillsNeither) {
  Pump();
  ::SetWindowTextW(Control(IDC_LBLDESTINATION), L"C:\\out");
  EXPECT_FALSE(ExtractEnabled()) << "the source box counted as filled from its initial text";
}

TEST_F(RealWindow, CaptionRoundTripsAnyCharacter) {
  const std::string caption = "Extracting : caf\u00E9 \u0444\u8868.txt";
  window.SetCaption(caption);
  EXPECT_EQ(window.Caption(), caption);
}

TEST_F(RealWindow, HourglassShowsOverTheControlsDuringARun) {
  const HWND box = Control(IDC_LBLSOURCE);
  const auto cursorOver = [&](HWND control) {
    ::SendMessageW(control, WM_SETCURSOR, reinterpret_cast<WPARAM>(control),
                   MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return ::GetCursor();
  };
  window.SetMousePointer(MousePointer::Hourglass);
  EXPECT_EQ(cursorOver(box), SystemCursor(IDC_WAIT));
  EXPECT_EQ(cursorOver(window.Handle()), SystemCursor(IDC_WAIT));
  window.SetMousePointer(MousePointer::Default);
  EXPECT_EQ(cursorOver(box), SystemCursor(IDC_IBEAM)) << "the box's own pointer comes back";
}

// Height of the font a control draws its text with.
LONG FontHeight(HWND control) {
  LOGFONTW font{};
  ::GetObjectW(GetWindowFont(control), sizeof font, &font);
  return font.lfHeight;
}

TEST_F(RealWindow, ControlsDrawInAFontMadeForEachNewDpi) {
  LOGFONTW dialogFont{};
  ::GetObjectW(GetStockFont(DEFAULT_GUI_FONT), sizeof dialogFont, &dialogFont);
  const HDC screen = ::GetDC(nullptr);
  const int screenDpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  EXPECT_EQ(FontHeight(Control(IDC_CMDEXTRACT)), dialogFont.lfHeight)
      << "at the screen's DPI, the system's dialog font";
  for (const int dpi : {144, 192, 96, 120, screenDpi}) {
    SCOPED_TRACE(dpi);
    RECT frame{};
    ::GetWindowRect(window.Handle(), &frame);
    ::SendMessageW(window.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                   reinterpret_cast<LPARAM>(&frame));
    for (const int id : {IDC_LABEL3, IDC_LBLSOURCE, IDC_CMDBROWSESOURCE, IDC_CMDEXTRACT})
      EXPECT_EQ(FontHeight(Control(id)), ::MulDiv(dialogFont.lfHeight, dpi, screenDpi)) << id;
  }
}

TEST_F(RealWindow, ClickPostedForTheDisabledExtractStartsNoRun) {
  ::PostMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CMDEXTRACT, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(IDC_CMDEXTRACT)));
  Pump();
  EXPECT_EQ(window.Caption(), "Orlep's Sectorsieve");
}

TEST_F(RealWindow, DoEventsLeavesTheQuitForTheMessageLoop) {
  ::PostQuitMessage(3);
  window.DoEvents();
  MSG msg{};
  ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(RealWindow, CloseDestroysTheIdleWindowAndEndsTheLoop) {
  const HWND handle = window.Handle();
  ::SendMessageW(handle, WM_CLOSE, 0, 0);
  EXPECT_FALSE(::IsWindow(handle));
  EXPECT_EQ(window.Handle(), nullptr);
  MSG msg{};
  EXPECT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

struct SeenBox {
  std::string title;
  std::string text;
};

// Keeps in the std::string at param the text of child, when it is a longer static.
BOOL CALLBACK KeepLongestStatic(HWND child, LPARAM param) {
  auto& text = *reinterpret_cast<std::string*>(param);
  char name[16] = {};
  ::GetClassNameA(child, name, sizeof name);
  if (const std::string t = testing::WindowUtf8Text(child);
      ::lstrcmpiA(name, "Static") == 0 && t.size() > text.size())
    text = t;
  return TRUE;
}

// Presses Extract and answers the message box the run ends with, from a helper thread.
SeenBox ExtractAndAnswer(frmMainWindow& window) {
  SeenBox seen;
  std::jthread answer([&] {
    const HWND box = testing::WaitForDialog(window.Handle());
    if (!box) return;
    seen.title = testing::WindowText(box);
    // The box's text is its longest static; another one holds the (absent) icon.
    ::EnumChildWindows(box, KeepLongestStatic, reinterpret_cast<LPARAM>(&seen.text));
    testing::Click(::GetDlgItem(box, IDOK));
  });
  ::SendMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CMDEXTRACT, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(window.Handle(), IDC_CMDEXTRACT)));
  return seen;
}

TEST_F(RealWindow, APathThatIsNotUnicodeStopsTheRunWithItsBox) {
  ::SetWindowTextW(Control(IDC_LBLSOURCE), L"C:\\a\\b.img");
  // Half of a surrogate pair: no file has such a name that UTF-8 can carry.
  ::SetWindowTextW(Control(IDC_LBLDESTINATION), L"C:\\a\\\xD800");
  const SeenBox box = ExtractAndAnswer(window);
  EXPECT_EQ(box.title, "Extraction failed");
  EXPECT_EQ(box.text,
            "The folder \"C:\\a\\\uFFFD\" has characters in its name that this program cannot "
            "use.\r\nPlease choose another folder.");
  EXPECT_EQ(window.Caption(), "Extraction failed");
  EXPECT_TRUE(ExtractEnabled());
}

// Failures that no disk reports still end the run, and the window then closes as always.
TEST(RealWindowFailure, EndsTheRunAndTheWindowStillCloses) {
  const struct {
    std::function<void()> failure;
    std::string text;
  } cases[] = {
      {[] { throw std::bad_alloc(); },
       "There is not enough memory to read the directory file \"C:\\a\\b.dir\"."},
      {[] { throw std::logic_error("a broken invariant"); },
       "The extraction stopped: a broken invariant"},
  };
  for (const auto& c : cases) {
    hostile::FaultyFileSystem files(hostile::FileOp::OpenDirectory, 1);
    files.failure = c.failure;
    frmMainWindow window(::GetModuleHandleW(nullptr), Version{1, 0}, files);
    ::SetWindowTextW(::GetDlgItem(window.Handle(), IDC_LBLSOURCE), L"C:\\a\\b.img");
    ::SetWindowTextW(::GetDlgItem(window.Handle(), IDC_LBLDESTINATION), L"C:\\out");
    const SeenBox box = ExtractAndAnswer(window);
    EXPECT_EQ(box.title, "Extraction failed");
    EXPECT_EQ(box.text, c.text);
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(window.Handle(), IDC_CMDBROWSESOURCE)));
    const HWND handle = window.Handle();
    ::SendMessageW(handle, WM_CLOSE, 0, 0);
    EXPECT_FALSE(::IsWindow(handle));
    DropQuit();
  }
}

TEST_F(RealWindow, ScreenReadersNameThePathBoxes) {
  const struct {
    int id;
    const wchar_t* name;
  } boxes[] = {{IDC_LBLSOURCE, L"Source"}, {IDC_LBLDESTINATION, L"Destination"}};
  for (const auto& box : boxes) {
    IAccessible* accessible = nullptr;
    ASSERT_EQ(::AccessibleObjectFromWindow(Control(box.id), static_cast<DWORD>(OBJID_CLIENT),
                                           IID_IAccessible, reinterpret_cast<void**>(&accessible)),
              S_OK);
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    accessible->get_accName(self, &name);
    // The annotation where the system applies it; else the label just before the box.
    const std::wstring got = name ? name : L"";
    EXPECT_TRUE(got == box.name || got == std::wstring(box.name) + L" :") << box.name;
    ::SysFreeString(name);
    accessible->Release();
  }
}

// A drop as the shell hands it over: a DROPFILES header, then the wide paths, each ended by a
// NUL and the list by another. The window frees it, as a drop's receiver must.
HDROP MakeDrop(const std::vector<std::wstring>& paths) {
  std::wstring list;
  for (const std::wstring& path : paths) list += path + L'\0';
  list += L'\0';
  const std::size_t bytes = list.size() * sizeof(wchar_t);
  const HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + bytes);
  auto* header = static_cast<DROPFILES*>(::GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), list.data(), bytes);
  ::GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

TEST_F(RealWindow, DroppedArchiveAndFolderFillBothBoxesWhateverTheirScript) {
  testing::TempDir root;
  const auto folder = root.path() / L"\u0414\u0430\u043D\u043D\u044B\u0435 \u65E5\u672C";
  std::filesystem::create_directories(folder / "out");
  testing::WriteArchive(folder / "dropped", {{"a.bin", 0, 1}}, 1);
  ::ShowWindow(window.Handle(), SW_SHOW);
  ::SendMessageW(window.Handle(), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(
                     MakeDrop({(folder / "dropped.img").wstring(), (folder / "out").wstring()})),
                 0);
  EXPECT_EQ(window.Caption(), "Orlep's Sectorsieve");
  wchar_t text[MAX_PATH] = {};
  ::GetWindowTextW(Control(IDC_LBLSOURCE), text, MAX_PATH);
  EXPECT_EQ(std::wstring(text), (folder / "dropped.img").wstring());
  ::GetWindowTextW(Control(IDC_LBLDESTINATION), text, MAX_PATH);
  EXPECT_EQ(std::wstring(text), (folder / "out").wstring());
  EXPECT_TRUE(ExtractEnabled());
  Pump();
  testing::SaveScreenshot(window.Handle(), "dropped");
}

// Files as the shell offers them to a drop target: CF_HDROP, a fresh copy for each GetData.
class DroppedFiles final : public IDataObject {
 public:
  explicit DroppedFiles(std::vector<std::wstring> paths) : paths_(std::move(paths)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = iid == IID_IUnknown || iid == IID_IDataObject ? this : nullptr;
    return *object ? S_OK : E_NOINTERFACE;
  }
  // Lives on the test's stack.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (QueryGetData(format) != S_OK) return DV_E_FORMATETC;
    *medium = {};
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = MakeDrop(paths_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
    return format->cfFormat == CF_HDROP && (format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
  }
  // Nothing else is asked of it.
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

 private:
  std::vector<std::wstring> paths_;
};

// Files dropped in through the window's drop target, a data object made here: a name no entry
// can take is named, the entries replaced are asked for, and the archive ends as `add` leaves
// its twin.
TEST_F(RealWindow, ContentsAddsTheFilesDroppedInAsTheCommandLineAdds) {
  testing::TempDir folder;
  testing::TempDir twin;
  testing::TempDir source;
  const std::vector<testing::Entry> entries = {
      {"alpha.txt", 0, 1}, {"beta.bin", 1, 2}, {"gamma.txt", 3, 1}};
  testing::WriteArchive(folder.path() / "a", entries, 4);
  testing::WriteArchive(twin.path() / "a", entries, 4);
  std::vector<std::string> added;
  for (const std::string name : {"new.bin", "ALPHA.TXT", "Beta.bin"}) {
    testing::WriteBytes(source.path() / name, testing::PatternBytes(3000 + added.size(), 9));
    added.push_back(source / name);
  }
  testing::WriteBytes(source.path() / "two words.txt", "x");
  ASSERT_NO_FATAL_FAILURE(OpenContents(folder / "a.img", 3));
  // Where OLE keeps the target that RegisterDragDrop was given.
  auto* target = static_cast<IDropTarget*>(::GetPropW(contents, L"OleDropTargetInterface"));
  ASSERT_NE(target, nullptr);
  DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
  // Entries dragged out of a contents window are no files yet.
  const unique_data_object dragged = NewEntryDataObject(nullptr, 0, {});
  EXPECT_EQ(target->DragEnter(dragged.get(), 0, POINTL{}, &effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE)) << "only files are taken";
  target->DragLeave();

  std::vector<std::wstring> dropped;
  for (const std::string& path : added) dropped.push_back(std::filesystem::path(path).wstring());
  dropped.push_back((source.path() / "two words.txt").wstring());
  std::filesystem::create_directory(source.path() / "sub");
  dropped.push_back((source.path() / "sub").wstring());
  DroppedFiles files(std::move(dropped));
  std::vector<std::string> asked;
  std::thread answer([&] {
    for (int i = 0; i < 2; ++i) {
      const HWND box = testing::WaitForDialog(contents);
      if (!box) return;
      asked.push_back(testing::WindowUtf8Text(::GetDlgItem(box, 0xFFFF)));
      testing::Click(::GetDlgItem(box, IDYES));
      for (int wait = 0; wait < 400 && ::IsWindow(box); ++wait) ::Sleep(10);
    }
  });
  effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
  EXPECT_EQ(target->DragEnter(&files, 0, POINTL{}, &effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
  EXPECT_EQ(target->Drop(&files, 0, POINTL{}, &effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
  PumpUntil([&] { return StatusText().find(L"Added") != std::wstring::npos; }, 1000);
  answer.join();
  EXPECT_EQ(StatusText(), L"3 selected, 12,288 bytes. Added 3 files: 1 new, 2 replaced.");
  EXPECT_EQ(asked, (std::vector<std::string>{
                       "cannot add \"" + (source / "two words.txt") +
                           "\": \"two words.txt\" cannot be an entry's name: its name holds a "
                           "space\r\ncannot read \"" +
                           (source / "sub") +
                           "\": it is a folder, not a file\r\n\r\nAdd the other 3 files?",
                       "Replace 2 entries?\r\n\r\nalpha.txt\r\nbeta.bin"}));
  std::vector<std::string> args = {"add", twin / "a.img"};
  args.insert(args.end(), added.begin(), added.end());
  ASSERT_EQ(testing::RunProgram(args).status, 0);
  EXPECT_EQ(testing::RunProgram({"list", "--json", folder / "a.img"}).out,
            testing::RunProgram({"list", "--json", twin / "a.img"}).out);
  EXPECT_EQ(testing::ReadBytes(folder.path() / "a.img"), testing::ReadBytes(twin.path() / "a.img"));
  EXPECT_EQ(testing::ReadBytes(folder.path() / "a.dir"), testing::ReadBytes(twin.path() / "a.dir"));
  EXPECT_EQ(ListView_GetItemCount(list), 4);
}

TEST(ProgramVersion, ComesFromTheVersionRecord) {
  const Version version = app::ProgramVersion();
  EXPECT_EQ(version.major, 1);
  EXPECT_EQ(version.minor, 0);
}

}  // namespace
}  // namespace sectorsieve::ui
