// The folder picker and the open-file dialog, reached through their ANSI entries so that every
// text crosses to the platform as NUL-terminated bytes in the system's ANSI code page.

#include "modBrowseDir.h"

#include <cstddef>

#include "ansi_text.h"
#include "file_io.h"
#include "names.h"
#include "program_file.h"
#include "unique_handle.h"
#include "win_handles.h"

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

const CodePage& Ansi() { return SystemFileSystem().Ansi(); }

// True when folder (ending in "\") holds an entry whose name the code page cannot hold but
// whose look-alike conversion is name: the dialog may have meant that entry.
bool HasLookAlike(const std::string& folder, const std::string& name) {
  WIN32_FIND_DATAW found{};
  const unique_find search(::FindFirstFileW((Widen(folder) + L"*").c_str(), &found));
  if (!search) return false;
  const std::wstring wanted = Widen(name);
  do {
    const int n =
        ::WideCharToMultiByte(CP_ACP, 0, found.cFileName, -1, nullptr, 0, nullptr, nullptr);
    std::string bestFit(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, found.cFileName, -1, bestFit.data(), n, nullptr, nullptr);
    bestFit.resize(bestFit.size() - 1);
    if (::CompareStringOrdinal(Widen(bestFit).c_str(), -1, wanted.c_str(), -1, TRUE) != CSTR_EQUAL)
      continue;
    try {
      ExactAnsi(found.cFileName);
    } catch (const UnconvertibleText&) {
      return true;
    }
  } while (::FindNextFileW(search.get(), &found));
  return false;
}

// The open-file dialog hands its path over in the ANSI code page only. Refuses it when any of
// its parts may stand for a name that did not convert: "." and ".." (a full path never holds
// them) or a name that another entry of the same folder looks like.
void CheckDialogPath(const std::string& path) {
  const std::size_t root = FindSeparator(path, 0, Ansi());
  if (root == std::string::npos) return;
  for (std::size_t start = root + 1; start < path.size();) {
    std::size_t end = FindSeparator(path, start, Ansi());
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "." || part == ".." || HasLookAlike(path.substr(0, start), part))
      throw UnconvertibleText(path);
    start = end + 1;
  }
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
  std::string path;
  try {
    path = ExactAnsi(ProgramFile());
  } catch (const UnconvertibleText&) {
    return "";  // the dialog then starts in a folder of its own choosing
  }
  const auto slash = LastSeparator(path, Ansi());
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
  const std::string folder = FolderFromBuffer({path.data(), MAX_PATH});
  // The ANSI path holds "?" or a look-alike for each character the code page lacks; the
  // system also gives the folder exactly, as long as the wide file functions take paths, and
  // that is the one chosen.
  std::wstring wide(32768, L'\0');
  if (!::SHGetPathFromIDListEx(chosen.get(), wide.data(), static_cast<DWORD>(wide.size()),
                               GPFIDL_DEFAULT))
    return AnsiToUtf8(folder);
  wide.resize(wide.find(L'\0'));
  return ExactUtf8(wide);
}

std::string BrowseForFile(const std::string& title, const std::string& filter, HWND owner) {
  FileRequest request(title, filter, owner);
  if (!::GetOpenFileNameA(&request.info)) return "";
  const std::string path = FileFromBuffer({request.file.data(), request.file.size() - 1});
  CheckDialogPath(path);
  return AnsiToUtf8(path);
}

}  // namespace sectorsieve::shell
