#include "memory_window.h"

namespace sectorsieve::ui {

namespace {

std::string TakeFirst(std::vector<std::string>& queue) {
  if (queue.empty()) return {};
  std::string first = queue.front();
  queue.erase(queue.begin());
  return first;
}

}  // namespace

void MemoryTextBox::SetText(const std::string& text) {
  text_ = text;
  ++writes_;
  if (Change) Change();
}

void MemoryForm::DoEvents() {
  ++doEventsCalls;
  if (pendingEvents) pendingEvents(doEventsCalls);
}

std::string ScriptedPickers::BrowseForFile(const std::string& title, const std::string& filter) {
  requests.push_back("file:" + title + "|" + filter);
  return TakeFirst(files);
}

std::string ScriptedPickers::BrowseForFolder(const std::string& title) {
  requests.push_back("folder:" + title);
  return TakeFirst(folders);
}

MemoryWindow::MemoryWindow(FileSystem& fs, Version version)
    : archive(fs),
      frm({form, lblSource, lblDestination, cmdBrowseSource, cmdBrowseDestination, cmdExtract},
          archive, fs, pickers, version) {}

}  // namespace sectorsieve::ui
