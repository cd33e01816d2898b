#include "program.h"

#include <windows.h>
// COM's and the version record's headers build on windows.h.
#include <objbase.h>

#include <vector>

#include "program_file.h"

namespace sectorsieve::app {

ComApartment::ComApartment()
    : initialised_(
          SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
}

ComApartment::~ComApartment() {
  if (initialised_) ::CoUninitialize();
}

ui::Version ProgramVersion() {
  const std::wstring path = ProgramFile();
  if (path.empty()) return {};
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<char> record(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, record.data())) return {};
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
      length < sizeof *info)
    return {};
  return {HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS)};
}

}  // namespace sectorsieve::app
