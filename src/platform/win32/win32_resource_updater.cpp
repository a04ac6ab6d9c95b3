#include <windows.h>

#include <string>

#include "platform/win32/wide.h"
#include "platform/win32/win32_install_adapters.h"

namespace zul::win32 {
namespace {

// An open resource update. Discards its changes unless commit() succeeded.
class ResourceUpdate {
 public:
  explicit ResourceUpdate(const Text& path) : handle_(BeginUpdateResourceW(toWide(path).c_str(), FALSE)) {}
  ~ResourceUpdate() {
    if (handle_) EndUpdateResourceW(handle_, TRUE);
  }
  ResourceUpdate(const ResourceUpdate&) = delete;
  ResourceUpdate& operator=(const ResourceUpdate&) = delete;

  explicit operator bool() const { return handle_ != nullptr; }
  HANDLE getUnsafe() const { return handle_; }
  bool commit() {
    const HANDLE handle = handle_;
    handle_ = nullptr;
    return EndUpdateResourceW(handle, FALSE) != 0;
  }

 private:
  HANDLE handle_;
};

// The pointer form of a resource type or name; `text` keeps a text name
// alive for as long as the pointer is used.
const wchar_t* resourcePointer(const ResourceName& name, std::wstring& text) {
  if (name.text.empty()) return MAKEINTRESOURCEW(name.id);
  text = toWide(name.text);
  return text.c_str();
}

}  // namespace

bool Win32ResourceUpdater::apply(const Text& exePath, const std::vector<ResourceChange>& changes) {
  ResourceUpdate update(exePath);
  if (!update) return false;
  for (const ResourceChange& change : changes) {
    std::wstring typeText, nameText;
    const wchar_t* type = resourcePointer(change.type, typeText);
    const wchar_t* name = resourcePointer(change.name, nameText);
    if (!UpdateResourceW(update.getUnsafe(), type, name, change.language, const_cast<char*>(change.data.data()),
                         static_cast<DWORD>(change.data.size()))) {
      return false;
    }
  }
  return update.commit();
}

}  // namespace zul::win32
