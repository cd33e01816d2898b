#pragma once

#include "controls.h"
#include "modArchive.h"

namespace sectorsieve::ui {

inline constexpr const char* kStartCaption = "Orlep's Sectorsieve";

struct frmMainControls {
  Form& form;
  TextBox& lblSource;
  TextBox& lblDestination;
  CommandButton& cmdBrowseSource;
  CommandButton& cmdBrowseDestination;
  CommandButton& cmdExtract;
};

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
  void lblSource_Change();
  void lblDestination_Change();
  void mnuAbout_Click();
  void mnuQuit_Click();
  // The window is asked to close (Close box, system menu). Returns true when it may go now;
  // during a run it goes once the entries in flight are finished.
  bool QueryUnload();

  bool Running() const { return running_; }

 private:
  void UpdateExtractButton();
  void EnableButtons(bool enabled);

  frmMainControls c_;
  modArchive& archive_;
  FileSystem& fs_;
  Pickers& pickers_;
  Version version_;
  bool running_ = false;
  bool unloadRequested_ = false;
};

}  // namespace sectorsieve::ui
