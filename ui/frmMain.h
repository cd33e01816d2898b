#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "controls.h"
#include "extraction_run.h"
#include "modArchive.h"
#include "picking.h"

namespace sectorsieve::ui {

inline constexpr const char* kStartCaption = "Orlep's Sectorsieve";

struct frmMainControls {
  Form& form;
  TextBox& lblSource;
  TextBox& lblDestination;
  CommandButton& cmdBrowseSource;
  CommandButton& cmdBrowseDestination;
  CommandButton& cmdExtract;
  CommandButton& mnuContents;  // File > Contents..., enabled once an archive is chosen
};

// The entries of a reading of the archive that a run extracts, in directory order, or nothing
// for every entry.
using EntryPick =
    std::function<std::optional<std::vector<std::size_t>>(const Archive&, const KeepGoing&)>;

struct Version {
  int major = 0;
  int minor = 0;
};

// The main window's behaviour: one handler per control event, named after both.
class frmMain {
 public:
  frmMain(const frmMainControls& controls, modArchive& archive, FileSystem& fs, Pickers& pickers,
          Version version);

  void cmdBrowseSource_Click();
  void cmdBrowseDestination_Click();
  void cmdExtract_Click();
  // Paths that arrive other than through the pickers (command line, drop) go through the
  // same checks. The source must end in ".img" (else it is ignored) and have its ".dir".
  void AcceptSource(const std::string& path);
  // An existing folder fills the destination; any other path is refused with a box.
  void AcceptDestination(const std::string& folder);
  // Files and folders dropped on the window: a ".img" is the source, a folder the destination,
  // anything else is ignored; nothing is taken during a run.
  void DropPaths(const std::vector<std::string>& paths);
  // A path that the program cannot name exactly (the open-file dialog's ANSI one, a text that
  // is not Unicode): refused with a box.
  void RefuseUnusableName(const char* kind, const std::string& shown);
  void lblSource_Change();
  void lblDestination_Change();
  void mnuAbout_Click();
  void mnuContents_Click();
  // Extract in the contents window: the entries pick chooses, by the same run as Extract, into
  // the destination chosen, or into a folder asked for now when there is none. Nothing happens
  // during a run.
  void ExtractPicked(const EntryPick& pick);
  void mnuQuit_Click();
  // Escape: a run stops at the next piece of the entry in hand, which it abandons; with no run
  // going on, nothing happens.
  void Form_KeyEscape();
  // The window is asked to close (Close box, system menu). Returns true when it may go now;
  // during a run it goes once the entries in flight are finished.
  bool QueryUnload();

  bool Running() const { return running_; }

 private:
  // A path box whose text is not exact Unicode (a surrogate without its pair).
  struct UnusablePath {
    const char* kind;  // "file" or "folder"
    UnconvertibleText text;
  };
  std::string PathBoxText(TextBox& box, const char* kind);
  // The run's work, from the two path boxes to its outcome; pick, when set, chooses entries.
  RunOutcome ExtractAll(ExtractionRun& run, const EntryPick& pick);
  void StartRun(const EntryPick& pick);
  // The outcome as the window shows it: caption, buttons, pointer, taskbar and box.
  void ShowOutcome(const RunOutcome& outcome);
  void UpdateExtractButton();
  void EnableButtons(bool enabled);

  frmMainControls c_;
  modArchive& archive_;
  FileSystem& fs_;
  Pickers& pickers_;
  Version version_;
  bool running_ = false;
  bool unloadRequested_ = false;
  bool stopRequested_ = false;
};

}  // namespace sectorsieve::ui
