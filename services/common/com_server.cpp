#include "com_server.h"

#include <objbase.h>

#include <cwchar>
#include <memory>
#include <new>
#include <type_traits>

namespace qz45svc {

namespace {

volatile LONG g_moduleUses = 0;

class ClassFactory final : public IClassFactory, public ServerObject {
public:
    explicit ClassFactory(const ServerClass &c) : class_(c) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefCount(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseCount(); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return class_.create(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            InterlockedIncrement(&g_moduleUses);
        else
            InterlockedDecrement(&g_moduleUses);
        return S_OK;
    }

private:
    const ServerClass &class_;
};

// The registry view of this server's own bitness: a 32-bit server can be
// loaded by 32-bit callers only and a 64-bit one by 64-bit callers, which
// look their classes up in their own view. A 32-bit process writes the
// 32-bit view by default, on 32-bit and 64-bit Windows alike.
constexpr REGSAM kOwnView = sizeof(void *) == 8 ? KEY_WOW64_64KEY : 0;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", 38 characters and the terminator.
void ClsidKeyPath(const CLSID &clsid, wchar_t (&path)[64]) {
    wchar_t text[40] = {};
    StringFromGUID2(clsid, text, 40);
    swprintf(path, 64, L"Software\\Classes\\CLSID\\%ls", text);
}

// The one owner of an open registry key.
struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using RegistryKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

LONG SetStringValue(HKEY key, const wchar_t *name, const wchar_t *value) {
    DWORD bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value), bytes);
}

HRESULT WriteClassKeys(const ServerClass &c, const wchar_t *modulePath) {
    wchar_t path[64];
    ClsidKeyPath(*c.clsid, path);
    HKEY opened = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE | kOwnView,
                              nullptr, &opened, nullptr);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    const RegistryKey classKey(opened);
    wchar_t name[128] = {};
    MultiByteToWideChar(CP_ACP, 0, c.name, -1, name, 127);
    rc = SetStringValue(classKey.get(), nullptr, name);
    if (rc == ERROR_SUCCESS)
        rc = RegCreateKeyExW(classKey.get(), L"InprocServer32", 0, nullptr, 0,
                             KEY_WRITE | kOwnView, nullptr, &opened, nullptr);
    if (rc == ERROR_SUCCESS) {
        const RegistryKey serverKey(opened);
        rc = SetStringValue(serverKey.get(), nullptr, modulePath);
        if (rc == ERROR_SUCCESS) rc = SetStringValue(serverKey.get(), L"ThreadingModel", L"Both");
    }
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

}  // namespace

ServerObject::ServerObject() { InterlockedIncrement(&g_moduleUses); }
ServerObject::~ServerObject() { InterlockedDecrement(&g_moduleUses); }

ULONG ServerObject::AddRefCount() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG ServerObject::ReleaseCount() {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

LONG ModuleUseCount() { return g_moduleUses; }

HMODULE ServerModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ModuleUseCount), &module);
    return module;
}

}  // namespace qz45svc

using qz45svc::ServerClass;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void **out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    std::size_t count = 0;
    const ServerClass *classes = qz45svc::ServerClasses(&count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!IsEqualCLSID(clsid, *classes[i].clsid)) continue;
        auto *factory = new (std::nothrow) qz45svc::ClassFactory(classes[i]);
        if (factory == nullptr) return E_OUTOFMEMORY;
        factory->AddRef();
        HRESULT hr = factory->QueryInterface(iid, out);
        factory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return qz45svc::ModuleUseCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    wchar_t modulePath[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameW(qz45svc::ServerModule(), modulePath, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return E_FAIL;
    std::size_t count = 0;
    const ServerClass *classes = qz45svc::ServerClasses(&count);
    for (std::size_t i = 0; i < count; ++i) {
        HRESULT hr = qz45svc::WriteClassKeys(classes[i], modulePath);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

STDAPI DllUnregisterServer() {
    std::size_t count = 0;
    const ServerClass *classes = qz45svc::ServerClasses(&count);
    for (std::size_t i = 0; i < count; ++i) {
        wchar_t path[64];
        qz45svc::ClsidKeyPath(*classes[i].clsid, path);
        HKEY opened = nullptr;
        const REGSAM access = KEY_WRITE | qz45svc::kOwnView;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, &opened) == ERROR_SUCCESS) {
            const qz45svc::RegistryKey classKey(opened);
            RegDeleteKeyExW(classKey.get(), L"InprocServer32", qz45svc::kOwnView, 0);
        }
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, qz45svc::kOwnView, 0);
    }
    return S_OK;
}
