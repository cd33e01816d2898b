#pragma once

// The contents window's behaviour: one handler per control event, named after both, against the
// small control layer. The list's rules live in ContentsList and the changes' in contents_edit;
// this reads the archive off the window's thread, keeps the list and the controls in step, and
// starts the main window's run and the archive's changes.

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "contents_edit.h"
#include "contents_list.h"
#include "controls.h"
#include "file_io.h"
#include "frmMain.h"

namespace sectorsieve::ui {

inline constexpr const char* kChangedNotice = "Changed on disk: read again.";
inline constexpr const char* kWaitingNotice =
    "Waiting for another change of the archive to end (Escape gives up)...";

// What the window's threads tell it, each handled later on the window's own thread.
enum class ContentsEvent {
  Read,     // the reading thread has the list
  Checked,  // and then what check finds of it
  Viewed,   // the viewing thread has the list's new order or filter
  Waiting,  // the changing thread waits for another change's lock
  Changed,  // the change is done or failed
  Restore,  // the next slice of a selection to bring to the list control
  Status,   // the selection changed: the status bar follows, once for many rows
};

// The list of entries as the control shows it; it keeps its own selection, a row at a time.
class EntryListView {
 public:
  virtual ~EntryListView() = default;
  // rows rows, none selected or focused.
  virtual void SetRows(std::size_t rows) = 0;
  // rows (in row order) selected too, in one go.
  virtual void Select(const std::vector<std::size_t>& rows) = 0;
  // The focus on row, scrolled into view.
  virtual void Focus(std::size_t row) = 0;
  virtual void SetSortArrow(ContentsColumn column, bool descending) = 0;
  virtual void Redraw() = 0;
};

class ContentsForm {
 public:
  virtual ~ContentsForm() = default;
  // A question with Yes and No, No the default; true for Yes.
  virtual bool Ask(const std::string& text, const std::string& title) = 0;
  virtual void Tell(const std::string& text, const std::string& title) = 0;
  // A failure, in a box with the error icon.
  virtual void ShowFailure(const std::string& text, const std::string& title) = 0;
  // The status bar: what is selected and what the window did (0), what check finds (1).
  virtual void SetStatus(int part, const std::string& text) = 0;
  // From any thread: frmContents::OnEvent(event) runs later on the window's thread, unless the
  // window is gone by then.
  virtual void Post(ContentsEvent event) = 0;
  virtual void Close() = 0;
};

struct frmContentsControls {
  ContentsForm& form;
  TextBox& txtFilter;
  TextBox& lblCount;
  EntryListView& lstEntries;
  CommandButton& cmdExtract;
};

// What dragging the selection out offers: the entries' files, with the data file to read them
// from, and what the status bar says of those left out.
struct EntryDrag {
  struct File {
    std::string name;  // UTF-8
    std::int64_t start;
    std::int64_t bytes;
  };
  std::vector<File> files;
  std::shared_ptr<InputFile> data;
  std::int64_t dataSize = 0;
  std::string notice;
};

class frmContents {
 public:
  // The window over the archive whose data file is path (UTF-8), whose runs are frm's. entryName
  // gives a typed name in the archive's code page.
  frmContents(const frmContentsControls& controls, std::string path, frmMain& frm, FileSystem& fs,
              EntryNameOf entryName);
  // Gives up the reading; waits for a change under way, which cannot be given up half done.
  ~frmContents();
  frmContents(const frmContents&) = delete;
  frmContents& operator=(const frmContents&) = delete;

  // The list shown, or none while the first reading goes on.
  const ContentsList* List() const { return list_.get(); }
  const std::string& Path() const { return path_; }

  void Form_Load();
  // The window comes forward: a change from outside is read.
  void Form_Activate();
  // Stops a run or a change waiting for another's lock, else closes the window.
  void Form_KeyEscape();
  void OnEvent(ContentsEvent event);
  // F5: the archive read again.
  void Form_KeyF5();
  // Ctrl+A: every row shown selected.
  void Form_KeyCtrlA();
  // Typing paused: the filter applies, once worked out off the window's thread.
  void txtFilter_Timer();
  // One row's selection (nothing: every row's), as the user changed it in the control.
  void lstEntries_ItemChanged(std::optional<std::size_t> row, bool selected);
  // Rows first to last selected at once (Shift+click, Shift+arrows).
  void lstEntries_RangeChanged(std::size_t first, std::size_t last, bool selected);
  // Only rows first to last selected, the control's own selection cleared: a range taken with
  // Shift where the control would take long to change its rows. The control is brought in step
  // a slice at a time.
  void lstEntries_RangeTaken(std::size_t first, std::size_t last);
  // Sorts by that column, again the other way, once worked out off the window's thread.
  void lstEntries_ColumnClick(int column);
  // Type-ahead: the next row from start whose name begins with typed.
  std::optional<std::size_t> lstEntries_FindItem(const std::string& typed, std::size_t start) const;
  // What dragging the selection out makes files of; nothing to drag when the data file is no
  // longer the one read, which is then read again.
  EntryDrag lstEntries_BeginDrag();
  // Once the drag is over: the status bar says what it left out, in place of what it said.
  void lstEntries_EndDrag(std::string notice);
  void cmdExtract_Click();
  void mnuRemove_Click();
  void mnuCompact_Click();
  // The name edited: the entry named oldName renamed to typed (UTF-8), after the checks rename
  // makes.
  void txtRename_Done(const std::string& oldName, const std::string& typed);
  // Adds the files at paths (UTF-8), after the questions their names call for.
  void AddPaths(const std::vector<std::string>& paths);

  // Whether a change may start: a list shown, no change, reading or extraction under way.
  bool CanChange() const;

 private:
  // The archive as its files stood when it was read: a change from outside shows in them.
  struct Stamps {
    std::optional<FileId> dataId;
    std::optional<FileStamp> data;
    std::optional<FileStamp> dir;
    bool operator==(const Stamps&) const = default;
  };
  // What the reading thread hands over: first the list, then what check finds of it. The thread
  // holds the list while it checks it, which the window may meanwhile have given up.
  struct Reading {
    unsigned generation = 0;
    std::shared_ptr<ContentsList> list;
    std::string failure;
    Stamps stamps;
    std::optional<ArchiveCheck> check;
  };
  // The sort and filter asked for last: shown, or being worked out.
  struct Wanted {
    ContentsColumn column = ContentsColumn::Index;
    bool descending = false;
    std::string filter;
    bool operator==(const Wanted&) const = default;
  };
  // What the viewing thread hands over: a view of list, or nothing when it could not be made.
  struct Viewed {
    unsigned generation = 0;
    std::shared_ptr<ContentsList> list;
    std::optional<ContentsList::View> view;
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

  // Reads the archive again on the reading thread; notice, when set, goes to the status bar
  // once the list is filled again, whose selection is kept by name, or is the entries of the
  // keys (KeyOf) selection gives.
  void StartReading(std::string notice,
                    std::optional<std::vector<std::string>> selection = std::nullopt);
  void OnRead();
  void OnChecked();
  // Works out the list's view of wanted on the viewing thread, to show once it is made; a view
  // still being made is given up. Nothing, while the filter ends in half a character.
  void StartViewing(Wanted wanted);
  void OnViewed();
  // Once a reading is done: the sort or filter asked for meanwhile, of the list shown.
  void ViewWanted();
  // Runs change on the changing thread, the status bar saying doing meanwhile; the list is read
  // again once it is done, and a failure shown in a box.
  void StartChange(std::string doing, Change change);
  void OnWaiting();
  void OnChanged();
  // The run over what the list picks, without asking whether the archive changed.
  void ExtractPicked();
  NameTools Tools() const;
  // Whether the archive's files are no longer those that were read.
  bool ChangedOutside();
  Stamps CurrentStamps();
  // The list's rows, arrows and selection after the list's order or filter changed.
  void ShowRows();
  void RestoreSelection();
  void RestoreLater();
  void ShowStatusLater();
  void ShowStatus();

  frmContentsControls c_;
  std::string path_;
  frmMain& frm_;
  FileSystem& fs_;
  EntryNameOf entryName_;
  std::shared_ptr<ContentsList> list_;
  Stamps stamps_;  // of the reading the list shows
  std::string notice_;
  bool extractWhenRead_ = false;
  bool extractWhenShown_ = false;  // once the view being made is shown
  bool awaitingList_ = false;      // a reading is under way, whose list is still to come
  bool settingSelection_ = false;  // the window itself changes the control's selection
  std::size_t restoredTo_ = 0;     // rows before it show the list's selection
  bool restorePosted_ = false;     // a Restore event is on its way
  bool statusPosted_ = false;      // a Status event is on its way

  std::mutex readingLock_;
  Reading reading_;          // under readingLock_
  Reading checking_;         // under readingLock_
  unsigned generation_ = 0;  // of the reading going on or last done
  std::jthread reader_;

  Wanted wanted_;
  bool viewing_ = false;  // a view is being made
  Viewed viewed_;         // under readingLock_
  unsigned viewGeneration_ = 0;
  std::jthread viewer_;

  bool changing_ = false;
  Changed changed_;  // under readingLock_
  std::jthread changer_;
  // The names of the entries a change makes, selected once it is made.
  std::vector<std::string> selectAfter_;
};

}  // namespace sectorsieve::ui
