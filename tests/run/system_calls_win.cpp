// The counts come from the executable's own import table: every call the core makes to these
// functions goes through its slot there, pointed at a counter that calls on.

#include <windows.h>

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

#include "system_calls.h"

namespace sectorsieve::testing {

namespace {

constexpr std::array<const char*, 8> kNames = {"CreateFileW",
                                               "SetFileInformationByHandle",
                                               "GetFileAttributesW",
                                               "GetFileAttributesExW",
                                               "GetFileInformationByHandle",
                                               "MoveFileExW",
                                               "DeleteFileW",
                                               "FindFirstFileExW"};
std::array<std::atomic<int>, kNames.size()> gCounts{};
std::array<void*, kNames.size()> gReal{};

template <std::size_t c, class R, class... A>
R WINAPI Counter(A... args) {
  ++gCounts[c];
  return reinterpret_cast<R(WINAPI*)(A...)>(gReal[c])(args...);
}
template <std::size_t c, class R, class... A>
void* CounterOf(R(WINAPI*)(A...)) {
  return reinterpret_cast<void*>(&Counter<c, R, A...>);
}
const std::array<void*, kNames.size()> kCounters = {CounterOf<0>(&::CreateFileW),
                                                    CounterOf<1>(&::SetFileInformationByHandle),
                                                    CounterOf<2>(&::GetFileAttributesW),
                                                    CounterOf<3>(&::GetFileAttributesExW),
                                                    CounterOf<4>(&::GetFileInformationByHandle),
                                                    CounterOf<5>(&::MoveFileExW),
                                                    CounterOf<6>(&::DeleteFileW),
                                                    CounterOf<7>(&::FindFirstFileExW)};

void PointSlotsAtCounters() {
  auto* const base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const DWORD imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  for (auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports);
       library->Name != 0; ++library) {
    const auto* names =
        reinterpret_cast<const IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const char* name = reinterpret_cast<const char*>(
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
      for (std::size_t c = 0; c < kNames.size(); ++c) {
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
  for (std::size_t c = 0; c < kNames.size(); ++c) counts[kNames[c]] = gCounts[c];
  return counts;
}

}  // namespace sectorsieve::testing
