#pragma once

// The two pickers through which the user chooses the program's inputs, in their ANSI forms.
// Each returns the chosen path in UTF-8, or "" when nothing was chosen (cancel or failure
// alike). The folder picker gives the folder's exact Unicode path beside its ANSI one; the
// open-file dialog gives only the ANSI one, and throws UnconvertibleText for a path the ANSI
// code page cannot name exactly.

#include <windows.h>
// The dialogs' headers build on windows.h.
#include <commdlg.h>
#include <shlobj.h>

#include <string>
#include <string_view>
#include <vector>

namespace sectorsieve::shell {

std::string BrowseForFolder(const std::string& title, HWND owner);
std::string BrowseForFile(const std::string& title, const std::string& filter, HWND owner);

// Bytes of the buffer the open-file dialog writes the chosen path into, its terminating NUL
// included: a longer path does not fit and the dialog fails.
inline constexpr DWORD FILE_BUFFER_SIZE = 255;

// The folder picker's request with the title text it points to. The record holds addresses
// inside this object, so it is built in place and never copied or moved.
struct FolderRequest {
  FolderRequest(const std::string& title, HWND owner);
  FolderRequest(const FolderRequest&) = delete;
  FolderRequest& operator=(const FolderRequest&) = delete;

  std::string title;
  BROWSEINFOA info;
};

// The open-file dialog's request with the texts and buffers it points to; pinned in place
// like FolderRequest.
struct FileRequest {
  FileRequest(const std::string& title, const std::string& filter, HWND owner);
  FileRequest(const FileRequest&) = delete;
  FileRequest& operator=(const FileRequest&) = delete;

  std::string title;
  std::string filterList;  // its own terminating NUL ends the list a second time
  std::vector<char> file;
  std::vector<char> fileTitle;
  std::string initialDir;
  OPENFILENAMEA info;
};

// The folder path in a buffer the folder picker filled: the text before its first NUL, or ""
// when the platform wrote no NUL at all.
std::string FolderFromBuffer(std::string_view buffer);
// The file path in a buffer the open-file dialog filled, without padding spaces and NULs.
std::string FileFromBuffer(std::string_view buffer);
// The folder that holds the program's executable file, without a trailing "\" unless it is a
// drive's root.
std::string ExecutableFolder();

}  // namespace sectorsieve::shell
