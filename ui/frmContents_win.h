#pragma once

// The contents window's Win32 binding: the entries of the main window's archive in an
// owner-data list view, its controls laid out and its messages taken to frmContents.

#include <windows.h>
// The common controls' header builds on windows.h.
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "entry_drag_win.h"
#include "file_io.h"
#include "frmContents.h"
#include "unique_handle.h"
#include "win_handles.h"
#include "window_support_win.h"

namespace sectorsieve::ui {

class frmContentsWindow final : public ContentsForm, public EntryListView {
 public:
  // Opens a window over the archive whose data file is path (UTF-8), owned by owner, and starts
  // reading the archive on a thread of its own; the list fills once it is read.
  frmContentsWindow(HINSTANCE instance, HWND owner, std::string path, frmMain& frm, FileSystem& fs);
  ~frmContentsWindow() override;
  frmContentsWindow(const frmContentsWindow&) = delete;
  frmContentsWindow& operator=(const frmContentsWindow&) = delete;

  // Null once the window has been closed.
  HWND Handle() const { return hwnd_.get(); }
  const std::string& Path() const { return frm_.Path(); }
  // Takes msg when it is for this window: its keys (F5, Ctrl+A, Del, F2; Enter and Escape in
  // a name being edited), then the dialog keys (Tab, Enter, Escape) between its controls.
  // Returns whether it was taken.
  bool PreTranslate(MSG& msg);

  // ContentsForm
  bool Ask(const std::string& text, const std::string& title) override;
  void Tell(const std::string& text, const std::string& title) override;
  void ShowFailure(const std::string& text, const std::string& title) override;
  void SetStatus(int part, const std::string& text) override;
  void Post(ContentsEvent event) override;
  void Close() override;
  // EntryListView
  void SetRows(std::size_t rows) override;
  void Select(const std::vector<std::size_t>& rows) override;
  void Focus(std::size_t row) override;
  void SetSortArrow(ContentsColumn column, bool descending) override;
  void Redraw() override;

 private:
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
  void OnInitMenuPopup(HWND hwnd, HMENU menu, UINT item, BOOL window);
  void OnClose(HWND hwnd);
  void OnDestroy(HWND hwnd);
  void OnNCDestroy(HWND hwnd);

  void lstEntries_GetDispInfo(NMLVDISPINFOW& info);
  LRESULT lstEntries_FindItem(const NMLVFINDITEMW& find);
  void lstEntries_ItemChanged(const NMLISTVIEW& change);
  void lstEntries_StateChanged(const NMLVODSTATECHANGE& change);
  void lstEntries_BeginDrag();
  void cmdExtract_Click();
  void mnuAdd_Click();
  void mnuRename_Click();
  // Ends the edit of a name: the entry renamed to what was typed, when take says so.
  void txtRename_End(bool take);
  bool HoldRedraw();
  void ReleaseRedraw();
  int RowAt(LPARAM point) const;
  bool ManySelected() const;
  bool MayChangeManyRows(UINT msg, WPARAM wParam) const;
  void BeforeClick(UINT msg, WPARAM wParam, LPARAM lParam);
  void ClearSelectionAtOnce();
  bool TakeRange(UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ListProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
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
  WinTextBox txtFilter_;
  WinTextBox lblCount_;
  WinButton cmdExtract_;
  frmContents frm_;
  // Files dropped in from outside, added once the drop is done.
  unique_drop_target dropTarget_;
  std::vector<std::string> dropped_;
  // The entry whose name is being edited in txtRename_, by its name.
  std::string renaming_;

  unique_gdi_object font_;
  unique_hwnd hwnd_;
  HWND lstEntries_ = nullptr;
  HWND sbStatus_ = nullptr;
  HWND txtRename_ = nullptr;    // while a name is edited
  WNDPROC listProc_ = nullptr;  // the list's own
  bool redrawHeld_ = false;
  int clickedRow_ = -1;  // where the left button went down, until a drag begins
  int dpi_ = 96;
  HWND focus_ = nullptr;
};

}  // namespace sectorsieve::ui
