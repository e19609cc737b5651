// Owners for the COM objects, texts and VARIANTs the bindings hold for the
// length of one call: each is released on every path by its destructor.
#pragma once

// <windows.h> first: the other SDK headers build on it.
// clang-format off
#include <windows.h>
#include <oleauto.h>
// clang-format on

namespace tavu::win32 {

template <class T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  // A move hands the reference over: no AddRef, and the source is left empty.
  ComRef(ComRef&& other) noexcept : p_(other.release()) {}
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = other.release();
    }
    return *this;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // The out-parameter of a call that hands an object over.
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  T* release() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// A BSTR copy of a text; null for a null text (which COM reads as "").
class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : s_(text != nullptr ? SysAllocString(text) : nullptr) {}
  ~Bstr() { SysFreeString(s_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return s_; }
  // A text was given but could not be copied.
  static bool Lost(const wchar_t* text, const Bstr& b) { return text != nullptr && b.s_ == nullptr; }

 private:
  BSTR s_;
};

class Variant {
 public:
  Variant() { VariantInit(&v_); }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* put() {
    VariantClear(&v_);
    return &v_;
  }
  const VARIANT& get() const { return v_; }
  // A VT_BSTR holding a copy of text; false when it could not be made.
  bool SetText(const wchar_t* text) {
    VariantClear(&v_);
    v_.vt = VT_BSTR;
    v_.bstrVal = SysAllocString(text != nullptr ? text : L"");
    if (v_.bstrVal == nullptr) v_.vt = VT_EMPTY;
    return v_.vt == VT_BSTR;
  }

 private:
  VARIANT v_;
};

}  // namespace tavu::win32
