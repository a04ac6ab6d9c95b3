// Move-only owners for COM objects, BSTRs and VARIANTs, the apartment of
// one call, and late-bound IDispatch calls by member name.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string_view>
#include <utility>

namespace zul::win32 {

// Owns one reference to a COM interface.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) reset(std::exchange(other.p_, nullptr));
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }

  explicit operator bool() const { return p_ != nullptr; }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  // Takes over a reference the caller already holds.
  void reset(T* p = nullptr) {
    if (p_) p_->Release();
    p_ = p;
  }
  // For out-parameters: releases the current reference first.
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }

 private:
  T* p_ = nullptr;
};

// Owns a BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::wstring_view text) : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  Bstr(Bstr&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) {
      SysFreeString(b_);
      b_ = std::exchange(other.b_, nullptr);
    }
    return *this;
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }

  BSTR get() const { return b_; }
  // Gives up ownership, for a VARIANT that will own the string.
  BSTR release() { return std::exchange(b_, nullptr); }

 private:
  BSTR b_ = nullptr;
};

// Owns a VARIANT and whatever it holds.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
  Variant& operator=(Variant&& other) noexcept {
    if (this != &other) {
      VariantClear(&v_);
      v_ = other.v_;
      VariantInit(&other.v_);
    }
    return *this;
  }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&v_); }

  static Variant text(std::wstring_view value) {
    Variant v;
    v.v_.vt = VT_BSTR;
    v.v_.bstrVal = Bstr(value).release();
    return v;
  }
  static Variant integer(long value) {
    Variant v;
    v.v_.vt = VT_I4;
    v.v_.lVal = value;
    return v;
  }

  VARIANT* get() { return &v_; }
  const VARIANT& value() const { return v_; }
  // For results: clears the current value first.
  VARIANT* put() {
    VariantClear(&v_);
    return &v_;
  }
  // The object held, with its own reference; null for anything else.
  ComPtr<IDispatch> dispatch() const {
    ComPtr<IDispatch> object;
    if (v_.vt == VT_DISPATCH && v_.pdispVal) {
      v_.pdispVal->AddRef();
      object.reset(v_.pdispVal);
    }
    return object;
  }

 private:
  VARIANT v_;
};

// COM for the calling thread for the life of the object: a single-threaded
// apartment, or whatever the thread already has.
class ComApartment {
 public:
  ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT hr_;
};

// The object of ProgID `progId` through IDispatch; null when the class is
// not registered or cannot be made.
ComPtr<IDispatch> createByProgId(const wchar_t* progId);

// Calls member `name` of `object` as a method (DISPATCH_METHOD), reads it
// as a property (DISPATCH_PROPERTYGET) or sets it (DISPATCH_PROPERTYPUT,
// with the one argument as the new value). `argument` may be null for no
// argument; `result` may be null. Returns the call's HRESULT.
HRESULT invoke(IDispatch* object, const wchar_t* name, WORD kind, Variant* argument, Variant* result);

}  // namespace zul::win32
