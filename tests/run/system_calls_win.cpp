// The counts come from the executable's own import table: every call the core makes to these
// functions goes through its slot there, which is pointed at a counter that calls on.

#include <windows.h>

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

#include "system_calls.h"

namespace sectorsieve::testing {

namespace {

enum Call {
  kCreateFile,
  kSetInformation,
  kAttributes,
  kAttributesEx,
  kInformation,
  kInformationEx,
  kMove,
  kDelete,
  kFind,
  kFindEx,
  kCallCount
};
constexpr std::array<const char*, kCallCount> kNames = {"CreateFileW",
                                                        "SetFileInformationByHandle",
                                                        "GetFileAttributesW",
                                                        "GetFileAttributesExW",
                                                        "GetFileInformationByHandle",
                                                        "GetFileInformationByHandleEx",
                                                        "MoveFileExW",
                                                        "DeleteFileW",
                                                        "FindFirstFileW",
                                                        "FindFirstFileExW"};

std::array<std::atomic<int>, kCallCount> gCounts{};
std::array<void*, kCallCount> gReal{};

// Counts a call of c and makes it through the function the slot led to.
template <Call c, class Function, class... Args>
auto Counted(Function*, Args... args) {
  ++gCounts[c];
  return reinterpret_cast<Function*>(gReal[c])(args...);
}

HANDLE WINAPI CreateFileCounted(LPCWSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e,
                                DWORD f, HANDLE g) {
  return Counted<kCreateFile>(&::CreateFileW, a, b, c, d, e, f, g);
}
BOOL WINAPI SetInformationCounted(HANDLE a, FILE_INFO_BY_HANDLE_CLASS b, LPVOID c, DWORD d) {
  return Counted<kSetInformation>(&::SetFileInformationByHandle, a, b, c, d);
}
DWORD WINAPI AttributesCounted(LPCWSTR a) { return Counted<kAttributes>(&::GetFileAttributesW, a); }
BOOL WINAPI AttributesExCounted(LPCWSTR a, GET_FILEEX_INFO_LEVELS b, LPVOID c) {
  return Counted<kAttributesEx>(&::GetFileAttributesExW, a, b, c);
}
BOOL WINAPI InformationCounted(HANDLE a, LPBY_HANDLE_FILE_INFORMATION b) {
  return Counted<kInformation>(&::GetFileInformationByHandle, a, b);
}
BOOL WINAPI InformationExCounted(HANDLE a, FILE_INFO_BY_HANDLE_CLASS b, LPVOID c, DWORD d) {
  return Counted<kInformationEx>(&::GetFileInformationByHandleEx, a, b, c, d);
}
BOOL WINAPI MoveCounted(LPCWSTR a, LPCWSTR b, DWORD c) {
  return Counted<kMove>(&::MoveFileExW, a, b, c);
}
BOOL WINAPI DeleteCounted(LPCWSTR a) { return Counted<kDelete>(&::DeleteFileW, a); }
HANDLE WINAPI FindCounted(LPCWSTR a, LPWIN32_FIND_DATAW b) {
  return Counted<kFind>(&::FindFirstFileW, a, b);
}
HANDLE WINAPI FindExCounted(LPCWSTR a, FINDEX_INFO_LEVELS b, LPVOID c, FINDEX_SEARCH_OPS d,
                            LPVOID e, DWORD f) {
  return Counted<kFindEx>(&::FindFirstFileExW, a, b, c, d, e, f);
}

const std::array<void*, kCallCount> kCounters = {
    reinterpret_cast<void*>(&CreateFileCounted),  reinterpret_cast<void*>(&SetInformationCounted),
    reinterpret_cast<void*>(&AttributesCounted),  reinterpret_cast<void*>(&AttributesExCounted),
    reinterpret_cast<void*>(&InformationCounted), reinterpret_cast<void*>(&InformationExCounted),
    reinterpret_cast<void*>(&MoveCounted),        reinterpret_cast<void*>(&DeleteCounted),
    reinterpret_cast<void*>(&FindCounted),        reinterpret_cast<void*>(&FindExCounted)};

// Points each slot of the executable's import table that names one of the functions at its
// counter.
void PointSlotsAtCounters() {
  auto* const base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& table =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* library =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + table.VirtualAddress);
       library->Name != 0; ++library) {
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(
        base + (library->OriginalFirstThunk ? library->OriginalFirstThunk : library->FirstThunk));
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* name = reinterpret_cast<const char*>(
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
      for (std::size_t c = 0; c < kCallCount; ++c) {
        if (std::strcmp(name, kNames[c]) != 0) continue;
        DWORD was = 0;
        ::VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &was);
        gReal[c] = reinterpret_cast<void*>(slot->u1.Function);
        slot->u1.Function = reinterpret_cast<ULONG_PTR>(kCounters[c]);
        ::VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, was, &was);
      }
    }
  }
}

}  // namespace

std::map<std::string, int> SystemFileCalls() {
  static std::once_flag pointed;
  std::call_once(pointed, PointSlotsAtCounters);
  std::map<std::string, int> counts;
  for (std::size_t c = 0; c < kCallCount; ++c) counts[kNames[c]] = gCounts[c];
  return counts;
}

}  // namespace sectorsieve::testing
