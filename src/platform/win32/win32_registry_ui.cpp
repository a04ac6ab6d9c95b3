#include <windows.h>

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_platform.h"

namespace zul::win32 {
namespace {

HKEY rootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kClassesRoot: return HKEY_CLASSES_ROOT;
    case RegistryRoot::kCurrentUser: return HKEY_CURRENT_USER;
    case RegistryRoot::kLocalMachine: return HKEY_LOCAL_MACHINE;
    case RegistryRoot::kUsers: return HKEY_USERS;
    case RegistryRoot::kCurrentConfig: return HKEY_CURRENT_CONFIG;
  }
  return HKEY_LOCAL_MACHINE;
}

// The raw value and its type; false when the key or value is missing.
bool queryValue(RegistryRoot root, const Text& key, const Text& value, DWORD* type, std::string* data) {
  UniqueKey handle;
  if (RegOpenKeyExW(rootKey(root), toWide(key).c_str(), 0, KEY_QUERY_VALUE, handle.put()) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring name = toWide(value);
  DWORD size = 0;
  if (RegQueryValueExW(handle.get(), name.c_str(), nullptr, type, nullptr, &size) != ERROR_SUCCESS) return false;
  data->assign(size, '\0');
  if (RegQueryValueExW(handle.get(), name.c_str(), nullptr, type, reinterpret_cast<BYTE*>(data->data()), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  data->resize(size);
  return true;
}

}  // namespace

Text Win32Registry::readString(RegistryRoot root, const Text& key, const Text& value) {
  DWORD type = 0;
  std::string data;
  if (!queryValue(root, key, value, &type, &data) || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  std::wstring_view wide(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  if (const size_t nul = wide.find(L'\0'); nul != std::wstring_view::npos) wide = wide.substr(0, nul);
  return fromWide(wide);
}

Bytes Win32Registry::readBinary(RegistryRoot root, const Text& key, const Text& value) {
  DWORD type = 0;
  std::string data;
  if (!queryValue(root, key, value, &type, &data) || type != REG_BINARY) return {};
  return data;
}

bool Win32Registry::setValue(RegistryRoot root, const Text& key, const Text& value, RegistryValueType type,
                             std::string_view data) {
  std::string stored;
  DWORD kind = REG_BINARY;
  switch (type) {
    case RegistryValueType::kString: {
      kind = REG_SZ;
      const std::wstring wide = toWide(data.substr(0, data.find('\0')));
      stored.assign(reinterpret_cast<const char*>(wide.c_str()), (wide.size() + 1) * sizeof(wchar_t));
      break;
    }
    case RegistryValueType::kBinary: stored.assign(data); break;
    case RegistryValueType::kDword:
      if (data.size() != 4) return false;
      kind = REG_DWORD;
      stored.assign(data);
      break;
  }
  UniqueKey handle;
  if (RegCreateKeyExW(rootKey(root), toWide(key).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, handle.put(), nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  return RegSetValueExW(handle.get(), toWide(value).c_str(), 0, kind, reinterpret_cast<const BYTE*>(stored.data()),
                        static_cast<DWORD>(stored.size())) == ERROR_SUCCESS;
}

bool Win32Registry::deleteValue(RegistryRoot root, const Text& key, const Text& value) {
  UniqueKey handle;
  if (RegOpenKeyExW(rootKey(root), toWide(key).c_str(), 0, KEY_SET_VALUE, handle.put()) != ERROR_SUCCESS) {
    return false;
  }
  return RegDeleteValueW(handle.get(), toWide(value).c_str()) == ERROR_SUCCESS;
}

bool Win32Registry::deleteKey(RegistryRoot root, const Text& key) {
  // RegDeleteKey with an empty name would act on the root's own handle.
  if (key.empty()) return false;
  return RegDeleteKeyW(rootKey(root), toWide(key).c_str()) == ERROR_SUCCESS;
}

void Win32Ui::showMessage(const Text& text, const Text& title) {
  MessageBoxW(nullptr, toWide(text).c_str(), toWide(title).c_str(), MB_OK);
}

void Win32Ui::pumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace zul::win32
