#include "window_support_win.h"

#include <initguid.h>
#include <oleacc.h>
#include <windowsx.h>

#include "ansi_text.h"

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

}  // namespace sectorsieve::ui
