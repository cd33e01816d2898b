#include "frmContents.h"

#include <chrono>
#include <stdexcept>
#include <utility>

#include "messages.h"

namespace sectorsieve::ui {

namespace {

// A slice of a selection brought to the control takes about this long; the window answers
// between slices.
constexpr auto kRestoreSlice = std::chrono::milliseconds(30);
// Rows looked at, and given to the control at once, between looks at the clock.
constexpr std::size_t kRestorePiece = 4096;

NameText NamesOf(const FileSystem& fs) {
  return [&fs](std::string_view name) { return fs.ToUtf8(name); };
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

}  // namespace

frmContents::frmContents(const frmContentsControls& controls, std::string path, frmMain& frm,
                         FileSystem& fs, EntryNameOf entryName)
    : c_(controls), path_(std::move(path)), frm_(frm), fs_(fs), entryName_(std::move(entryName)) {}

frmContents::~frmContents() {
  changer_ = std::jthread();
  reader_ = std::jthread();
  viewer_ = std::jthread();
}

void frmContents::Form_Load() { StartReading({}); }

void frmContents::Form_KeyF5() { StartReading({}); }

void frmContents::Form_KeyCtrlA() {
  if (!list_) return;
  list_->SelectAll(true);
  ShowStatus();
  restoredTo_ = 0;
  RestoreLater();
}

void frmContents::Form_Activate() {
  if (list_ && !awaitingList_ && !changing_ && !frm_.Running() && ChangedOutside())
    StartReading(kChangedNotice);
}

void frmContents::Form_KeyEscape() {
  if (changing_) {
    if (notice_ == kWaitingNotice) changer_.request_stop();
    return;
  }
  if (frm_.Running())
    frm_.Form_KeyEscape();
  else
    c_.form.Close();
}

void frmContents::OnEvent(ContentsEvent event) {
  switch (event) {
    case ContentsEvent::Read:
      return OnRead();
    case ContentsEvent::Checked:
      return OnChecked();
    case ContentsEvent::Viewed:
      return OnViewed();
    case ContentsEvent::Waiting:
      return OnWaiting();
    case ContentsEvent::Changed:
      return OnChanged();
    case ContentsEvent::Restore:
      restorePosted_ = false;
      return RestoreSelection();
    case ContentsEvent::Status:
      statusPosted_ = false;
      return ShowStatus();
  }
}

void frmContents::txtFilter_Timer() {
  if (!list_) return;
  Wanted wanted = wanted_;
  try {
    wanted.filter = c_.txtFilter.Text();
  } catch (const UnconvertibleText&) {
    return;  // half a character typed: the next one completes it
  }
  if (wanted != wanted_) StartViewing(std::move(wanted));
}

void frmContents::lstEntries_ItemChanged(std::optional<std::size_t> row, bool selected) {
  if (settingSelection_ || !list_) return;
  if (row)
    list_->Select(*row, *row, selected);
  else
    list_->SelectAll(selected);
  ShowStatusLater();
}

void frmContents::lstEntries_RangeChanged(std::size_t first, std::size_t last, bool selected) {
  if (settingSelection_ || !list_ || last < first) return;
  list_->Select(first, last, selected);
  ShowStatusLater();
}

void frmContents::lstEntries_RangeTaken(std::size_t first, std::size_t last) {
  if (!list_ || last < first || last >= list_->Rows()) return;
  list_->SelectAll(false);
  list_->Select(first, last, true);
  restoredTo_ = 0;
  RestoreLater();
  ShowStatusLater();
}

// A click may change half a million rows, each told apart: the status bar is set once for all,
// after them.
void frmContents::ShowStatusLater() {
  if (std::exchange(statusPosted_, true)) return;
  c_.form.Post(ContentsEvent::Status);
}

void frmContents::lstEntries_ColumnClick(int column) {
  if (!list_ || column < 0 || column >= kContentsColumns) return;
  const auto clicked = static_cast<ContentsColumn>(column);
  StartViewing({clicked, clicked == wanted_.column && !wanted_.descending, wanted_.filter});
}

void frmContents::StartViewing(Wanted wanted) {
  ContentsList::ViewJob job;
  try {
    job = list_->MakeView(wanted.column, wanted.descending, wanted.filter);
  } catch (const UnconvertibleText&) {
    return;
  }
  wanted_ = std::move(wanted);
  viewing_ = true;
  // As with reading: the view given up ends on the new view's thread, not this one.
  std::jthread previous = std::move(viewer_);
  previous.request_stop();
  viewer_ = std::jthread([this, generation = ++viewGeneration_, list = list_, job = std::move(job),
                          previous = std::move(previous)](std::stop_token stop) mutable {
    previous = std::jthread();
    Viewed viewed{generation, std::move(list), std::nullopt};
    try {
      viewed.view = job(stop);
    } catch (const std::exception&) {
      // Out of memory: the window goes on showing the view it has.
    }
    if (stop.stop_requested()) return;
    {
      const std::lock_guard<std::mutex> lock(readingLock_);
      viewed_ = std::move(viewed);
    }
    c_.form.Post(ContentsEvent::Viewed);
  });
}

void frmContents::OnViewed() {
  Viewed viewed;
  {
    const std::lock_guard<std::mutex> lock(readingLock_);
    viewed = std::move(viewed_);
  }
  // The answer of a view given up, or of a list read again since.
  if (!viewed.list || viewed.list != list_ || viewed.generation != viewGeneration_) return;
  viewing_ = false;
  if (viewed.view) {
    list_->SetView(std::move(*viewed.view));
    ShowRows();
  }
  if (std::exchange(extractWhenShown_, false) && !frm_.Running() && !changing_) ExtractPicked();
}

std::optional<std::size_t> frmContents::lstEntries_FindItem(const std::string& typed,
                                                            std::size_t start) const {
  return list_ ? list_->FindRow(typed, start) : std::nullopt;
}

// Entries extraction refuses are left out, and the status bar says so once the drag is over.
EntryDrag frmContents::lstEntries_BeginDrag() {
  EntryDrag drag;
  if (!list_) return drag;
  const ContentsList::Dragged dragged = list_->DraggedEntries();
  const Archive& value = list_->Value();
  if (!dragged.refused.empty()) {
    const Archive::Entry& first = value[dragged.refused.front()];
    const std::size_t n = dragged.refused.size();
    drag.notice = "Left out " + Grouped(static_cast<std::int64_t>(n)) +
                  (n == 1 ? " entry" : " entries") + " that extraction refuses: \"" +
                  fs_.Shown(first.FileName()) + "\" " + value.Refusal(first) +
                  (n == 1 ? "." : ", and others.");
  }
  if (dragged.entries.empty()) return drag;
  try {
    // The data file the list was read beside, or none: compact may have put another there.
    if (fs_.Id(value.Paths().img) == value.DataId()) drag.data = fs_.OpenRead(value.Paths().img);
  } catch (const std::exception&) {
  }
  if (!drag.data) {
    StartReading(kChangedNotice);
    return {};
  }
  drag.dataSize = value.DataSize();
  for (const std::size_t index : dragged.entries) {
    const Archive::Entry& entry = value[index];
    drag.files.push_back({fs_.Shown(entry.FileName()), entry.Start(), entry.Bytes()});
  }
  return drag;
}

void frmContents::lstEntries_EndDrag(std::string notice) {
  if (awaitingList_) return;  // read again instead: its notice stays
  notice_ = std::move(notice);
  ShowStatus();
}

void frmContents::cmdExtract_Click() {
  if (!list_ || frm_.Running() || changing_) return;
  // The filter typed is what is extracted, though the pause that applies it is still to come.
  txtFilter_Timer();
  if (ChangedOutside()) {
    // The run reads the archive itself; the window reads it too, to show what it extracts.
    extractWhenRead_ = true;
    StartReading(kChangedNotice);
    return;
  }
  if (viewing_)
    extractWhenShown_ = true;
  else
    ExtractPicked();
}

void frmContents::ExtractPicked() {
  FileSystem& fs = fs_;
  // The list goes with the run: the names picked are found on the run's thread.
  frm_.ExtractPicked([list = std::shared_ptr<const ContentsList>(list_), pick = list_->Picked(),
                      &fs](const Archive& archive, const KeepGoing& keepGoing) {
    return list->PickedEntries(archive, pick, fs.Ansi(), NamesOf(fs), keepGoing);
  });
}

void frmContents::StartReading(std::string notice,
                               std::optional<std::vector<std::string>> selection) {
  // A reading still going on is given up; the new one waits for it to end, off this thread: it
  // may be in the middle of something it cannot give up at once, as sorting a million names.
  std::jthread previous = std::move(reader_);
  previous.request_stop();
  notice_ = std::move(notice);
  awaitingList_ = true;
  c_.cmdExtract.SetEnabled(false);
  c_.lblCount.SetText("Reading the archive...");
  // The list read shows the view asked for; a view being made of the list now shown is given up.
  ++viewGeneration_;
  viewing_ = false;
  extractWhenShown_ = false;
  // The selection's names are made on the reading thread, from the list shown now.
  std::shared_ptr<const ContentsList> shown;
  std::vector<std::uint32_t> selectedEntries;
  if (!selection && list_) {
    shown = list_;
    selectedEntries = list_->SelectedEntries();
  }
  const unsigned generation = ++generation_;
  reader_ = std::jthread([this, generation, wanted = wanted_,
                          selected = std::move(selection).value_or(std::vector<std::string>{}),
                          shown = std::move(shown), selectedEntries = std::move(selectedEntries),
                          previous = std::move(previous)](std::stop_token stop) mutable {
    previous = std::jthread();
    Reading reading;
    reading.generation = generation;
    std::shared_ptr<ContentsList> list;
    try {
      // Stamps first: a change made while reading shows as a change afterwards.
      reading.stamps = CurrentStamps();
      const auto paths = ArchiveOfDataFile(path_, fs_.Paths());
      if (!paths) throw std::runtime_error("it is not a .img");
      Archive value =
          ArchiveReader(fs_).LoadDirectory(*paths, [&] { return !stop.stop_requested(); });
      reading.list = std::make_shared<ContentsList>(
          std::move(value), fs_.Ansi(), NamesOf(fs_),
          [&fs = fs_](std::string_view name) { return fs.Shown(name); });
      list = reading.list;
      if (auto view = list->MakeView(wanted.column, wanted.descending, wanted.filter)(stop))
        list->SetView(std::move(*view));
      list->SelectKeys(shown ? shown->KeysOf(selectedEntries) : selected);
    } catch (const std::exception& e) {
      reading.failure = e.what();
    }
    if (stop.stop_requested()) return;
    {
      const std::lock_guard<std::mutex> lock(readingLock_);
      reading_ = std::move(reading);
    }
    c_.form.Post(ContentsEvent::Read);
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
    c_.form.Post(ContentsEvent::Checked);
  });
}

void frmContents::OnRead() {
  Reading reading;
  {
    const std::lock_guard<std::mutex> lock(readingLock_);
    reading = std::move(reading_);
  }
  // Taken already, or the answer of a reading given up for a newer one.
  if ((!reading.list && reading.failure.empty()) || reading.generation != generation_) return;
  awaitingList_ = false;
  if (!reading.failure.empty()) {
    c_.lblCount.SetText("");
    c_.form.SetStatus(0, "The archive could not be read: " + reading.failure);
    extractWhenRead_ = false;
    if (list_) ViewWanted();
    return;
  }
  list_ = std::move(reading.list);
  stamps_ = reading.stamps;
  c_.cmdExtract.SetEnabled(!changing_);
  ShowRows();
  ViewWanted();
  if (std::exchange(extractWhenRead_, false) && !frm_.Running()) {
    if (viewing_)
      extractWhenShown_ = true;
    else
      ExtractPicked();
  }
}

// A column clicked or a filter typed while the archive was read: the view of the list read is
// worked out again.
void frmContents::ViewWanted() {
  Wanted wanted = wanted_;
  try {
    wanted.filter = c_.txtFilter.Text();
  } catch (const UnconvertibleText&) {
  }
  wanted_ = {list_->SortColumn(), list_->SortDescending(), list_->Filter()};
  if (wanted != wanted_) StartViewing(std::move(wanted));
}

void frmContents::OnChecked() {
  Reading checked;
  {
    const std::lock_guard<std::mutex> lock(readingLock_);
    checked = std::move(checking_);
  }
  if (!checked.check || !list_ || checked.generation != generation_) return;
  list_->SetCheck(std::move(*checked.check));
  if (wanted_.column == ContentsColumn::Status) StartViewing(wanted_);
  c_.lstEntries.Redraw();
  ShowStatus();
}

void frmContents::ShowRows() {
  settingSelection_ = true;
  c_.lstEntries.SetRows(list_->Rows());
  restoredTo_ = 0;
  if (const auto first = list_->FirstSelectedRow()) c_.lstEntries.Focus(*first);
  settingSelection_ = false;
  RestoreLater();
  c_.lstEntries.Redraw();
  c_.lstEntries.SetSortArrow(list_->SortColumn(), list_->SortDescending());
  c_.lblCount.SetText(list_->CountText());
  ShowStatus();
}

// The control keeps its own selection, a row at a time (some list controls take even "every row"
// a row at a time): a selection of a million rows is brought to it a slice at a time, the window
// answering between slices. What the user selects meanwhile goes to the list, which the slices
// still to come follow.
void frmContents::RestoreSelection() {
  if (!list_) return;
  const auto until = std::chrono::steady_clock::now() + kRestoreSlice;
  const std::size_t total = list_->Rows();
  if (list_->SelectedCount() == 0) restoredTo_ = total;
  settingSelection_ = true;
  std::vector<std::size_t> rows;
  while (restoredTo_ < total) {
    if (list_->Selected(restoredTo_)) rows.push_back(restoredTo_);
    if (++restoredTo_ % kRestorePiece == 0) {
      c_.lstEntries.Select(rows);
      rows.clear();
      if (std::chrono::steady_clock::now() > until) break;
    }
  }
  if (!rows.empty()) c_.lstEntries.Select(rows);
  settingSelection_ = false;
  if (restoredTo_ < total) RestoreLater();
}

// Slices follow one another, one on its way at a time, each after what the window had to do.
void frmContents::RestoreLater() {
  if (std::exchange(restorePosted_, true)) return;
  c_.form.Post(ContentsEvent::Restore);
}

void frmContents::ShowStatus() {
  if (!list_) return;
  std::string first = list_->SelectionText();
  if (!notice_.empty()) first += (first.empty() ? "" : ". ") + notice_;
  c_.form.SetStatus(0, first);
  c_.form.SetStatus(1, list_->CheckText());
}

frmContents::Stamps frmContents::CurrentStamps() {
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

bool frmContents::ChangedOutside() { return CurrentStamps() != stamps_; }

bool frmContents::CanChange() const {
  return list_ && !awaitingList_ && !changing_ && !frm_.Running();
}

NameTools frmContents::Tools() const {
  return {fs_.Ansi(), NamesOf(fs_), [&fs = fs_](std::string_view name) { return fs.Shown(name); },
          entryName_};
}

void frmContents::AddPaths(const std::vector<std::string>& paths) {
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
      c_.form.Tell(RefusedQuestion(adding), "Add files");
      return;
    }
    if (!c_.form.Ask(RefusedQuestion(adding), "Add files")) return;
  }
  if (!adding.replaced.empty() && !c_.form.Ask(ReplaceQuestion(adding), "Replace entries")) return;
  for (const AddedFile& file : adding.files) selectAfter_.push_back(file.name);
  StartChange("Adding files...",
              [files = adding.files, names = NamesOf(fs_)](
                  FileSystem& fs, const ArchivePaths& paths, const ChangeOptions& options) {
                return AddedNotice(files.size(), AddFiles(fs, paths, files, names, options));
              });
}

// The entries of every name selected, after one question.
void frmContents::mnuRemove_Click() {
  if (!CanChange() || list_->SelectedCount() == 0) return;
  std::vector<std::string_view> names;
  for (const std::size_t row : list_->SelectedRows()) names.push_back(list_->Entry(row).FileName());
  const Named named = NameEntries(list_->Value(), names, Tools());
  if (!named.refusal.empty()) {
    c_.form.Tell("Nothing was removed: " + named.refusal + ".", "Remove");
    return;
  }
  if (!c_.form.Ask(RemoveQuestion(named.entries, path_.substr(fs_.LeafStart(path_))), "Remove"))
    return;
  StartChange("Removing...",
              [patterns = named.patterns, names = NamesOf(fs_)](
                  FileSystem& fs, const ArchivePaths& paths, const ChangeOptions& options) {
                return RemovedNotice(RemoveEntries(fs, paths, patterns, names, options).removed);
              });
}

void frmContents::txtRename_Done(const std::string& oldName, const std::string& typed) {
  if (!list_) return;
  const Renaming renaming = ui::RenameEntry(list_->Value(), oldName, typed, Tools());
  if (renaming.Unchanged()) return;
  if (!renaming.refusal.empty()) {
    c_.form.Tell("Nothing was renamed: " + renaming.refusal + ".", "Rename");
    return;
  }
  selectAfter_ = {renaming.name};
  StartChange("Renaming...",
              [renaming, from = fs_.Shown(oldName), typed, names = NamesOf(fs_)](
                  FileSystem& fs, const ArchivePaths& paths, const ChangeOptions& options) {
                if (RenameEntries(fs, paths, renaming.pattern, renaming.name, names, options) == 0)
                  throw ChangeError(Quoted(from) + " is no longer in the archive");
                return RenamedNotice(from, typed);
              });
}

// The data file without the bytes that no entry holds.
void frmContents::mnuCompact_Click() {
  if (!CanChange()) return;
  StartChange("Compacting...",
              [](FileSystem& fs, const ArchivePaths& paths, const ChangeOptions& options) {
                return CompactedNotice(CompactArchive(fs, paths, options));
              });
}

void frmContents::StartChange(std::string doing, Change change) {
  changing_ = true;
  c_.cmdExtract.SetEnabled(false);
  notice_ = std::move(doing);
  ShowStatus();
  changer_ = std::jthread([this, change = std::move(change)](std::stop_token stop) {
    Changed changed;
    WaitingFileSystem fs(fs_, [this] { c_.form.Post(ContentsEvent::Waiting); });
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
    c_.form.Post(ContentsEvent::Changed);
  });
}

void frmContents::OnWaiting() {
  if (!changing_) return;
  notice_ = kWaitingNotice;
  ShowStatus();
}

// The change is done or failed; either way the list shows the archive as it is.
void frmContents::OnChanged() {
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
    c_.form.ShowFailure(changed.failure,
                        changed.made ? "Changed, not yet safe" : "The archive was not changed");
  StartReading(changed.notice, std::move(selection));
}

}  // namespace sectorsieve::ui
