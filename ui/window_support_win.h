#pragma once

// What the program's windows share on Win32: their DPI, the font and twips they lay out with,
// texts in UTF-8, and names for screen readers.

#include <windows.h>

#include <exception>
#include <string>

#include "controls.h"
#include "unique_handle.h"
#include "win_handles.h"

namespace sectorsieve::ui {

inline constexpr int kTwipsPerInch = 1440;
// Sent by Windows 10 1703 on, which the headers for older systems leave out.
inline constexpr UINT kGetDpiScaledSize = 0x02E4;  // WM_GETDPISCALEDSIZE

template <typename Interface>
struct ComTraits {
  using pointer = Interface*;
  static pointer invalid() { return nullptr; }
  static void close(Interface* object) { object->Release(); }
};

// A function of user32 that only newer systems have (Windows 10 1607 on), or null.
template <typename Function>
Function NewerUser32(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

// The window's text in UTF-8; throws UnconvertibleText for text that is not UTF-16.
std::string WindowText(HWND hwnd);
// Dots per inch of the screen as the system was started with: the one DPI of every window
// where Windows has no DPI per monitor.
int SystemDpi();
// Dots per inch of the monitor the window is on.
int WindowDpi(HWND hwnd);
inline int Pixels(int twips, int dpi) { return ::MulDiv(twips, dpi, kTwipsPerInch); }
// The controls' font at dpi: the system's dialog font, grown or shrunk from the DPI it was
// made for, so that at the system's DPI it is that font exactly.
unique_gdi_object FontAt(int dpi);
// System cursors are integer resources, the same for both character sets.
HCURSOR SystemCursor(LPCSTR id);
// Gives control the name screen readers say for it. Without the accessibility service (some
// Wine setups) the control keeps the name the system gives it.
void NameForScreenReaders(HWND control, const wchar_t* name);

// An EDIT or a STATIC: setting an EDIT's text makes it send EN_CHANGE before SetText returns.
class WinTextBox final : public TextBox {
 public:
  std::string Text() const override;
  void SetText(const std::string& text) override;

  HWND hwnd = nullptr;
};

class WinButton final : public CommandButton {
 public:
  bool Enabled() const override;
  void SetEnabled(bool enabled) override;

  HWND hwnd = nullptr;
};

// Registers the class className of the program's windows once: its icon iconId, the arrow, the
// dialog colour and menu (or none). what names the window in the failure.
void RegisterWindowClass(HINSTANCE instance, const wchar_t* className, WNDPROC proc, WORD iconId,
                         const wchar_t* menu, const char* what);

// The window procedure of a window object of type T, as the classic samples' BaseWindow has
// it: T made the window with itself as its creation parameter, is kept on the window from
// WM_NCCREATE on, and takes each message in T::HandleMessage. No exception may cross the
// system's frames that called it: T::Fail says what escaped.
template <typename T>
LRESULT CALLBACK WindowProcOf(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_.reset(hwnd);
  }
  auto* self = reinterpret_cast<T*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  try {
    return self->HandleMessage(hwnd, msg, wParam, lParam);
  } catch (const std::exception& e) {
    self->Fail(e.what());
  } catch (...) {
    self->Fail("unknown failure");
  }
  return 0;
}

}  // namespace sectorsieve::ui
