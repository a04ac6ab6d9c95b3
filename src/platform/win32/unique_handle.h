// Move-only owners for Win32 handles: one template, one line per kind.
#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>

namespace zul::win32 {

// Owns a handle of type T closed by Close; Invalid is the integer value that
// means "no handle" (-1 for files, 0 for the rest). Closing preserves the thread's last error.
template <typename T, intptr_t Invalid, auto Close>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(T h) : h_(h) {}
  UniqueHandle(UniqueHandle&& other) noexcept : h_(std::exchange(other.h_, invalid())) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.h_, invalid()));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  explicit operator bool() const { return h_ != invalid(); }
  T get() const { return h_; }
  void reset(T h = invalid()) {
    if (h_ != invalid()) {
      const DWORD error = GetLastError();
      Close(h_);
      SetLastError(error);
    }
    h_ = h;
  }
  // For out-parameters: releases the current handle first.
  T* put() {
    reset();
    return &h_;
  }

 private:
  static T invalid() { return reinterpret_cast<T>(Invalid); }
  T h_ = invalid();
};

inline void closeHandle(HANDLE h) { CloseHandle(h); }
inline void closeKey(HKEY k) { RegCloseKey(k); }
inline void freeLibrary(HMODULE m) { FreeLibrary(m); }
inline void destroyIcon(HICON i) { DestroyIcon(i); }
inline void findClose(HANDLE h) { FindClose(h); }

using UniqueFile = UniqueHandle<HANDLE, -1, closeHandle>;
using UniqueKernelHandle = UniqueHandle<HANDLE, 0, closeHandle>;
using UniqueKey = UniqueHandle<HKEY, 0, closeKey>;
using UniqueModule = UniqueHandle<HMODULE, 0, freeLibrary>;
using UniqueIcon = UniqueHandle<HICON, 0, destroyIcon>;
using UniqueFind = UniqueHandle<HANDLE, -1, findClose>;  // FindFirstFileW's search

}  // namespace zul::win32
