#pragma once

// The window's controls held in memory: runs the real handlers without Win32 and
// records what a user would have seen, in order.

#include <memory>
#include <string>
#include <vector>

#include "frmMain.h"

namespace sectorsieve::ui {

class MemoryTextBox final : public TextBox {
 public:
  explicit MemoryTextBox(std::string text) : text_(std::move(text)) {}
  std::string Text() const override;
  void SetText(const std::string& text) override;

  // Stands for a box whose Unicode text the ANSI code page cannot hold: Text() refuses it.
  bool unconvertible = false;

 private:
  std::string text_;
};

class MemoryButton final : public CommandButton {
 public:
  explicit MemoryButton(bool enabled) : enabled_(enabled) {}
  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override { enabled_ = enabled; }

 private:
  bool enabled_;
};

struct RecordedBox {
  std::string text;
  std::string title;
};

class MemoryForm final : public Form {
 public:
  std::string Caption() const override { return captions.back(); }
  void SetCaption(const std::string& caption) override { captions.push_back(caption); }
  void SetMousePointer(MousePointer p) override { pointer = p; }
  void DoEvents() override;
  void MsgBox(const std::string& text, const std::string& title) override {
    boxes.push_back({text, title});
  }
  void SetTaskbarProgress(TaskbarProgress state, int done, int total) override {
    taskbar = state;
    taskbarDone = done;
    taskbarTotal = total;
  }
  void Unload() override { unloaded = true; }
  void ShowContents(const std::string& path) override { contents.push_back(path); }

  std::vector<std::string> captions{kStartCaption};
  MousePointer pointer = MousePointer::Default;
  std::vector<RecordedBox> boxes;
  TaskbarProgress taskbar = TaskbarProgress::None;
  int taskbarDone = 0;
  int taskbarTotal = 0;
  bool unloaded = false;
  std::vector<std::string> contents;  // archives the contents window was shown for
  int doEventsCalls = 0;
  // Runs inside DoEvents, standing for what the user does meanwhile (a menu, a click).
  std::function<void(int call)> pendingEvents;
};

// Answers the pickers with queued paths; an empty queue is a cancel.
class ScriptedPickers final : public Pickers {
 public:
  std::string BrowseForFile(const std::string& title, const std::string& filter) override;
  std::string BrowseForFolder(const std::string& title) override;

  std::vector<std::string> files;
  std::vector<std::string> folders;
  std::vector<std::string> requests;  // "file:<title>|<filter>" or "folder:<title>"
  // When set, the next picker refuses a choice the ANSI code page cannot hold, shown so.
  std::string unconvertible;
};

// The whole window in memory, wired to its handlers as the Win32 window is.
class MemoryWindow {
 public:
  explicit MemoryWindow(FileSystem& fs, Version version = {1, 0});

  MemoryForm form;
  MemoryTextBox lblSource{"[Select an img]"};
  MemoryTextBox lblDestination{"[Select destination directory]"};
  MemoryButton cmdBrowseSource{true};
  MemoryButton cmdBrowseDestination{true};
  MemoryButton cmdExtract{false};
  MemoryButton mnuContents{false};
  ScriptedPickers pickers;
  modArchive archive;
  frmMain frm;
};

}  // namespace sectorsieve::ui
