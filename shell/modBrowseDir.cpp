// The folder picker and the open-file dialog, reached through their ANSI entries so that every
// text crosses to the platform as NUL-terminated bytes in the system's ANSI code page.

#include "modBrowseDir.h"

#include <cstddef>

#include "modArchive.h"
#include "unique_handle.h"

namespace sectorsieve::shell {

namespace {

// The 32-bit layouts the pickers were made for: the open-file record ends with lpTemplateName
// (the platform's OPENFILENAME_SIZE_VERSION_400A, a size it cannot give as a constant).
#if !defined(_WIN64)
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(OPENFILENAMEA::lpTemplateName) == 76,
              "the open-file record without its appended fields is 76 bytes");
static_assert(sizeof(BROWSEINFOA) == 32, "the folder picker's record is 32 bytes");
#endif

// The item list the folder picker returns comes from the platform's task allocator.
struct ItemListTraits {
  using pointer = PIDLIST_ABSOLUTE;
  static pointer invalid() { return nullptr; }
  static void close(pointer list) { ::CoTaskMemFree(list); }
};
using unique_item_list = unique_handle<ItemListTraits>;

std::string_view TrimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

FolderRequest::FolderRequest(const std::string& titleText, HWND owner) : title(titleText) {
  ::ZeroMemory(&info, sizeof info);
  info.hwndOwner = owner;
  // Appends nothing and hands back the title's own address.
  info.lpszTitle = ::lstrcatA(title.data(), "");
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;
}

FileRequest::FileRequest(const std::string& titleText, const std::string& filter, HWND owner)
    : title(titleText),
      filterList("(" + filter + ")" + '\0' + filter + '\0'),
      file(FILE_BUFFER_SIZE, ' '),
      fileTitle(FILE_BUFFER_SIZE, ' '),
      initialDir(ExecutableFolder()) {
  file.back() = '\0';
  fileTitle.back() = '\0';
  ::ZeroMemory(&info, sizeof info);
  // Announces the layout without the appended fields, so the dialog reads none of them.
  info.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  info.hwndOwner = owner;
  info.hInstance = ::GetModuleHandleA(nullptr);
  info.lpstrFilter = filterList.c_str();
  info.lpstrFile = file.data();
  info.nMaxFile = FILE_BUFFER_SIZE;
  info.lpstrFileTitle = fileTitle.data();
  info.nMaxFileTitle = FILE_BUFFER_SIZE;
  info.lpstrInitialDir = initialDir.c_str();
  info.lpstrTitle = title.c_str();
  // No option: the caller checks whether the chosen file exists.
  info.Flags = 0;
}

std::string FolderFromBuffer(std::string_view buffer) {
  const auto end = buffer.find('\0');
  if (end == std::string_view::npos) return "";
  return std::string(buffer.substr(0, end));
}

std::string FileFromBuffer(std::string_view buffer) { return StripNulls(TrimSpaces(buffer)); }

std::string ExecutableFolder() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const auto slash = path.rfind('\\');
  if (slash == std::string::npos) return "";
  // "C:" without its "\" would name the drive's current folder, not its root.
  const bool driveRoot = slash == 2 && path[1] == ':';
  path.resize(driveRoot ? slash + 1 : slash);
  return path;
}

std::string BrowseForFolder(const std::string& title, HWND owner) {
  FolderRequest request(title, owner);
  const unique_item_list chosen(::SHBrowseForFolderA(&request.info));
  if (!chosen) return "";
  std::vector<char> path(MAX_PATH + 1, ' ');
  path.back() = '\0';
  ::SHGetPathFromIDListA(chosen.get(), path.data());
  return FolderFromBuffer({path.data(), MAX_PATH});
}

std::string BrowseForFile(const std::string& title, const std::string& filter, HWND owner) {
  FileRequest request(title, filter, owner);
  if (!::GetOpenFileNameA(&request.info)) return "";
  return FileFromBuffer({request.file.data(), request.file.size() - 1});
}

ComApartment::ComApartment()
    : initialised_(
          SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
}

ComApartment::~ComApartment() {
  if (initialised_) ::CoUninitialize();
}

}  // namespace sectorsieve::shell
