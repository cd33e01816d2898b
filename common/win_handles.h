#pragma once

// Windows resources owned by unique_handle.

#include <windows.h>

#include "unique_handle.h"

namespace sectorsieve {

// A window of ours, destroyed with its owner.
struct WindowTraits {
  using pointer = HWND;
  static pointer invalid() { return nullptr; }
  static void close(HWND window) { ::DestroyWindow(window); }
};
using unique_hwnd = unique_handle<WindowTraits>;

// Files say "none" with INVALID_HANDLE_VALUE, most other kernel objects with null: the two
// must not be confused.
struct FileHandleTraits {
  using pointer = HANDLE;
  static pointer invalid() { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { ::CloseHandle(h); }
};
using unique_hfile = unique_handle<FileHandleTraits>;

struct KernelHandleTraits {
  using pointer = HANDLE;
  static pointer invalid() { return nullptr; }
  static void close(HANDLE h) { ::CloseHandle(h); }
};
using unique_kernel_handle = unique_handle<KernelHandleTraits>;

// A font, pen or other GDI object of ours, deleted once nothing draws with it.
struct GdiObjectTraits {
  using pointer = HGDIOBJ;
  static pointer invalid() { return nullptr; }
  static void close(HGDIOBJ object) { ::DeleteObject(object); }
};
using unique_gdi_object = unique_handle<GdiObjectTraits>;

// A search of FindFirstFile, ended by FindClose.
struct FindTraits {
  using pointer = HANDLE;
  static pointer invalid() { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { ::FindClose(h); }
};
using unique_find = unique_handle<FindTraits>;

// The argument list CommandLineToArgvW makes, freed with LocalFree.
struct ArgumentListTraits {
  using pointer = LPWSTR*;
  static pointer invalid() { return nullptr; }
  static void close(LPWSTR* list) { ::LocalFree(list); }
};
using unique_argument_list = unique_handle<ArgumentListTraits>;

}  // namespace sectorsieve
