// The audit service's test double: six classes that record every call and
// follow the tests' scripts. See audit_double.h.
#include "audit_double.h"

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "com_server.h"
#include "ole_text.h"
#include "own_handler.h"
#include "qz45audit_service.h"

STDAPI DllRegisterServer();

namespace {

constexpr int kClassCount = 6;
const char *const kClassNames[kClassCount] = {"ClientContext", "EventLogger",
                                              "SystemEvent",   "GeneralEvent",
                                              "ChangeEvent",   "HistoryChangeEvent"};
const char *const kPrimaryNames[kClassCount] = {"IClientContext", "IEventLogger",
                                                "ISystemEvent",   "IGeneralEvent",
                                                "IChangeEvent",   "IHistoryChangeEvent"};
const IID *const kPrimaryIids[kClassCount] = {&IID_IClientContext, &IID_IEventLogger,
                                              &IID_ISystemEvent,   &IID_IGeneralEvent,
                                              &IID_IChangeEvent,   &IID_IHistoryChangeEvent};

struct Entry {
    int cls;
    unsigned id;
    DWORD thread;
    std::string op;
    std::string args;
};

struct Script {
    int cls;
    std::string op;
    int action;
    HRESULT hr;
    DWORD ms;
    bool once;
};

// What a call does after it was recorded: nothing special (action -1), or
// the scripted action.
struct Plan {
    int action = -1;
    HRESULT hr = S_OK;
    DWORD ms = 0;
};

class DoubleObject;

// One lock over all the double's state below: a slim lock, which needs no
// handle and no clean-up, taken exclusively for the life of a Hold.
SRWLOCK g_lock = SRWLOCK_INIT;

class Hold {
public:
    Hold() { AcquireSRWLockExclusive(&g_lock); }
    ~Hold() { ReleaseSRWLockExclusive(&g_lock); }
    Hold(const Hold &) = delete;
    Hold &operator=(const Hold &) = delete;
};

std::vector<Entry> g_log;
std::vector<Script> g_scripts;
std::vector<DoubleObject *> g_live;
unsigned g_nextId = 0;

// Soak mode: logging can be switched off, random faults switched on, and the
// double keeps the few facts a long run checks.
bool g_logging = true;
unsigned g_chaosPpm = 0;         // chance of a random fault per call, in millionths
unsigned g_chaosMaxSleepMs = 0;
uint32_t g_random = 1;           // xorshift state
long g_faultsInjected = 0;
long g_abandonedRefs = 0;        // Release calls that raised instead of releasing
long g_interleavings = 0;
std::vector<std::string> g_submitted;  // RefIds of events submitted successfully

uint32_t NextRandom() {
    g_random ^= g_random << 13;
    g_random ^= g_random >> 17;
    g_random ^= g_random << 5;
    return g_random;
}

// A random fault for one call. Creation only fails or is slow: a raise inside
// the system's own creation path would leave its state to chance, which is
// not what is tested here.
Plan ChaosPlan(const char *op) {
    Plan plan;
    if (g_chaosPpm == 0 || NextRandom() % 1000000u >= g_chaosPpm) return plan;
    ++g_faultsInjected;
    const bool creation = std::strcmp(op, "Create") == 0;
    switch (NextRandom() % (creation ? 2u : 4u)) {
    case 0: plan.action = AUDIT_DOUBLE_RETURN; plan.hr = creation ? REGDB_E_CLASSNOTREG : E_FAIL; break;
    case 1: plan.action = AUDIT_DOUBLE_SLEEP; plan.ms = g_chaosMaxSleepMs ? NextRandom() % (g_chaosMaxSleepMs + 1) : 0; break;
    case 2: plan.action = AUDIT_DOUBLE_THROW; break;
    default: plan.action = AUDIT_DOUBLE_FAULT; break;
    }
    return plan;
}

Plan Record(int cls, unsigned id, const char *op, std::string args) {
    Hold hold;
    if (g_logging) g_log.push_back({cls, id, GetCurrentThreadId(), op, std::move(args)});
    for (auto it = g_scripts.begin(); it != g_scripts.end(); ++it) {
        if ((it->cls != AUDIT_DOUBLE_ANY_CLASS && it->cls != cls) || it->op != op) continue;
        Plan plan{it->action, it->hr, it->ms};
        if (it->once) g_scripts.erase(it);
        return plan;
    }
    return ChaosPlan(op);
}

void WriteToAddressZero() {
    static volatile uintptr_t zero = 0;
    *reinterpret_cast<volatile int *>(zero) = 1;
}

// Carries out the raising actions and the sleep. Runs with no lock held and
// nothing to destroy on the way out, since a raise never comes back.
void Raise(const Plan &plan) {
    switch (plan.action) {
    case AUDIT_DOUBLE_THROW:
        RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 0, nullptr);
        break;
    case AUDIT_DOUBLE_FAULT:
        WriteToAddressZero();
        break;
    case AUDIT_DOUBLE_SLEEP:
        Sleep(plan.ms);
        break;
    case AUDIT_DOUBLE_FAULT_HANDLED:
        audit_double::FaultAndHandleIt();
        break;
    default:
        break;
    }
}

// The result of a method: S_OK unless scripted.
HRESULT Act(const Plan &plan) {
    Raise(plan);
    return plan.action == AUDIT_DOUBLE_RETURN || plan.action == AUDIT_DOUBLE_SLEEP ||
                   plan.action == AUDIT_DOUBLE_FAULT_HANDLED
               ? plan.hr
               : S_OK;
}

std::string BstrText(BSTR s) {
    if (s == nullptr) return "null";
    return "\"" + qz45svc::BstrUtf8(s) + "\"";
}

std::string DateText(DATE d) { return qz45svc::NumberText("%.17g", d); }
std::string LongText(LONG v) { return std::to_string(v); }

std::string VariantText(const VARIANT &v) {
    const std::string type = qz45svc::VariantTypeName(V_VT(&v));
    switch (V_VT(&v)) {
    case VT_I2: return type + ":" + std::to_string(V_I2(&v));
    case VT_I4: return type + ":" + std::to_string(V_I4(&v));
    case VT_R4: return type + ":" + qz45svc::NumberText("%.9g", V_R4(&v));
    case VT_R8: return type + ":" + qz45svc::NumberText("%.17g", V_R8(&v));
    case VT_DATE: return type + ":" + qz45svc::NumberText("%.17g", V_DATE(&v));
    case VT_BSTR: return type + ":" + BstrText(V_BSTR(&v));
    default: return type;
    }
}

std::string GuidText(REFIID iid) {
    wchar_t text[40] = {};
    StringFromGUID2(iid, text, 40);
    return qz45svc::Utf8(text);
}

std::string IidName(REFIID iid) {
    if (IsEqualIID(iid, IID_IUnknown)) return "IUnknown";
    if (IsEqualIID(iid, IID_ILoggableEvent)) return "ILoggableEvent";
    for (int i = 0; i < kClassCount; ++i)
        if (IsEqualIID(iid, *kPrimaryIids[i])) return kPrimaryNames[i];
    return GuidText(iid);
}

// Base of the six classes: identity, recording, QueryInterface and Release.
class DoubleObject : public qz45svc::ServerObject {
public:
    explicit DoubleObject(int cls) : cls_(cls) {
        Hold hold;
        id_ = ++g_nextId;
        g_live.push_back(this);
    }
    ~DoubleObject() override {
        Hold hold;
        g_live.erase(std::find(g_live.begin(), g_live.end(), this));
    }

    int Class() const { return cls_; }
    ULONG Refs() const { return RefCount(); }
    virtual IUnknown *PrimaryFace() = 0;
    virtual ILoggableEvent *LoggableFace() { return nullptr; }

    // The interface for iid with one reference added, or null.
    void *Take(REFIID iid) {
        void *face = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, *kPrimaryIids[cls_]))
            face = PrimaryFace();
        else if (IsEqualIID(iid, IID_ILoggableEvent))
            face = LoggableFace();
        if (face != nullptr) AddRefCount();
        return face;
    }

    HRESULT QueryFrom(REFIID iid, void **out) {
        const Plan plan = Log("QueryInterface", IidName(iid));
        Raise(plan);
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (plan.action >= 0 && FAILED(plan.hr)) return plan.hr;
        *out = Take(iid);
        if (*out == nullptr) return E_NOINTERFACE;
        return plan.action >= 0 ? plan.hr : S_OK;
    }

    ULONG ReleaseFrom(const char *face) {
        const Plan plan = Log("Release", face);
        if (plan.action == AUDIT_DOUBLE_THROW || plan.action == AUDIT_DOUBLE_FAULT) {
            Hold hold;
            ++g_abandonedRefs;
        }
        Raise(plan);
        ULONG left = ReleaseCount();  // may delete this
        return plan.action >= 0 ? static_cast<ULONG>(plan.hr) : left;
    }

    ULONG AddRefFrom() { return AddRefCount(); }

    // The event's RefId as last set, and ownership of the object from its
    // Reset to its Submit, to tell interleaved property calls.
    std::string refId;
    DWORD owner = 0;  // ended by the logger's Submit of this event

protected:
    Plan Log(const char *op, std::string args) {
        if (cls_ >= AUDIT_DOUBLE_SYSTEM_EVENT) {
            Hold hold;
            const DWORD me = GetCurrentThreadId();
            if (std::strcmp(op, "Reset") == 0)
                owner = me;
            else if (std::strncmp(op, "Set", 3) == 0 && owner != 0 && owner != me)
                ++g_interleavings;
        }
        return Record(cls_, id_, op, std::move(args));
    }
    const char *PrimaryName() const { return kPrimaryNames[cls_]; }

private:
    int cls_;
    unsigned id_ = 0;
};

// The text of an interface pointer handed to the double: the class of the
// double's object behind it, or null / foreign.
template <class Face>
std::string ObjectText(Face *p, Face *(*faceOf)(DoubleObject *)) {
    if (p == nullptr) return "null";
    Hold hold;
    for (DoubleObject *o : g_live)
        if (faceOf(o) == p) return kClassNames[o->Class()];
    return "foreign";
}

std::string ContextText(IClientContext *p) {
    return ObjectText<IClientContext>(p, [](DoubleObject *o) -> IClientContext * {
        return o->Class() == AUDIT_DOUBLE_CLIENT_CONTEXT
                   ? static_cast<IClientContext *>(o->PrimaryFace())
                   : nullptr;
    });
}

std::string EventText(ILoggableEvent *p) {
    return ObjectText<ILoggableEvent>(p, [](DoubleObject *o) { return o->LoggableFace(); });
}

// IUnknown of a class's own interface I, forwarded to DoubleObject.
template <class I>
class Primary : public I, public DoubleObject {
public:
    using DoubleObject::DoubleObject;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        return QueryFrom(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefFrom(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseFrom(PrimaryName()); }
    IUnknown *PrimaryFace() override { return static_cast<I *>(this); }
};

class ClientContextObject final : public Primary<IClientContext> {
public:
    ClientContextObject() : Primary(AUDIT_DOUBLE_CLIENT_CONTEXT) {}
    HRESULT STDMETHODCALLTYPE SetAppName(BSTR appName) override {
        const Plan plan = Log("SetAppName", BstrText(appName));
        return Act(plan);
    }
    HRESULT STDMETHODCALLTYPE SetIdentity(BSTR user, BSTR domain, BSTR applicationId) override {
        const Plan plan = Log("SetIdentity", BstrText(user) + ", " + BstrText(domain) + ", " +
                                                 BstrText(applicationId));
        return Act(plan);
    }
};

class EventLoggerObject final : public Primary<IEventLogger> {
public:
    EventLoggerObject() : Primary(AUDIT_DOUBLE_EVENT_LOGGER) {}
    HRESULT STDMETHODCALLTYPE Submit(ILoggableEvent *event) override {
        const Plan plan = Log("Submit", EventText(event));
        HRESULT hr = Act(plan);
        if (SUCCEEDED(hr)) {
            Hold hold;
            for (DoubleObject *o : g_live)
                if (event != nullptr && o->LoggableFace() == event) {
                    g_submitted.push_back(o->refId);
                    if (o->owner != 0 && o->owner != GetCurrentThreadId()) ++g_interleavings;
                    o->owner = 0;
                }
        }
        return hr;
    }
};

// An event object: its own interface I and an ILoggableEvent face of its own
// (a separate vtable, so that calls through it are told apart in the log).
// Every setter of the three event interfaces is defined here; those I
// declares override its methods, the rest are unused.
template <class I, int Cls>
class EventObject final : public Primary<I> {
public:
    EventObject() : Primary<I>(Cls), loggable_(this) {}
    ILoggableEvent *LoggableFace() override { return &loggable_; }

#define QZ45_DOUBLE_SETTER(Name, Type, Text)                    \
    HRESULT STDMETHODCALLTYPE Name(Type value) {                \
        const Plan plan = this->Log(#Name, Text(value));        \
        return Act(plan);                                       \
    }
    QZ45_DOUBLE_SETTER(SetAppKey, BSTR, BstrText)
    QZ45_DOUBLE_SETTER(SetContext, IClientContext *, ContextText)
    QZ45_DOUBLE_SETTER(SetMessage, BSTR, BstrText)
    QZ45_DOUBLE_SETTER(SetEventTime, DATE, DateText)
    QZ45_DOUBLE_SETTER(SetSeverity, LONG, LongText)
    HRESULT STDMETHODCALLTYPE SetRefId(BSTR value) {
        const Plan plan = this->Log("SetRefId", BstrText(value));
        {
            Hold hold;
            this->refId = qz45svc::BstrUtf8(value);
        }
        return Act(plan);
    }
    QZ45_DOUBLE_SETTER(SetCategory, LONG, LongText)
    QZ45_DOUBLE_SETTER(SetAuditTrail, VARIANT_BOOL, LongText)
    QZ45_DOUBLE_SETTER(SetPath, BSTR, BstrText)
    QZ45_DOUBLE_SETTER(SetArea, BSTR, BstrText)
    QZ45_DOUBLE_SETTER(SetDescriptor, BSTR, BstrText)
    QZ45_DOUBLE_SETTER(SetDescriptorType, BSTR, BstrText)
    QZ45_DOUBLE_SETTER(SetUnit, BSTR, BstrText)
    QZ45_DOUBLE_SETTER(SetProperty, BSTR, BstrText)
    QZ45_DOUBLE_SETTER(SetValue, VARIANT, VariantText)
    QZ45_DOUBLE_SETTER(SetOldValue, VARIANT, VariantText)
    QZ45_DOUBLE_SETTER(SetNewValue, VARIANT, VariantText)
    QZ45_DOUBLE_SETTER(SetHistory, DATE, DateText)
#undef QZ45_DOUBLE_SETTER

    HRESULT STDMETHODCALLTYPE Reset() {
        const Plan plan = this->Log("Reset", "");
        return Act(plan);
    }

private:
    struct Loggable final : ILoggableEvent {
        explicit Loggable(EventObject *outer) : outer_(outer) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
            return outer_->QueryFrom(iid, out);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRefFrom(); }
        ULONG STDMETHODCALLTYPE Release() override { return outer_->ReleaseFrom("ILoggableEvent"); }
        EventObject *outer_;
    } loggable_;
};

// The event objects' setters are non-virtual members where I has no such
// method; calls come only through the vtable, so nothing else is needed.
using SystemEventObject = EventObject<ISystemEvent, AUDIT_DOUBLE_SYSTEM_EVENT>;
using GeneralEventObject = EventObject<IGeneralEvent, AUDIT_DOUBLE_GENERAL_EVENT>;
using ChangeEventObject = EventObject<IChangeEvent, AUDIT_DOUBLE_CHANGE_EVENT>;
using HistoryChangeEventObject = EventObject<IHistoryChangeEvent, AUDIT_DOUBLE_HISTORY_CHANGE_EVENT>;

template <class T, int Cls>
HRESULT Create(REFIID iid, void **out) {
    const Plan plan = Record(Cls, 0, "Create", "");
    Raise(plan);
    if (plan.action >= 0 && FAILED(plan.hr)) return plan.hr;
    T *object = new (std::nothrow) T();
    if (object == nullptr) return E_OUTOFMEMORY;
    *out = object->Take(iid);
    if (*out == nullptr) {
        delete object;
        return E_NOINTERFACE;
    }
    return plan.action >= 0 ? plan.hr : S_OK;
}

const qz45svc::ServerClass kClasses[kClassCount] = {
    {&CLSID_ClientContext, "Audit double ClientContext",
     Create<ClientContextObject, AUDIT_DOUBLE_CLIENT_CONTEXT>},
    {&CLSID_EventLogger, "Audit double EventLogger",
     Create<EventLoggerObject, AUDIT_DOUBLE_EVENT_LOGGER>},
    {&CLSID_SystemEvent, "Audit double SystemEvent",
     Create<SystemEventObject, AUDIT_DOUBLE_SYSTEM_EVENT>},
    {&CLSID_GeneralEvent, "Audit double GeneralEvent",
     Create<GeneralEventObject, AUDIT_DOUBLE_GENERAL_EVENT>},
    {&CLSID_ChangeEvent, "Audit double ChangeEvent",
     Create<ChangeEventObject, AUDIT_DOUBLE_CHANGE_EVENT>},
    {&CLSID_HistoryChangeEvent, "Audit double HistoryChangeEvent",
     Create<HistoryChangeEventObject, AUDIT_DOUBLE_HISTORY_CHANGE_EVENT>},
};

std::string EntryLine(size_t i, const Entry &e) {
    const char *name = e.cls >= 0 && e.cls < kClassCount ? kClassNames[e.cls] : "?";
    return "#" + std::to_string(i) + " " + name + "#" + std::to_string(e.id) + "." + e.op + "(" +
           e.args + ") thread " + std::to_string(e.thread) + "\n";
}

size_t CopyText(const std::string &text, char *buffer, size_t size) {
    if (buffer != nullptr && size > 0) {
        size_t n = std::min(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return text.size();
}

}  // namespace

namespace qz45svc {
const ServerClass *ServerClasses(std::size_t *count) {
    *count = kClassCount;
    return kClasses;
}
}  // namespace qz45svc

extern "C" {

long AUDIT_DOUBLE_CALL AuditDoubleRegister(void) { return DllRegisterServer(); }

void AUDIT_DOUBLE_CALL AuditDoubleReset(void) {
    Hold hold;
    g_log.clear();
    g_scripts.clear();
}

void AUDIT_DOUBLE_CALL AuditDoubleScript(int classIndex, const char *operation, int action,
                                         long hresult, unsigned long sleepMs, int once) {
    if (operation == nullptr) return;
    Hold hold;
    g_scripts.push_back({classIndex, operation, action, hresult, sleepMs, once != 0});
}

int AUDIT_DOUBLE_CALL AuditDoubleCallCount(void) {
    Hold hold;
    return static_cast<int>(g_log.size());
}

int AUDIT_DOUBLE_CALL AuditDoubleGetCall(int index, AuditDoubleCall *call, char *arguments,
                                         size_t size) {
    Hold hold;
    if (index < 0 || static_cast<size_t>(index) >= g_log.size()) return -1;
    const Entry &e = g_log[static_cast<size_t>(index)];
    if (call != nullptr) {
        call->ClassIndex = e.cls;
        call->InstanceId = e.id;
        call->ThreadId = e.thread;
        CopyText(e.op, call->Operation, sizeof call->Operation);
    }
    return static_cast<int>(CopyText(e.args, arguments, size));
}

long AUDIT_DOUBLE_CALL AuditDoubleLiveObjects(void) {
    Hold hold;
    return static_cast<long>(g_live.size());
}

long AUDIT_DOUBLE_CALL AuditDoubleOutstandingRefs(void) {
    Hold hold;
    long refs = 0;
    for (const DoubleObject *o : g_live) refs += static_cast<long>(o->Refs());
    return refs;
}

void AUDIT_DOUBLE_CALL AuditDoubleSoak(int logging, unsigned seed, unsigned faultsPerMillion,
                                       unsigned maxSleepMs) {
    Hold hold;
    g_logging = logging != 0;
    g_random = seed != 0 ? seed : 1;
    g_chaosPpm = faultsPerMillion;
    g_chaosMaxSleepMs = maxSleepMs;
    if (!g_logging && g_submitted.capacity() < 65536) {
        g_submitted.resize(65536);  // allocated and touched now, not during a soak
        g_submitted.clear();
    }
}

void AUDIT_DOUBLE_CALL AuditDoubleSoakFacts(AuditDoubleFacts *facts) {
    Hold hold;
    facts->FaultsInjected = g_faultsInjected;
    facts->AbandonedRefs = g_abandonedRefs;
    facts->Interleavings = g_interleavings;
    facts->Submitted = static_cast<long>(g_submitted.size());
}

long AUDIT_DOUBLE_CALL AuditDoubleHandledFaults(void) { return audit_double::HandledFaults(); }

long AUDIT_DOUBLE_CALL AuditDoubleSubmittedCount(const char *refId) {
    if (refId == nullptr) return 0;
    Hold hold;
    return static_cast<long>(std::count(g_submitted.begin(), g_submitted.end(), refId));
}

void AUDIT_DOUBLE_CALL AuditDoubleForgetSubmitted(void) {
    Hold hold;
    g_submitted.clear();  // keeps its capacity, so a soak's memory stays level
}

size_t AUDIT_DOUBLE_CALL AuditDoubleFormatLog(char *buffer, size_t size) {
    Hold hold;
    std::string text;
    for (size_t i = 0; i < g_log.size(); ++i) text += EntryLine(i, g_log[i]);
    return CopyText(text, buffer, size);
}

}  // extern "C"
