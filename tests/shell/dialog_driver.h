#pragma once

// Operates the platform's real dialogs the way a user would, from a helper thread of the test
// process, while the test's own thread is blocked inside the call that shows them.

#include <windows.h>
// The tree view's types need those of windows.h.
#include <commctrl.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "win_handles.h"

namespace sectorsieve::testing {

// A plain visible top-level window for the dialogs to be shown over.
class OwnerWindow {
 public:
  OwnerWindow();
  HWND get() const { return window_.get(); }

 private:
  unique_hwnd window_;
};

// The first visible dialog owned by owner (in any process), once the thread that shows it
// answers messages; nullptr when none appears.
HWND WaitForDialog(HWND owner);

// The window's text in the ANSI code page, as the dialogs' own functions read it.
std::string WindowText(HWND window);
// The window's text exactly, in UTF-8, as the program holds its texts.
std::string WindowUtf8Text(HWND window);
// The first control below dialog, at any depth, of the given window class and, when text is
// not empty, with that text.
HWND FindControl(HWND dialog, const std::string& windowClass, const std::string& text = "");
// Presses a button as a click would, without waiting for what the click starts.
void Click(HWND button);

// Types text into the open-file dialog's file-name box, replacing what it shows.
void TypeFileName(HWND dialog, const std::string& text);
// The entries of the open-file dialog's file-type list.
std::vector<std::string> FileTypes(HWND dialog);

// The list and tree helpers below pass addresses inside their messages, so they work only on
// dialogs of the test's own process.

// The names the open-file dialog lists for the folder it shows.
std::vector<std::string> ListedItems(HWND dialog);
// Selects the listed item of that name, as a click on it would; false when it is not listed.
bool SelectListItem(HWND dialog, const std::string& name);

// The text of a tree view's item, asked of the tree; a tree of another process needs it read
// through memory of that process.
using TreeItemReader = std::function<std::string(HWND tree, HTREEITEM item)>;
std::string TreeItemText(HWND tree, HTREEITEM item);

// True when text ends with label, compared as Windows compares names: ignoring case.
bool EndsWithIgnoringCase(const std::string& text, const std::string& label);

// Walks the folder picker's tree from its top, expanding each item on the way; each label
// matches an item whose text equals it or ends with it. Returns false when one is missing.
bool SelectTreePath(HWND dialog, const std::vector<std::string>& labels,
                    const TreeItemReader& read = TreeItemText);

// Writes a picture of window, as the screen shows it, to <name>.bmp in the folder named by
// SECTORSIEVE_ARTIFACTS (by default the folder the test started in).
bool SaveScreenshot(HWND window, const std::string& name);

// Shows a dialog over owner with show() on this thread while drive(dialog) operates it on a
// helper thread; drive gets nullptr when no dialog owned by owner appeared. Returns what show
// returned.
template <typename Show, typename Drive>
auto WithDialog(HWND owner, Show show, Drive drive) {
  std::jthread helper([&] { drive(WaitForDialog(owner)); });
  return show();
}

}  // namespace sectorsieve::testing
