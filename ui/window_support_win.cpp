#include "window_support_win.h"

#include <initguid.h>
#include <oleacc.h>
#include <windowsx.h>

#include <stdexcept>
#include <string>

#include "ansi_text.h"
#include "wide_text.h"

namespace sectorsieve::ui {

std::string WindowText(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(::GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return shell::ExactUtf8(text);
}

int SystemDpi() {
  HDC dc = ::GetDC(nullptr);
  scope_exit release([&] { ::ReleaseDC(nullptr, dc); });
  return ::GetDeviceCaps(dc, LOGPIXELSY);
}

int WindowDpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = NewerUser32<GetDpiForWindowFn>("GetDpiForWindow");
  const UINT dpi = getDpiForWindow ? getDpiForWindow(hwnd) : 0;
  return dpi ? static_cast<int>(dpi) : SystemDpi();
}

unique_gdi_object FontAt(int dpi) {
  LOGFONTW font{};
  ::GetObjectW(GetStockFont(DEFAULT_GUI_FONT), sizeof font, &font);
  font.lfHeight = ::MulDiv(font.lfHeight, dpi, SystemDpi());
  return unique_gdi_object(::CreateFontIndirectW(&font));
}

HCURSOR SystemCursor(LPCSTR id) { return ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(id)); }

void NameForScreenReaders(HWND control, const wchar_t* name) {
  IAccPropServices* services = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IAccPropServices, reinterpret_cast<void**>(&services))))
    return;
  const unique_handle<ComTraits<IAccPropServices>> owner(services);
  services->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_NAME,
                           name);
}

void RegisterWindowClass(HINSTANCE instance, const wchar_t* className, WNDPROC proc, WORD iconId,
                         const wchar_t* menu, const char* what) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (::GetClassInfoExW(instance, className, &existing)) return;
  const auto icon = [&](int width, int height) {
    return static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                           ::GetSystemMetrics(width), ::GetSystemMetrics(height),
                                           LR_SHARED));
  };
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hIcon = icon(SM_CXICON, SM_CYICON);
  wc.hIconSm = icon(SM_CXSMICON, SM_CYSMICON);
  wc.hCursor = SystemCursor(IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszMenuName = menu;
  wc.lpszClassName = className;
  if (!::RegisterClassExW(&wc))
    throw std::runtime_error(std::string(what) + "'s class was refused");
}

std::string WinTextBox::Text() const { return WindowText(hwnd); }

void WinTextBox::SetText(const std::string& text) { ::SetWindowTextW(hwnd, Utf16(text).c_str()); }

bool WinButton::Enabled() const { return ::IsWindowEnabled(hwnd) != FALSE; }

void WinButton::SetEnabled(bool enabled) { ::EnableWindow(hwnd, enabled); }

}  // namespace sectorsieve::ui
