#pragma once

// Entries dragged out of the contents window as files the drop target makes: a data object
// with one file descriptor per entry (CFSTR_FILEDESCRIPTORW) and each entry's bytes as a stream
// (CFSTR_FILECONTENTS, one per lindex) read from the data file only when the target asks.

#include <windows.h>
// OLE's drag and drop builds on windows.h.
#include <ole2.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "file_io.h"
#include "unique_handle.h"
#include "window_support_win.h"

namespace sectorsieve::ui {

struct DraggedFile {
  std::wstring name;       // as extraction names its file, folders separated by "\"
  std::int64_t start = 0;  // in the data file
  std::int64_t bytes = 0;  // the entry's; what lies past the data file's end reads as zeros
};

using unique_data_object = unique_handle<ComTraits<IDataObject>>;
using unique_drop_source = unique_handle<ComTraits<IDropSource>>;
using unique_drop_target = unique_handle<ComTraits<IDropTarget>>;

// A data object over files, reading their bytes from data, a data file of dataSize bytes.
unique_data_object NewEntryDataObject(std::shared_ptr<InputFile> data, std::int64_t dataSize,
                                      std::vector<DraggedFile> files);
// The drag's source: Escape cancels, releasing the button drops.
unique_drop_source NewDropSource();

// A target for files dragged in (CF_HDROP), taken as copies while accepting says so, and
// nothing else. Once the drop is done, dropped gets their paths in UTF-8: the source is not
// kept waiting for what they become.
unique_drop_target NewFileDropTarget(std::function<bool()> accepting,
                                     std::function<void(std::vector<std::string>)> dropped);

}  // namespace sectorsieve::ui
