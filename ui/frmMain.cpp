#include "frmMain.h"

#include <vector>

#include "extraction_run.h"

namespace sectorsieve::ui {

namespace {

constexpr const char* kNewLine = "\r\n";
constexpr std::size_t kMaxListedFailures = 20;
// A path box whose Tag holds this counts as filled.
const std::string kFilled = "1";
constexpr const char* kUnusableNameTitle = "Name not usable";

// A path with characters that name no file exactly.
std::string UnusableNameMessage(const char* kind, const std::string& shown) {
  return std::string("The ") + kind + " \"" + shown +
         "\" has characters in its name that this program cannot use." + kNewLine +
         "Please choose another " + kind + ".";
}

std::string FailureReport(const RunFailures& failures, std::size_t entries, const FileSystem& fs) {
  std::string text = std::to_string(failures.size()) + " of " + std::to_string(entries) +
                     " entries could not be extracted:" + kNewLine;
  for (std::size_t i = 0; i < failures.size() && i < kMaxListedFailures; ++i)
    text += kNewLine + fs.Shown(failures[i].entry()) + ": " + failures[i].reason();
  if (failures.size() > kMaxListedFailures)
    text += kNewLine + ("and " + std::to_string(failures.size() - kMaxListedFailures) + " more");
  return text;
}

}  // namespace

frmMain::frmMain(const frmMainControls& controls, modArchive& archive, FileSystem& fs,
                 Pickers& pickers, Version version)
    : c_(controls), archive_(archive), fs_(fs), pickers_(pickers), version_(version) {
  c_.lblSource.Change = [this] { lblSource_Change(); };
  c_.lblDestination.Change = [this] { lblDestination_Change(); };
}

void frmMain::cmdBrowseSource_Click() {
  std::string path;
  try {
    path = pickers_.BrowseForFile("Select a .img to extract", "*.img");
  } catch (const UnconvertibleText& e) {
    RefuseUnusableName("file", e.shown());
    return;
  }
  AcceptSource(path);
}

void frmMain::AcceptSource(const std::string& path) {
  const auto archive = ArchiveOfDataFile(path, fs_.Paths());
  if (!archive) return;
  if (fs_.IsPlainFile(archive->dir)) {
    c_.lblSource.SetText(path);
  } else {
    c_.form.MsgBox(std::string("The associated .dir was not found.") + kNewLine +
                       "Please specify a .img with a .dir of the same name in the same folder.",
                   "File not found");
  }
}

void frmMain::cmdBrowseDestination_Click() {
  std::string folder;
  try {
    folder = pickers_.BrowseForFolder("Select a destination folder");
  } catch (const UnconvertibleText& e) {
    RefuseUnusableName("folder", e.shown());
    return;
  }
  if (!folder.empty()) c_.lblDestination.SetText(folder);
}

void frmMain::AcceptDestination(const std::string& folder) {
  if (fs_.IsFolder(folder))
    c_.lblDestination.SetText(folder);
  else
    c_.form.MsgBox("The folder \"" + folder + "\" does not exist." + kNewLine +
                       "Please choose a folder that exists.",
                   "Folder not found");
}

void frmMain::DropPaths(const std::vector<std::string>& paths) {
  if (running_) return;
  for (const std::string& path : paths) {
    if (fs_.IsFolder(path))
      AcceptDestination(path);
    else if (ArchiveOfDataFile(path, fs_.Paths()))
      AcceptSource(path);
  }
}

void frmMain::RefuseUnusableName(const char* kind, const std::string& shown) {
  c_.form.MsgBox(UnusableNameMessage(kind, shown), kUnusableNameTitle);
}

void frmMain::lblSource_Change() {
  c_.lblSource.Tag = kFilled;
  c_.mnuContents.SetEnabled(true);
  UpdateExtractButton();
}

void frmMain::lblDestination_Change() {
  c_.lblDestination.Tag = kFilled;
  UpdateExtractButton();
}

void frmMain::UpdateExtractButton() {
  if (!running_ && c_.lblSource.Tag == kFilled && c_.lblDestination.Tag == kFilled)
    c_.cmdExtract.SetEnabled(true);
}

void frmMain::EnableButtons(bool enabled) {
  c_.cmdExtract.SetEnabled(enabled);
  c_.cmdBrowseSource.SetEnabled(enabled);
  c_.cmdBrowseDestination.SetEnabled(enabled);
}

void frmMain::cmdExtract_Click() { StartRun({}); }

void frmMain::ExtractPicked(const EntryPick& pick) {
  if (running_ || c_.lblSource.Tag != kFilled) return;
  if (c_.lblDestination.Tag != kFilled) cmdBrowseDestination_Click();
  if (c_.lblDestination.Tag == kFilled) StartRun(pick);
}

void frmMain::StartRun(const EntryPick& pick) {
  running_ = true;
  stopRequested_ = false;
  EnableButtons(false);
  c_.form.SetMousePointer(MousePointer::Hourglass);
  ExtractionRun run(archive_);
  ShowOutcome(ExtractAll(run, pick));
}

std::string frmMain::PathBoxText(TextBox& box, const char* kind) {
  try {
    return box.Text();
  } catch (const UnconvertibleText& e) {
    throw UnusablePath{kind, e};
  }
}

RunOutcome frmMain::ExtractAll(ExtractionRun& run, const EntryPick& pick) {
  RunOutcome refused;
  std::string source;
  std::string destination;
  try {
    source = PathBoxText(c_.lblSource, "file");
    destination = PathBoxText(c_.lblDestination, "folder");
  } catch (const UnusablePath& e) {
    refused.failure = UnusableNameMessage(e.kind, e.text.shown());
    return refused;
  }
  refused.failure = ArchivePathRefusal(source, fs_.Paths());
  if (!refused.failure.empty()) return refused;
  const auto archive = ArchiveOfDataFile(source, fs_.Paths());
  // A long directory loads in pieces, with the window's events handled between them.
  const auto keepLoading = [this] {
    c_.form.DoEvents();
    return !unloadRequested_ && !stopRequested_;
  };
  int total = 0;
  const auto normalised = [&](const Archive& loaded) {
    if (!EndsInBackslash(destination, fs_.Paths())) {
      destination += "\\";
      c_.lblDestination.SetText(destination);
    }
    // Picking among a million names takes long enough to answer the window meanwhile.
    RunTarget target{destination, pick ? pick(loaded, keepLoading) : std::nullopt, {}};
    if (unloadRequested_ || stopRequested_) run.RequestStop();
    total = static_cast<int>(target.picked ? target.picked->size() : loaded.size());
    c_.form.SetTaskbarProgress(TaskbarProgress::Normal, 0, total);
    return target;
  };
  return run.Extract(
      *archive, keepLoading, normalised, [&](std::size_t done, const Archive::Entry& entry) {
        c_.form.SetTaskbarProgress(TaskbarProgress::Normal, static_cast<int>(done), total);
        c_.form.DoEvents();
        if (unloadRequested_ || stopRequested_)
          run.RequestStop();
        else
          c_.form.SetCaption("Extracting : " + fs_.Shown(EntryLabel(entry.Record())));
      });
}

void frmMain::ShowOutcome(const RunOutcome& outcome) {
  // A stop the user asked for is neither a failure nor a success, and needs no box.
  const bool stopped = outcome.stopped;
  const bool failed = !stopped && (!outcome.failure.empty() || !outcome.failures.empty());
  if (stopped)
    c_.form.SetCaption("Extraction stopped");
  else if (!outcome.failure.empty())
    c_.form.SetCaption("Extraction failed");
  else if (!outcome.failures.empty())
    c_.form.SetCaption("Extracted with " + std::to_string(outcome.failures.size()) + " error(s)");
  else
    c_.form.SetCaption("Extracted! Thanks Sectorsieve!");
  running_ = false;
  EnableButtons(true);
  c_.form.SetMousePointer(MousePointer::Default);
  c_.form.SetTaskbarProgress(failed ? TaskbarProgress::Error : TaskbarProgress::None,
                             static_cast<int>(outcome.processed),
                             static_cast<int>(outcome.entries));

  if (unloadRequested_) {
    c_.form.Unload();
  } else if (!outcome.failure.empty()) {
    c_.form.MsgBox(outcome.failures.empty()
                       ? outcome.failure
                       : outcome.failure + kNewLine + kNewLine +
                             FailureReport(outcome.failures, outcome.entries, fs_),
                   "Extraction failed");
  } else if (!outcome.failures.empty() && !stopped) {
    c_.form.MsgBox(FailureReport(outcome.failures, outcome.entries, fs_), "Extraction errors");
  }
}

void frmMain::mnuAbout_Click() {
  c_.form.MsgBox("SectorSieve " + std::to_string(version_.major) + "." +
                     std::to_string(version_.minor) + kNewLine + kNewLine +
                     "Written by Orlep, who wanted his sectors back." + kNewLine + kNewLine +
                     "Copyright (C) 2026 Orlep. Free to use and to share." + kNewLine +
                     "orlep.sectorsieve@example.org",
                 "About...");
}

void frmMain::mnuContents_Click() {
  if (c_.lblSource.Tag != kFilled) return;
  try {
    c_.form.ShowContents(PathBoxText(c_.lblSource, "file"));
  } catch (const UnusablePath& e) {
    RefuseUnusableName(e.kind, e.text.shown());
  }
}

void frmMain::mnuQuit_Click() {
  if (QueryUnload()) c_.form.Unload();
}

void frmMain::Form_KeyEscape() {
  if (running_) stopRequested_ = true;
}

bool frmMain::QueryUnload() {
  if (!running_) return true;
  unloadRequested_ = true;
  return false;
}

}  // namespace sectorsieve::ui
