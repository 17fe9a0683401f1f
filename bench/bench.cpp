// Cost of one event: SendQZ45Event against the floor of the work it cannot
// avoid, with a count-only in-process audit service.
//
//   A0  the floor: the same 13 texts to BSTR, the value VARIANT, the dates and
//       the service calls for one general event, written by hand, no lock
//   A   A0 with one take and give-back of a mutex
//   B   SendQZ45Event with the library initialised
//   C   SendQZ45Event without initialisation
//   B2  B from two threads at once (wall time per event)
//
// The arms run interleaved round by round; each ratio is the median of the
// per-round ratios. Probes (a mutex pair, a CoCreateInstance + Release) show
// the speed mode of the machine. Pin it to one core for steady figures:
//   taskset -c 0 cmake/wine-run.sh build/win32/bin/qz45_bench.exe [ROUNDS EVENTS]
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "qz45alarmevent_api.h"
#include "qz45audit_service.h"
#include "reference_service.h"

namespace {

double Now() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// The event every arm delivers: complete already, so that completion has
// nothing to look up.
EventRecord MakeRecord() {
    EventRecord r;
    int16_t st = 0;
    int32_t type = EVT_TYPE_CREATE_RECORD, severity = 2;
    TimeStamp when{946728000, 0};
    EventValue v{};
    v.DataType = EVT_VALUE_DOUBLE;
    v.Payload.Double.Value = 42.5;
    PopulateChangeValueEvent(&r, "NODE/QZ.45/NODE", "bench", "operator", "PLANT", &when,
                             "record created", nullptr, &type, "bench-1", "bench", &severity,
                             "FIC101", "RECORD", "North", "U2", "PV", nullptr, &v, nullptr, &st);
    return r;
}

BSTR ToBstr(const char *text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(std::strlen(text)), nullptr, 0);
    BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(n));
    MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(std::strlen(text)), s, n);
    return s;
}

// The floor: objects created once, then per event the conversions, the
// calls and the frees, nothing else.
struct Floor {
    IClientContext *context = nullptr;
    IEventLogger *logger = nullptr;
    IGeneralEvent *general = nullptr;
    ILoggableEvent *loggable = nullptr;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);

    bool Connect() {
        return SUCCEEDED(CoCreateInstance(CLSID_ClientContext, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IClientContext, reinterpret_cast<void **>(&context))) &&
               SUCCEEDED(CoCreateInstance(CLSID_EventLogger, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IEventLogger, reinterpret_cast<void **>(&logger))) &&
               SUCCEEDED(CoCreateInstance(CLSID_GeneralEvent, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IGeneralEvent, reinterpret_cast<void **>(&general))) &&
               SUCCEEDED(general->QueryInterface(IID_ILoggableEvent,
                                                 reinterpret_cast<void **>(&loggable)));
    }

    void Event(const EventRecord &r, bool lock) {
        if (lock) WaitForSingleObject(mutex, INFINITE);
        BSTR s[13] = {ToBstr(r.Path),       ToBstr(r.AppName),  ToBstr(r.User),
                      ToBstr(r.Domain),     ToBstr("{5B2E7C1A-93D4-4F6E-8A71-2C9D0E4B6F38}"),
                      ToBstr(r.Message),    ToBstr(r.RefId),    ToBstr(r.AppKey),
                      ToBstr(r.Descriptor), ToBstr(r.DescriptorType), ToBstr(r.Area),
                      ToBstr(r.Unit),       ToBstr(r.Property)};
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_R8;
        value.dblVal = r.OldValue.Payload.Double.Value;
        const DATE when = 25569.0 + r.EventTime.secs / 86400.0;
        general->Reset();
        context->SetAppName(s[1]);
        context->SetIdentity(s[2], s[3], s[4]);
        general->SetContext(context);
        general->SetPath(s[0]);
        general->SetEventTime(when);
        general->SetMessage(s[5]);
        general->SetAuditTrail(VARIANT_TRUE);
        general->SetCategory(201);
        general->SetRefId(s[6]);
        general->SetAppKey(s[7]);
        general->SetSeverity(r.Severity);
        general->SetDescriptor(s[8]);
        general->SetDescriptorType(s[9]);
        general->SetArea(s[10]);
        general->SetUnit(s[11]);
        general->SetProperty(s[12]);
        general->SetValue(value);
        logger->Submit(loggable);
        VariantClear(&value);
        for (BSTR b : s) SysFreeString(b);
        if (lock) ReleaseMutex(mutex);
    }
};

double PerEvent(int events, void (*fn)(void *), void *context) {
    const double start = Now();
    for (int i = 0; i < events; ++i) fn(context);
    return (Now() - start) / events * 1e6;  // microseconds
}

struct Shared {
    EventRecord record;
    Floor *floor;
    int events;
    long failures;
};

void SendOne(void *p) {
    Shared &s = *static_cast<Shared *>(p);
    EventRecord r = s.record;
    EventStatus st{-1, 0, 0};
    SendQZ45Event(&r, &st);
    if (st.status != EVT_SUCCESS) InterlockedIncrement(&s.failures);
}

DWORD WINAPI SendMany(void *p) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Shared &s = *static_cast<Shared *>(p);
    for (int i = 0; i < s.events; ++i) SendOne(p);
    CoUninitialize();
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
    const int events = argc > 2 ? std::atoi(argv[2]) : 2000;

    HMODULE service = LoadLibraryA("qz45_count_service.dll");
    auto reg = service ? reinterpret_cast<HRESULT(STDAPICALLTYPE *)()>(
                             reinterpret_cast<void *>(GetProcAddress(service, "DllRegisterServer")))
                       : nullptr;
    if (reg == nullptr || FAILED(reg())) {
        std::printf("bench: cannot register qz45_count_service.dll\n");
        return 1;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Floor floor;
    if (!floor.Connect()) {
        std::printf("bench: cannot create the service objects\n");
        return 1;
    }
    Shared shared{MakeRecord(), &floor, events, 0};

    std::vector<double> a0, a, b, c, b2, mutexProbe, createProbe;
    std::vector<double> ratioBA, ratioBA0, ratioC, ratioB2;
    const long submitsBefore = AuditServiceSubmits();
    long sent = 0;
    for (int round = 0; round < rounds; ++round) {
        const double tA0 = PerEvent(events, [](void *p) {
            auto &s = *static_cast<Shared *>(p);
            s.floor->Event(s.record, false);
        }, &shared);
        const double tA = PerEvent(events, [](void *p) {
            auto &s = *static_cast<Shared *>(p);
            s.floor->Event(s.record, true);
        }, &shared);
        InitializeQZ45AlarmEvent();
        const double tB = PerEvent(events, SendOne, &shared);
        UninitializeQZ45AlarmEvent();
        const int fewer = events / 10 > 0 ? events / 10 : 1;  // C is slow under Wine
        const double tC = PerEvent(fewer, SendOne, &shared);

        InitializeQZ45AlarmEvent();
        HANDLE threads[2];
        const double start = Now();
        for (HANDLE &t : threads) t = CreateThread(nullptr, 0, SendMany, &shared, 0, nullptr);
        WaitForMultipleObjects(2, threads, TRUE, INFINITE);
        const double tB2 = (Now() - start) / (2.0 * events) * 1e6;
        for (HANDLE t : threads) CloseHandle(t);
        UninitializeQZ45AlarmEvent();
        sent += 2L * events + events + fewer + 2L * events;  // A0 and A submit too

        const double tMutex = PerEvent(events, [](void *p) {
            WaitForSingleObject(static_cast<Floor *>(p)->mutex, INFINITE);
            ReleaseMutex(static_cast<Floor *>(p)->mutex);
        }, &floor);
        const double tCreate = PerEvent(fewer, [](void *) {
            IUnknown *u = nullptr;
            if (SUCCEEDED(CoCreateInstance(CLSID_GeneralEvent, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IUnknown, reinterpret_cast<void **>(&u))))
                u->Release();
        }, nullptr);

        a0.push_back(tA0), a.push_back(tA), b.push_back(tB), c.push_back(tC), b2.push_back(tB2);
        mutexProbe.push_back(tMutex), createProbe.push_back(tCreate);
        ratioBA.push_back(tB / tA), ratioBA0.push_back(tB / tA0);
        ratioC.push_back((tC - tB) / (6 * tCreate)), ratioB2.push_back(tB2 / tB);
    }
    const long delivered = AuditServiceSubmits() - submitsBefore;

    std::printf("qz45 bench: %d rounds of %d events (C and the creation probe: %d)\n", rounds,
                events, events / 10 > 0 ? events / 10 : 1);
    std::printf("%-44s %12s\n", "arm", "us/event");
    std::printf("%-44s %12.2f\n", "A0  floor: conversions + calls, no lock", Median(a0));
    std::printf("%-44s %12.2f\n", "A   floor + one mutex pair", Median(a));
    std::printf("%-44s %12.2f\n", "B   SendQZ45Event, initialised", Median(b));
    std::printf("%-44s %12.2f\n", "C   SendQZ45Event, not initialised", Median(c));
    std::printf("%-44s %12.2f\n", "B2  B on two threads (wall time)", Median(b2));
    std::printf("%-44s %12.2f\n", "probe: mutex take + give-back", Median(mutexProbe));
    std::printf("%-44s %12.2f\n", "probe: CoCreateInstance + Release", Median(createProbe));
    const double rBA = Median(ratioBA), rBA0 = Median(ratioBA0), rC = Median(ratioC),
                 rB2 = Median(ratioB2);
    std::printf("B/A %.3f (target <= 1.10)   B/A0 %.3f   (C-B)/(6 x probe) %.3f (target <= 1.25)"
                "   B2/B %.3f (target <= 1.5)\n", rBA, rBA0, rC, rB2);
    const bool countsOk = delivered == sent && shared.failures == 0;
    std::printf("events sent %ld, received by the service %ld, failed %ld\n", sent, delivered,
                shared.failures);
    const bool met = rBA <= 1.10 && rC <= 1.25 && rB2 <= 1.5;
    std::printf("verdict: %s\n", !countsOk ? "EVENTS LOST" : met ? "all targets met"
                                                                 : "targets missed");
    floor.loggable->Release();
    floor.general->Release();
    floor.logger->Release();
    floor.context->Release();
    CoUninitialize();
    return countsOk ? 0 : 1;
}
