#include "app/plain_window.h"

#include <memory>

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide.h"

namespace zul::app {
namespace {

constexpr wchar_t kClassName[] = L"Ex_DirectUI";
constexpr UINT kSetStatus = WM_APP + 1;  // lParam: a heap std::wstring the window takes over
constexpr int kWidth = 528, kHeight = 382;

// The status text lives as long as the window; the window procedure reads
// it through the window's user data.
struct WindowData {
  std::wstring status;
};

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE: {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      break;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      if (auto* data = reinterpret_cast<WindowData*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
        RECT area;
        GetClientRect(window, &area);
        InflateRect(&area, -16, -16);
        SetBkMode(dc, TRANSPARENT);
        DrawTextW(dc, data->status.c_str(), static_cast<int>(data->status.size()), &area, DT_LEFT | DT_WORDBREAK);
      }
      EndPaint(window, &paint);
      return 0;
    }
    case kSetStatus: {
      std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
      if (auto* data = reinterpret_cast<WindowData*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
        data->status = std::move(*text);
        InvalidateRect(window, nullptr, TRUE);
      }
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      delete reinterpret_cast<WindowData*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND createMainWindow(HINSTANCE instance, const Text& title, const Text& statusLine) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);

  auto* data = new WindowData{win32::toWide(statusLine)};
  const int x = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
  HWND window = CreateWindowExW(0, kClassName, win32::toWide(title).c_str(),
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, x, y, kWidth, kHeight,
                                nullptr, nullptr, instance, data);
  if (!window) delete data;
  return window;
}

void setStatusLine(HWND window, const Text& statusLine) {
  auto text = std::make_unique<std::wstring>(win32::toWide(statusLine));
  if (PostMessageW(window, kSetStatus, 0, reinterpret_cast<LPARAM>(text.get()))) text.release();
}

void setWindowIcon(HWND window, const Bytes& iconFile) {
  if (iconFile.size() < 6) return;
  // The .ico file's directory: take the image closest to 32 x 32.
  const auto* bytes = reinterpret_cast<const BYTE*>(iconFile.data());
  const size_t count = bytes[4] | (bytes[5] << 8);
  size_t best = 0;
  int bestScore = 1 << 30;
  for (size_t i = 0; i < count && 6 + (i + 1) * 16 <= iconFile.size(); ++i) {
    const int width = bytes[6 + i * 16] == 0 ? 256 : bytes[6 + i * 16];
    const int score = width >= 32 ? width - 32 : (32 - width) * 4;
    if (score < bestScore) {
      bestScore = score;
      best = i;
    }
  }
  const BYTE* entry = bytes + 6 + best * 16;
  const DWORD size = entry[8] | (entry[9] << 8) | (entry[10] << 16) | (static_cast<DWORD>(entry[11]) << 24);
  const DWORD at = entry[12] | (entry[13] << 8) | (entry[14] << 16) | (static_cast<DWORD>(entry[15]) << 24);
  if (count == 0 || at > iconFile.size() || size > iconFile.size() - at) return;
  HICON icon = CreateIconFromResourceEx(const_cast<BYTE*>(bytes + at), size, TRUE, 0x00030000, 32, 32, LR_DEFAULTCOLOR);
  if (icon) SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

}  // namespace zul::app
