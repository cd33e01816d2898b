#include "frmMain.h"

#include <vector>

#include "extraction_run.h"

namespace sectorsieve::ui {

namespace {

constexpr const char* kNewLine = "\r\n";
constexpr std::size_t kMaxListedFailures = 20;
// A path box whose Tag holds this counts as filled.
const std::string kFilled = "1";

std::string TrimSpaces(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string FailureReport(const std::vector<EntryError>& failures, std::size_t entries) {
  std::string text = std::to_string(failures.size()) + " of " + std::to_string(entries) +
                     " entries could not be extracted:" + kNewLine;
  for (std::size_t i = 0; i < failures.size() && i < kMaxListedFailures; ++i)
    text += kNewLine + failures[i].entry() + ": " + failures[i].reason();
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
  const std::string path = pickers_.BrowseForFile("Select a .img to extract", "*.img");
  if (path.empty() || !path.ends_with(".img")) return;
  if (fs_.IsPlainFile(path.substr(0, path.size() - 4) + ".dir")) {
    c_.lblSource.SetText(path);
  } else {
    c_.form.MsgBox(std::string("The associated .dir was not found.") + kNewLine +
                       "Please specify a .img with a .dir of the same name in the same folder.",
                   "File not found");
  }
}

void frmMain::cmdBrowseDestination_Click() {
  const std::string folder = pickers_.BrowseForFolder("Select a destination folder");
  if (!folder.empty()) c_.lblDestination.SetText(folder);
}

void frmMain::lblSource_Change() {
  c_.lblSource.Tag = kFilled;
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

void frmMain::cmdExtract_Click() {
  running_ = true;
  EnableButtons(false);
  c_.form.SetMousePointer(MousePointer::Hourglass);

  ExtractionRun run(archive_);
  std::vector<EntryError> failures;
  std::string stopReason;
  std::size_t entries = 0;
  try {
    const std::string source = c_.lblSource.Text();
    if (source.size() < 4)
      throw RunError("\"" + source + "\" does not name an archive's .img file");
    archive_.LoadDirectory(source.substr(0, source.size() - 4));
    if (!c_.lblDestination.Text().ends_with('\\'))
      c_.lblDestination.SetText(c_.lblDestination.Text() + "\\");

    entries = archive_.gEntries.Count();
    c_.form.SetTaskbarProgress(TaskbarProgress::Normal, 0, static_cast<int>(entries));
    failures = run.Run(c_.lblDestination.Text(), [&](std::size_t done, const clsImgFile& entry) {
      c_.form.SetTaskbarProgress(TaskbarProgress::Normal, static_cast<int>(done),
                                 static_cast<int>(entries));
      c_.form.DoEvents();
      if (unloadRequested_)
        run.RequestStop();
      else
        c_.form.SetCaption("Extracting : " + TrimSpaces(StripNulls(entry.sName())));
    });
  } catch (const RunError& e) {
    stopReason = e.what();
  }
  const auto done = static_cast<int>(run.Processed());

  const bool failed = !stopReason.empty() || !failures.empty();
  if (!stopReason.empty())
    c_.form.SetCaption("Extraction failed");
  else if (!failures.empty())
    c_.form.SetCaption("Extracted with " + std::to_string(failures.size()) + " error(s)");
  else
    c_.form.SetCaption("Extracted! Thanks Sectorsieve!");
  running_ = false;
  EnableButtons(true);
  c_.form.SetMousePointer(MousePointer::Default);
  c_.form.SetTaskbarProgress(failed ? TaskbarProgress::Error : TaskbarProgress::None, done,
                             static_cast<int>(entries));

  if (unloadRequested_) {
    c_.form.Unload();
  } else if (!stopReason.empty()) {
    c_.form.MsgBox(stopReason, "Extraction failed");
  } else if (!failures.empty()) {
    c_.form.MsgBox(FailureReport(failures, entries), "Extraction errors");
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

void frmMain::mnuQuit_Click() {
  if (QueryUnload()) c_.form.Unload();
}

bool frmMain::QueryUnload() {
  if (!running_) return true;
  unloadRequested_ = true;
  return false;
}

}  // namespace sectorsieve::ui
