#pragma once

// The contents window: the entries of the main window's archive in an owner-data list view,
// filtered, sorted and picked, and taken out through the main window's run. The list's rules
// live in ContentsList; this is its Win32 binding.

#include <windows.h>
// The common controls' header builds on windows.h.
#include <commctrl.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "contents_edit.h"
#include "contents_list.h"
#include "entry_drag_win.h"
#include "file_io.h"
#include "frmMain.h"
#include "unique_handle.h"
#include "win_handles.h"
#include "window_support_win.h"

namespace sectorsieve::ui {

class frmContentsWindow {
 public:
  // Opens a window over the archive whose data file is path (UTF-8), owned by owner, and starts
  // reading the archive on a thread of its own; the list fills once it is read.
  frmContentsWindow(HINSTANCE instance, HWND owner, std::string path, frmMain& frm, FileSystem& fs);
  ~frmContentsWindow();
  frmContentsWindow(const frmContentsWindow&) = delete;
  frmContentsWindow& operator=(const frmContentsWindow&) = delete;

  // Null once the window has been closed.
  HWND Handle() const { return hwnd_.get(); }
  const std::string& Path() const { return path_; }
  // Takes msg when it is for this window: its keys (F5, Ctrl+A, Del, F2; Enter and Escape in
  // a name being edited), then the dialog keys (Tab, Enter, Escape) between its controls.
  // Returns whether it was taken.
  bool PreTranslate(MSG& msg);

 private:
  // The archive as its files stood when it was read: a change from outside shows in them.
  struct Stamps {
    std::optional<FileId> dataId;
    std::optional<FileStamp> data;
    std::optional<FileStamp> dir;
    bool operator==(const Stamps&) const = default;
  };
  // What the reading thread hands over: first the list, then what check finds of it.
  struct Reading {
    unsigned generation = 0;
    std::unique_ptr<ContentsList> list;
    std::string failure;
    Stamps stamps;
    std::optional<ArchiveCheck> check;
  };

  // A change of the archive, on the changing thread: what the status bar says once it is done.
  using Change = std::function<std::string(FileSystem& fs, const ArchivePaths& paths,
                                           const ChangeOptions& options)>;
  // What the changing thread hands over.
  struct Changed {
    std::string notice;
    std::string failure;
    bool made = false;  // the failure came after the change was made
  };

  friend LRESULT CALLBACK WindowProcOf<frmContentsWindow>(HWND hwnd, UINT msg, WPARAM wParam,
                                                          LPARAM lParam);
  LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  BOOL OnCreate(HWND hwnd, LPCREATESTRUCT create);
  void OnCommand(HWND hwnd, int id, HWND control, UINT code);
  LRESULT OnNotify(HWND hwnd, int id, NMHDR* header);
  void OnSize(HWND hwnd, UINT state, int width, int height);
  void OnGetMinMaxInfo(HWND hwnd, MINMAXINFO* info);
  void OnTimer(HWND hwnd, UINT id);
  void OnActivate(HWND hwnd, UINT state, HWND other, BOOL minimized);
  void OnDpiChanged(HWND hwnd, int dpi, const RECT& suggested);
  void OnRead();
  void OnChecked();
  void OnInitMenuPopup(HWND hwnd, HMENU menu, UINT item, BOOL window);
  void OnWaiting();
  void OnChanged();
  void OnClose(HWND hwnd);
  void OnDestroy(HWND hwnd);
  void OnNCDestroy(HWND hwnd);

  void lstEntries_GetDispInfo(NMLVDISPINFOW& info);
  LRESULT lstEntries_FindItem(const NMLVFINDITEMW& find);
  void lstEntries_ItemChanged(const NMLISTVIEW& change);
  void lstEntries_StateChanged(const NMLVODSTATECHANGE& change);
  void lstEntries_ColumnClick(int column);
  void lstEntries_BeginDrag();
  void cmdExtract_Click();
  // The run over what the list picks, without asking whether the archive changed.
  void ExtractPicked();
  void txtFilter_Change();
  void mnuAdd_Click();
  void mnuRemove_Click();
  void mnuRename_Click();
  void mnuCompact_Click();
  // Ends the edit of a name: the entry renamed to what was typed, when take says so.
  void txtRename_End(bool take);
  // Adds the files at paths (UTF-8), after the questions their names call for.
  void AddPaths(const std::vector<std::string>& paths);
  void Form_KeyEscape();

  // Reads the archive again on the reading thread; notice, when set, goes to the status bar
  // once the list is filled again, whose selection is kept by name, or is the entries of the
  // keys (KeyOf) selection gives.
  void StartReading(std::string notice,
                    std::optional<std::vector<std::string>> selection = std::nullopt);
  // Whether a change may start: a list shown, no change, reading or extraction under way.
  bool CanChange() const;
  // Runs change on the changing thread, the status bar saying doing meanwhile; the list is read
  // again once it is done, and a failure shown in a box.
  void StartChange(std::string doing, Change change);
  NameTools Tools() const;
  // A question with Yes and No, No the default; true for Yes.
  bool Ask(const std::string& text, const wchar_t* title);
  void Tell(const std::string& text, const wchar_t* title);
  // Whether the archive's files are no longer those that were read.
  bool ChangedOutside();
  Stamps CurrentStamps();
  // The list's rows, arrows and selection after the list's order or filter changed.
  void ShowRows();
  void RestoreSelection();
  void ShowStatus();
  void LayOut(int dpi);
  void Fail(const char* what);

  // Drag and drop needs OLE on the window's thread, for as long as the window may drag.
  struct OleScope {
    OleScope();
    ~OleScope();
    OleScope(const OleScope&) = delete;
    OleScope& operator=(const OleScope&) = delete;
    bool initialised;
  };
  OleScope ole_;
  std::string path_;
  frmMain& frm_;
  FileSystem& fs_;
  std::unique_ptr<ContentsList> list_;
  Stamps stamps_;  // of the reading the list shows
  std::string notice_;
  bool extractWhenRead_ = false;
  bool awaitingList_ = false;      // a reading is under way, whose list is still to come
  bool settingSelection_ = false;  // the window itself changes the control's selection
  std::size_t restoredTo_ = 0;     // rows before it show the list's selection

  std::mutex readingLock_;
  Reading reading_;          // under readingLock_
  Reading checking_;         // under readingLock_
  unsigned generation_ = 0;  // of the reading going on or last done
  std::jthread reader_;

  bool changing_ = false;
  Changed changed_;  // under readingLock_
  std::jthread changer_;
  // Files dropped in from outside, added once the drop is done.
  unique_drop_target dropTarget_;
  std::vector<std::string> dropped_;
  // The names of the entries a change makes, selected once it is made.
  std::vector<std::string> selectAfter_;
  // The entry whose name is being edited in txtRename_, by its name.
  std::string renaming_;

  unique_gdi_object font_;
  unique_hwnd hwnd_;
  HWND txtFilter_ = nullptr;
  HWND lblCount_ = nullptr;
  HWND lstEntries_ = nullptr;
  HWND cmdExtract_ = nullptr;
  HWND sbStatus_ = nullptr;
  HWND txtRename_ = nullptr;  // while a name is edited
  int dpi_ = 96;
  HWND focus_ = nullptr;
};

}  // namespace sectorsieve::ui
