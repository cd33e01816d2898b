#pragma once

// The small control layer that the window's handlers run against. The Win32 window
// implements it with real controls; tests use the in-memory window. Texts are spelled as the
// file system spells paths: UTF-8 on Windows.

#include <functional>
#include <string>

namespace sectorsieve::ui {

enum class MousePointer { Default, Hourglass };

// What the taskbar button shows while and after a run.
enum class TaskbarProgress { None, Normal, Error };

class TextBox {
 public:
  virtual ~TextBox() = default;
  virtual std::string Text() const = 0;
  // Raises Change before it returns, as a real edit control does for every text set.
  virtual void SetText(const std::string& text) = 0;

  std::string Tag;  // free text kept beside the control; frmMain marks a filled path box with it
  std::function<void()> Change;
};

class CommandButton {
 public:
  virtual ~CommandButton() = default;
  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
};

class Form {
 public:
  virtual ~Form() = default;
  virtual std::string Caption() const = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void SetMousePointer(MousePointer pointer) = 0;
  // Handles the window events that are waiting (repaint, menus, input), then returns.
  virtual void DoEvents() = 0;
  // A modal message box with a single OK button and no icon.
  virtual void MsgBox(const std::string& text, const std::string& title) = 0;
  virtual void SetTaskbarProgress(TaskbarProgress state, int done, int total) = 0;
  // Closes and destroys the window; the program ends with it.
  virtual void Unload() = 0;
  // Opens the contents window over the archive at path, or brings the open one forward.
  virtual void ShowContents(const std::string& path) = 0;
};

// The two pickers, shown over the window; each returns a path or "" when nothing was chosen.
class Pickers {
 public:
  virtual ~Pickers() = default;
  virtual std::string BrowseForFile(const std::string& title, const std::string& filter) = 0;
  virtual std::string BrowseForFolder(const std::string& title) = 0;
};

}  // namespace sectorsieve::ui
