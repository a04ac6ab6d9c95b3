#include "platform/win32/win32_shell_links.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/com.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide.h"

namespace zul::win32 {
namespace {

constexpr unsigned kPinCaption = 5386;
constexpr unsigned kUnpinCaption = 5387;
// A verb list longer than this is not a real context menu.
constexpr long kMaxVerbs = 1024;
constexpr WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

void setText(IDispatch* object, const wchar_t* property, const Text& value) {
  Variant v = Variant::text(toWide(value));
  invoke(object, property, DISPATCH_PROPERTYPUT, &v, nullptr);
}

// member(argument) as an object; null when the call fails or gives none.
ComPtr<IDispatch> callForObject(IDispatch* object, const wchar_t* member, Variant* argument) {
  Variant result;
  if (FAILED(invoke(object, member, kCall, argument, &result))) return {};
  return result.dispatch();
}

// "file,index" as the link object takes it: Windows reads a location
// without an index as index 0, Wine's WshShortcut refuses it.
Text withIconIndex(const Text& location) {
  if (location.empty()) return location;
  const size_t comma = location.rfind(',');
  if (comma != Text::npos) {
    size_t i = comma + 1;
    while (i < location.size() && location[i] == ' ') ++i;
    if (i < location.size() && location[i] == '-') ++i;
    const size_t digits = i;
    while (i < location.size() && location[i] >= '0' && location[i] <= '9') ++i;
    if (i > digits && i == location.size()) return location;
  }
  return location + ",0";
}

}  // namespace

std::wstring shellVerbCaption(unsigned id) {
  UniqueModule shell32(LoadLibraryW(L"shell32.dll"));
  if (!shell32) return {};
  wchar_t buffer[256] = {};
  const int length = LoadStringW(shell32.get(), id, buffer, 256);
  return length > 0 ? std::wstring(buffer, static_cast<size_t>(length)) : std::wstring();
}

bool Win32ShellLinks::createLink(const Text& linkPath, const ShellLinkFields& fields) {
  ComApartment com;
  ComPtr<IDispatch> shell = createByProgId(L"WScript.Shell");
  if (!shell) return false;
  Variant path = Variant::text(toWide(linkPath));
  ComPtr<IDispatch> link = callForObject(shell.get(), L"CreateShortcut", &path);
  if (!link) return false;

  Variant target = Variant::text(toWide(fields.target));
  if (FAILED(invoke(link.get(), L"TargetPath", DISPATCH_PROPERTYPUT, &target, nullptr))) return false;
  setText(link.get(), L"WorkingDirectory", fields.workingFolder);
  setText(link.get(), L"IconLocation", withIconIndex(fields.iconLocation));
  Variant style = Variant::integer(0);
  invoke(link.get(), L"WindowStyle", DISPATCH_PROPERTYPUT, &style, nullptr);
  setText(link.get(), L"Description", fields.description);
  setText(link.get(), L"Arguments", fields.arguments);
  setText(link.get(), L"Hotkey", Text());
  invoke(link.get(), L"Save", DISPATCH_METHOD, nullptr, nullptr);
  return true;
}

void Win32ShellLinks::pinToTaskbar(const Text& folder, const Text& fileName, bool pin) {
  invokeVerbsNamed(folder, fileName, shellVerbCaption(pin ? kPinCaption : kUnpinCaption));
}

int invokeVerbsNamed(const Text& folder, const Text& fileName, const std::wstring& caption) {
  // Without a caption an unnamed verb would match.
  if (caption.empty()) return 0;

  ComApartment com;
  ComPtr<IDispatch> shell = createByProgId(L"Shell.Application");
  if (!shell) return 0;
  Variant folderName = Variant::text(toWide(folder));
  ComPtr<IDispatch> folderObject = callForObject(shell.get(), L"NameSpace", &folderName);
  if (!folderObject) return 0;
  Variant itemName = Variant::text(toWide(fileName));
  ComPtr<IDispatch> item = callForObject(folderObject.get(), L"ParseName", &itemName);
  if (!item) return 0;
  ComPtr<IDispatch> verbs = callForObject(item.get(), L"Verbs", nullptr);
  if (!verbs) return 0;

  Variant count;
  if (FAILED(invoke(verbs.get(), L"Count", DISPATCH_PROPERTYGET, nullptr, &count)) ||
      FAILED(VariantChangeType(count.get(), count.get(), 0, VT_I4))) {
    return 0;
  }
  const long verbCount = std::min(count.value().lVal, kMaxVerbs);
  int invoked = 0;
  for (long i = 0; i < verbCount; ++i) {
    Variant index = Variant::integer(i);
    ComPtr<IDispatch> verb = callForObject(verbs.get(), L"Item", &index);
    if (!verb) continue;
    Variant name;
    if (FAILED(invoke(verb.get(), L"Name", DISPATCH_PROPERTYGET, nullptr, &name)) || name.value().vt != VT_BSTR ||
        !name.value().bstrVal) {
      continue;
    }
    const std::wstring_view verbName(name.value().bstrVal, SysStringLen(name.value().bstrVal));
    if (verbName == caption && SUCCEEDED(invoke(verb.get(), L"DoIt", DISPATCH_METHOD, nullptr, nullptr))) ++invoked;
  }
  return invoked;
}

}  // namespace zul::win32
