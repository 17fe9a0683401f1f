// The reference audit service: six in-process classes that keep what the
// library sets on them and, on Submit, append the event as one JSON line to
// an audit-trail file, written and flushed before Submit reports success.
// Many processes may write one trail at once; its lines form a hash chain
// (trail_append.h, and the trail library's trail_chain.h).
//
// The trail file is QZ45_AUDIT_TRAIL when set, else
// %ProgramData%\qz45\audit-trail.jsonl. Built with QZ45_SERVICE_COUNT_ONLY,
// the same classes keep nothing and only count calls (the benchmark's
// service).
#include <windows.h>
#include <knownfolders.h>
#include <oleauto.h>
#include <shlobj.h>

#include <ctime>
#include <memory>
#include <new>
#include <string>

#if !defined(QZ45_SERVICE_COUNT_ONLY)
#include <nlohmann/json.hpp>
#endif

#include "com_server.h"
#include "ole_text.h"
#include "qz45audit_service.h"
#include "reference_service.h"
#if !defined(QZ45_SERVICE_COUNT_ONLY)
#include "trail_append.h"
#endif

namespace {

volatile LONG g_calls = 0;
volatile LONG g_submits = 0;

void Count() { InterlockedIncrement(&g_calls); }

// A private interface through which the logger reaches the event behind the
// ILoggableEvent it is given; only this module's objects answer it.
// {6C1E2A47-3B9D-4E58-A0F2-91D47C3B8E15}
constexpr GUID IID_ITrailEvent = {0x6c1e2a47, 0x3b9d, 0x4e58,
                                  {0xa0, 0xf2, 0x91, 0xd4, 0x7c, 0x3b, 0x8e, 0x15}};
// Likewise for the client context, answered with its IClientContext face.
// {9A4F0C6B-2D71-4B3E-8C5A-E07B13D9F264}
constexpr GUID IID_ITrailContext = {0x9a4f0c6b, 0x2d71, 0x4b3e,
                                    {0x8c, 0x5a, 0xe0, 0x7b, 0x13, 0xd9, 0xf2, 0x64}};

#if defined(QZ45_SERVICE_COUNT_ONLY)
struct Properties {
    template <class T>
    void Set(const char *, T) {}
    void Clear() {}
};
struct Identity {
    void Set(const char *, BSTR) {}
};
#else
using nlohmann::json;

json DateJson(DATE d) { return json{{"date", d}, {"utc", qz45svc::OleDateIso8601(d)}}; }

json VariantJson(const VARIANT &v) {
    json out{{"type", qz45svc::VariantTypeName(V_VT(&v))}};
    switch (V_VT(&v)) {
    case VT_I2: out["value"] = V_I2(&v); break;
    case VT_I4: out["value"] = V_I4(&v); break;
    case VT_R4: out["value"] = V_R4(&v); break;
    case VT_R8: out["value"] = V_R8(&v); break;
    case VT_DATE:
        out["value"] = V_DATE(&v);
        out["utc"] = qz45svc::OleDateIso8601(V_DATE(&v));
        break;
    case VT_BSTR: out["value"] = qz45svc::BstrUtf8(V_BSTR(&v)); break;
    default: break;
    }
    return out;
}

// What an object was given, property by property, in the order of the calls.
struct Properties {
    json values = json::object();
    void Set(const char *name, BSTR s) { values[name] = qz45svc::BstrUtf8(s); }
    void Set(const char *name, LONG n) { values[name] = n; }
    void Set(const char *name, VARIANT_BOOL b) { values[name] = b != VARIANT_FALSE; }
    void Set(const char *name, const VARIANT &v) { values[name] = VariantJson(v); }
    void SetDate(const char *name, DATE d) { values[name] = DateJson(d); }
    void Clear() { values = json::object(); }
};
using Identity = Properties;
#endif

struct ITrailEvent : IUnknown {
    virtual const char *ClassName() = 0;
#if !defined(QZ45_SERVICE_COUNT_ONLY)
    virtual const json &Snapshot() = 0;
#endif
};

// IUnknown over the object's interfaces, one reference count for all.
template <class Derived>
class Unknown : public qz45svc::ServerObject {
protected:
    HRESULT Query(REFIID iid, void **out) {
        if (out == nullptr) return E_POINTER;
        *out = static_cast<Derived *>(this)->Face(iid);
        if (*out == nullptr) return E_NOINTERFACE;
        AddRefCount();
        return S_OK;
    }
};

#define QZ45_IUNKNOWN                                                              \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {    \
        return this->Query(iid, out);                                              \
    }                                                                              \
    ULONG STDMETHODCALLTYPE AddRef() override { return this->AddRefCount(); }     \
    ULONG STDMETHODCALLTYPE Release() override { return this->ReleaseCount(); }

class ClientContextObject final : public IClientContext, public Unknown<ClientContextObject> {
public:
    QZ45_IUNKNOWN
    void *Face(REFIID iid) {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClientContext) ||
                       IsEqualIID(iid, IID_ITrailContext)
                   ? static_cast<IClientContext *>(this)
                   : nullptr;
    }
    HRESULT STDMETHODCALLTYPE SetAppName(BSTR appName) override {
        Count();
        identity.Set("AppName", appName);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetIdentity(BSTR user, BSTR domain, BSTR applicationId) override {
        Count();
        identity.Set("User", user);
        identity.Set("Domain", domain);
        identity.Set("ApplicationId", applicationId);
        return S_OK;
    }
    Identity identity;
};

// One event object of interface I; every setter of the three event
// interfaces is here, those I declares override its methods.
template <class I>
class EventObject final : public I, public ILoggableEvent, public ITrailEvent,
                          public Unknown<EventObject<I>> {
public:
    explicit EventObject(const char *name, const IID &iid) : name_(name), iid_(iid) {}

    QZ45_IUNKNOWN
    void *Face(REFIID iid) {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, iid_)) return static_cast<I *>(this);
        if (IsEqualIID(iid, IID_ILoggableEvent)) return static_cast<ILoggableEvent *>(this);
        if (IsEqualIID(iid, IID_ITrailEvent)) return static_cast<ITrailEvent *>(this);
        return nullptr;
    }

#define QZ45_TRAIL_SETTER(Name, Type, Key)                 \
    HRESULT STDMETHODCALLTYPE Name(Type value) {           \
        Count();                                           \
        properties_.Set(Key, value);                       \
        return S_OK;                                       \
    }
    QZ45_TRAIL_SETTER(SetAppKey, BSTR, "AppKey")
    QZ45_TRAIL_SETTER(SetMessage, BSTR, "Message")
    QZ45_TRAIL_SETTER(SetSeverity, LONG, "Severity")
    QZ45_TRAIL_SETTER(SetRefId, BSTR, "RefId")
    QZ45_TRAIL_SETTER(SetCategory, LONG, "Category")
    QZ45_TRAIL_SETTER(SetAuditTrail, VARIANT_BOOL, "AuditTrail")
    QZ45_TRAIL_SETTER(SetPath, BSTR, "Path")
    QZ45_TRAIL_SETTER(SetArea, BSTR, "Area")
    QZ45_TRAIL_SETTER(SetDescriptor, BSTR, "Descriptor")
    QZ45_TRAIL_SETTER(SetDescriptorType, BSTR, "DescriptorType")
    QZ45_TRAIL_SETTER(SetUnit, BSTR, "Unit")
    QZ45_TRAIL_SETTER(SetProperty, BSTR, "Property")
    QZ45_TRAIL_SETTER(SetValue, VARIANT, "Value")
    QZ45_TRAIL_SETTER(SetOldValue, VARIANT, "OldValue")
    QZ45_TRAIL_SETTER(SetNewValue, VARIANT, "NewValue")
#undef QZ45_TRAIL_SETTER

    HRESULT STDMETHODCALLTYPE SetEventTime(DATE value) { return SetDate("EventTime", value); }
    HRESULT STDMETHODCALLTYPE SetHistory(DATE value) { return SetDate("History", value); }

    // The context's identity as it stands when it is attached.
    HRESULT STDMETHODCALLTYPE SetContext(IClientContext *context) {
        Count();
#if !defined(QZ45_SERVICE_COUNT_ONLY)
        context_ = json();
        if (context != nullptr) {
            // Only this module's contexts answer the private interface; any
            // other is noted as foreign.
            IClientContext *own = nullptr;
            if (SUCCEEDED(context->QueryInterface(IID_ITrailContext, reinterpret_cast<void **>(&own)))) {
                context_ = static_cast<ClientContextObject *>(own)->identity.values;
                own->Release();
            } else {
                context_ = "foreign";
            }
        }
#else
        (void)context;
#endif
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Reset() {
        Count();
        properties_.Clear();
#if !defined(QZ45_SERVICE_COUNT_ONLY)
        context_ = json();
#endif
        return S_OK;
    }

    const char *ClassName() override { return name_; }
#if !defined(QZ45_SERVICE_COUNT_ONLY)
    const json &Snapshot() override {
        snapshot_ = json{{"event", name_}, {"context", context_}, {"properties", properties_.values}};
        return snapshot_;
    }
#endif

private:
    HRESULT SetDate(const char *key, DATE value) {
        Count();
#if !defined(QZ45_SERVICE_COUNT_ONLY)
        properties_.SetDate(key, value);
#else
        (void)key, (void)value;
#endif
        return S_OK;
    }

    const char *name_;
    const IID &iid_;
    Properties properties_;
#if !defined(QZ45_SERVICE_COUNT_ONLY)
    json context_;
    json snapshot_;
#endif
};

#if !defined(QZ45_SERVICE_COUNT_ONLY)
struct TaskMemFree {
    void operator()(wchar_t *p) const { CoTaskMemFree(p); }
};
using TaskMemText = std::unique_ptr<wchar_t, TaskMemFree>;

// %ProgramData%\qz45, from the system's known folder, else from the
// environment; "" when neither names it.
std::wstring DefaultTrailFolder() {
    wchar_t *found = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &found);
    const TaskMemText owned(found);  // freed whether or not the call succeeded
    std::wstring folder;
    if (SUCCEEDED(hr) && found != nullptr) {
        folder = found;
    } else {
        wchar_t buf[MAX_PATH];
        const DWORD n = GetEnvironmentVariableW(L"ProgramData", buf, MAX_PATH);
        if (n > 0 && n < MAX_PATH) folder.assign(buf, n);
    }
    return folder.empty() ? folder : folder + L"\\qz45";
}

// The trail file: QZ45_AUDIT_TRAIL when set, as it is (a missing folder
// fails the append); else audit-trail.jsonl in %ProgramData%\qz45, a folder
// made when missing. Fails with ERROR_PATH_NOT_FOUND when there is no
// ProgramData folder to use.
HRESULT TrailPath(std::wstring *path) {
    wchar_t buf[MAX_PATH * 2];
    const DWORD n = GetEnvironmentVariableW(L"QZ45_AUDIT_TRAIL", buf, MAX_PATH * 2);
    if (n > 0 && n < MAX_PATH * 2) {
        path->assign(buf, n);
        return S_OK;
    }
    const std::wstring folder = DefaultTrailFolder();
    if (folder.empty()) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return HRESULT_FROM_WIN32(GetLastError());
    *path = folder + L"\\audit-trail.jsonl";
    return S_OK;
}

#endif

class EventLoggerObject final : public IEventLogger, public Unknown<EventLoggerObject> {
public:
    QZ45_IUNKNOWN
    void *Face(REFIID iid) {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEventLogger)
                   ? static_cast<IEventLogger *>(this)
                   : nullptr;
    }
    HRESULT STDMETHODCALLTYPE Submit(ILoggableEvent *event) override {
        Count();
        if (event == nullptr) return E_POINTER;
        ITrailEvent *trail = nullptr;
        if (FAILED(event->QueryInterface(IID_ITrailEvent, reinterpret_cast<void **>(&trail))))
            return E_INVALIDARG;  // not one of this service's events
#if defined(QZ45_SERVICE_COUNT_ONLY)
        HRESULT hr = S_OK;
#else
        HRESULT hr;
        try {
            json line = trail->Snapshot();
            line["submitted"] = qz45trail::NowUtc();
            std::wstring path;
            hr = TrailPath(&path);
            if (SUCCEEDED(hr))
                hr = qz45trail::AppendChained(path, line.dump(), qz45trail::RotationFromEnvironment());
        } catch (...) {
            hr = E_OUTOFMEMORY;
        }
#endif
        trail->Release();
        if (SUCCEEDED(hr)) InterlockedIncrement(&g_submits);
        return hr;
    }
};

template <class T>
HRESULT CreateObject(T *object, REFIID iid, void **out) {
    if (object == nullptr) return E_OUTOFMEMORY;
    object->AddRef();
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

template <class I>
HRESULT CreateEvent(const char *name, const IID &own, REFIID iid, void **out) {
    return CreateObject(new (std::nothrow) EventObject<I>(name, own), iid, out);
}

const qz45svc::ServerClass kClasses[] = {
    {&CLSID_ClientContext, "Audit trail ClientContext",
     [](REFIID iid, void **out) { return CreateObject(new (std::nothrow) ClientContextObject, iid, out); }},
    {&CLSID_EventLogger, "Audit trail EventLogger",
     [](REFIID iid, void **out) { return CreateObject(new (std::nothrow) EventLoggerObject, iid, out); }},
    {&CLSID_SystemEvent, "Audit trail SystemEvent",
     [](REFIID iid, void **out) { return CreateEvent<ISystemEvent>("SystemEvent", IID_ISystemEvent, iid, out); }},
    {&CLSID_GeneralEvent, "Audit trail GeneralEvent",
     [](REFIID iid, void **out) { return CreateEvent<IGeneralEvent>("GeneralEvent", IID_IGeneralEvent, iid, out); }},
    {&CLSID_ChangeEvent, "Audit trail ChangeEvent",
     [](REFIID iid, void **out) { return CreateEvent<IChangeEvent>("ChangeEvent", IID_IChangeEvent, iid, out); }},
    {&CLSID_HistoryChangeEvent, "Audit trail HistoryChangeEvent",
     [](REFIID iid, void **out) {
         return CreateEvent<IHistoryChangeEvent>("HistoryChangeEvent", IID_IHistoryChangeEvent, iid, out);
     }},
};

}  // namespace

namespace qz45svc {
const ServerClass *ServerClasses(std::size_t *count) {
    *count = sizeof kClasses / sizeof kClasses[0];
    return kClasses;
}
}  // namespace qz45svc

extern "C" long __cdecl AuditServiceCalls(void) { return g_calls; }
extern "C" long __cdecl AuditServiceSubmits(void) { return g_submits; }
