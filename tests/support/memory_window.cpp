#include "memory_window.h"

#include <utility>

namespace sectorsieve::ui {

namespace {

std::string TakeFirst(std::vector<std::string>& queue, std::string& unconvertible) {
  if (!unconvertible.empty()) throw UnconvertibleText(std::exchange(unconvertible, {}));
  if (queue.empty()) return {};
  std::string first = queue.front();
  queue.erase(queue.begin());
  return first;
}

}  // namespace

std::string MemoryTextBox::Text() const {
  if (unconvertible) throw UnconvertibleText(text_);
  return text_;
}

void MemoryTextBox::SetText(const std::string& text) {
  text_ = text;
  if (Change) Change();
}

void MemoryForm::DoEvents() {
  ++doEventsCalls;
  if (pendingEvents) pendingEvents(doEventsCalls);
}

std::string ScriptedPickers::BrowseForFile(const std::string& title, const std::string& filter) {
  requests.push_back("file:" + title + "|" + filter);
  return TakeFirst(files, unconvertible);
}

std::string ScriptedPickers::BrowseForFolder(const std::string& title) {
  requests.push_back("folder:" + title);
  return TakeFirst(folders, unconvertible);
}

MemoryWindow::MemoryWindow(FileSystem& fs, Version version)
    : archive(fs),
      frm({form, lblSource, lblDestination, cmdBrowseSource, cmdBrowseDestination, cmdExtract,
           mnuContents},
          archive, fs, pickers, version) {}

}  // namespace sectorsieve::ui
