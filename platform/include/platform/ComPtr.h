// Small owning helpers for COM pointers and BSTRs used inside the platform
// layer, the component and their tests.
#pragma once

#include <string>
#include <utility>

#include "platform/OleAuto.h"

namespace platform {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T* p) : mPtr(p) {}  // takes ownership of one reference
    ComPtr(const ComPtr& other) : mPtr(other.mPtr) {
        if (mPtr) mPtr->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : mPtr(std::exchange(other.mPtr, nullptr)) {}
    ~ComPtr() { reset(); }
    ComPtr& operator=(ComPtr other) {
        std::swap(mPtr, other.mPtr);
        return *this;
    }
    void reset() {
        if (mPtr) std::exchange(mPtr, nullptr)->Release();
    }
    T* get() const { return mPtr; }
    T* operator->() const { return mPtr; }
    explicit operator bool() const { return mPtr != nullptr; }
    T** put() {
        reset();
        return &mPtr;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    T* detach() { return std::exchange(mPtr, nullptr); }

private:
    T* mPtr = nullptr;
};

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const char16_t* text) : mText(SysAllocString(text)) {}
    explicit Bstr(const std::u16string& text) : mText(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : mText(std::exchange(other.mText, nullptr)) {}
    ~Bstr() { SysFreeString(mText); }
    BSTR get() const { return mText; }
    BSTR* put() {
        SysFreeString(std::exchange(mText, nullptr));
        return &mText;
    }
    BSTR detach() { return std::exchange(mText, nullptr); }
    std::u16string str() const { return mText ? std::u16string(mText, SysStringLen(mText)) : std::u16string(); }

private:
    BSTR mText = nullptr;
};

// A VARIANT that is cleared when it goes out of scope.
struct Variant : VARIANT {
    Variant() { VariantInit(this); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(this); }
};

}  // namespace platform
