// Small owners for the OLE and Win32 resources the library handles: BSTRs,
// VARIANTs and kernel handles. Each frees what it holds exactly once.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <memory>
#include <string_view>
#include <utility>

namespace qz45 {

// An HRESULT failure raised by a conversion step (string memory exhausted,
// a VARIANT that cannot be copied).
struct ComError {
    HRESULT hr;
};

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(BSTR owned) : s_(owned) {}
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    Bstr(Bstr &&o) noexcept : s_(std::exchange(o.s_, nullptr)) {}
    Bstr &operator=(Bstr &&o) noexcept {
        if (this != &o) reset(std::exchange(o.s_, nullptr));
        return *this;
    }
    ~Bstr() { reset(); }

    void reset(BSTR s = nullptr) {
        if (s_ != nullptr) SysFreeString(s_);
        s_ = s;
    }
    BSTR get() const { return s_; }
    BSTR release() { return std::exchange(s_, nullptr); }

    // Converts 8-bit text in the process's ANSI code page to a new BSTR.
    // An empty text gives an empty string, never a null one. Throws
    // ComError(E_OUTOFMEMORY) when string memory runs out.
    static Bstr FromAnsi(std::string_view text) {
        int n = 0;
        if (!text.empty()) {
            n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0);
        }
        BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(n));
        if (s == nullptr) throw ComError{E_OUTOFMEMORY};
        if (n > 0)
            MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), s, n);
        s[n] = L'\0';
        return Bstr(s);
    }

private:
    BSTR s_ = nullptr;
};

class Variant {
public:
    Variant() { VariantInit(&v_); }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
    Variant(Variant &&o) noexcept : v_(o.v_) { VariantInit(&o.v_); }
    Variant &operator=(Variant &&o) noexcept {
        if (this != std::addressof(o)) {  // operator& is deleted
            clear();
            v_ = o.v_;
            VariantInit(&o.v_);
        }
        return *this;
    }
    ~Variant() { clear(); }

    void clear() { VariantClear(&v_); }
    VARIANT &get() { return v_; }
    const VARIANT &get() const { return v_; }
    VARIANT *operator&() = delete;
    VARIANT *ptr() { return &v_; }

    // A deep copy; throws ComError with the failure of VariantCopy.
    Variant Copy() const {
        Variant out;
        HRESULT hr = VariantCopy(out.ptr(), const_cast<VARIANT *>(&v_));
        if (FAILED(hr)) throw ComError{hr};
        return out;
    }

private:
    VARIANT v_;
};

// A kernel handle closed with CloseHandle.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;
    UniqueHandle(UniqueHandle &&o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
    UniqueHandle &operator=(UniqueHandle &&o) noexcept {
        if (this != &o) reset(std::exchange(o.h_, nullptr));
        return *this;
    }
    ~UniqueHandle() { reset(); }
    void reset(HANDLE h = nullptr) {
        if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = h;
    }
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_ = nullptr;
};

}  // namespace qz45
