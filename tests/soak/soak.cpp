// Soak: drives the real DLL from four threads while the audit double injects
// random faults (failures, slow calls, raised exceptions, access violations,
// in every operation including Release), and checks every event:
//  - its status is one of 0, -92, -93, -94, -95;
//  - status 0 exactly when the double stored a successful Submit of it
//    (events carry unique RefIds), unless the breaker had opened;
//  - no property calls of two threads interleave on one event object;
//  - no deadlock (a watchdog ends the run when progress stops);
//  - no leak: after the last close the double's references are exactly
//    those its raising Release calls abandoned, and the process's private
//    memory does not grow over a second half that repeats the first.
// One process is one round; the breaker opens for good after three failures
// in a row, so longer soaks run many rounds (soak.sh).
//
// Usage: soak SEED EVENTS_PER_THREAD FAULTS_PER_MILLION
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audit_double.h"
#include "qz45alarmevent_api.h"

namespace {

constexpr int kThreads = 4;
std::atomic<long> g_progress{0};
std::atomic<long> g_ticket{0};  // the order in which sends returned

struct Outcome {
    std::string refId;
    int16_t status;
    bool expectDelivered;  // a record every rule accepts
    long ticket;
};

struct Totals {
    long sent = 0, delivered = 0, service = 0, invalid = 0, badType = 0, apartment = 0;
    long dropped = 0, wrong = 0;
};

// Every 17th event is refused on purpose: no user, or a bad type.
EventRecord MakeRecord(const std::string &refId, unsigned n, bool &valid) {
    EventRecord r;
    int16_t st = 0;
    int32_t type = n % 3 == 0 ? EVT_TYPE_CHANGE_VALUE
                              : n % 3 == 1 ? EVT_TYPE_STARTUP : EVT_TYPE_CHANGE_HISTORY_VALUE;
    const char *user = "soak";
    valid = true;
    if (n % 17 == 5) user = nullptr, valid = false;
    if (n % 17 == 11) type = 60, valid = false;
    TimeStamp history{946684800, 1};
    EventValue v{};
    v.DataType = EVT_VALUE_DOUBLE;
    v.Payload.Double.Value = n;
    PopulateChangeValueEvent(&r, nullptr, nullptr, user, "PLANT", nullptr, "soak event", nullptr,
                             &type, refId.c_str(), nullptr, nullptr, "FIC101", nullptr, nullptr,
                             nullptr, "PV", &history, &v, &v, &st);
    return r;
}

struct Half {
    unsigned seed;
    int half;
    int events;
    std::vector<Outcome> outcomes[kThreads];
};

DWORD WINAPI Worker(void *p) {
    auto *args = static_cast<std::pair<Half *, int> *>(p);
    Half &h = *args->first;
    const int t = args->second;
    // Half the threads keep a use open for their whole run; the others let
    // every event connect and disconnect by itself.
    const bool bracket = t % 2 == 0;
    HRESULT init = bracket ? InitializeQZ45AlarmEvent() : E_FAIL;
    for (int i = 0; i < h.events; ++i) {
        char refId[64];
        std::snprintf(refId, sizeof refId, "s%u-h%d-t%d-%d", h.seed, h.half, t, i);
        bool valid;
        EventRecord r = MakeRecord(refId, static_cast<unsigned>(i + t), valid);
        EventStatus st{-1, 0, 0};
        SendQZ45Event(&r, &st);
        h.outcomes[t].push_back({refId, st.status, valid, g_ticket++});
        ++g_progress;
    }
    if (SUCCEEDED(init)) UninitializeQZ45AlarmEvent();
    return 0;
}

DWORD WINAPI Watchdog(void *) {
    long last = -1;
    int still = 0;
    for (;;) {
        Sleep(1000);
        long now = g_progress.load();
        still = now == last ? still + 1 : 0;
        last = now;
        if (still >= 60) {
            std::printf("soak: no progress for 60 s at %ld events: deadlock\n", now);
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}

void RunHalf(Half &h) {
    HANDLE threads[kThreads];
    std::pair<Half *, int> args[kThreads];
    for (int t = 0; t < kThreads; ++t) {
        h.outcomes[t].reserve(static_cast<size_t>(h.events));
        args[t] = {&h, t};
        threads[t] = CreateThread(nullptr, 0, Worker, &args[t], 0, nullptr);
    }
    WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
    for (HANDLE th : threads) CloseHandle(th);
}

// Checks each event of a half against what the double stored, in the order
// the sends returned. An event reported delivered but not stored can only be
// one dropped by the open breaker, which needs three service failures before
// it; every other mismatch is wrong.
void Check(const Half &h, Totals &t, bool &breakerSeen, long &failuresSoFar) {
    std::vector<const Outcome *> all;
    for (const auto &list : h.outcomes)
        for (const Outcome &o : list) all.push_back(&o);
    std::sort(all.begin(), all.end(),
              [](const Outcome *a, const Outcome *b) { return a->ticket < b->ticket; });
    for (const Outcome *o : all) {
        ++t.sent;
        const long stored = AuditDoubleSubmittedCount(o->refId.c_str());
        bool wrong = false;
        switch (o->status) {
        case EVT_SUCCESS:
            if (stored == 1 && o->expectDelivered) {
                ++t.delivered;
            } else if (stored == 0 && failuresSoFar >= 3) {
                ++t.dropped;
                breakerSeen = true;
            } else {
                wrong = true;
            }
            break;
        case EVT_E_SERVICE: ++t.service; ++failuresSoFar; break;
        case EVT_E_INVALID: ++t.invalid; wrong = o->expectDelivered; break;
        case EVT_E_BAD_TYPE: ++t.badType; wrong = o->expectDelivered; break;
        case EVT_E_APARTMENT: ++t.apartment; break;
        default: wrong = true;
        }
        if (o->status != EVT_SUCCESS && stored != 0) wrong = true;
        if (wrong) {
            ++t.wrong;
            std::printf("soak: %s got status %d and was stored %ld times\n", o->refId.c_str(),
                        o->status, stored);
        }
    }
}

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX m{};
    m.cb = sizeof m;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&m),
                         sizeof m);
    // Private bytes; Wine reports them as the commit charge only.
    return m.PrivateUsage != 0 ? m.PrivateUsage : m.PagefileUsage;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: soak SEED EVENTS_PER_THREAD FAULTS_PER_MILLION\n");
        return 2;
    }
    const unsigned seed = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
    const int events = std::atoi(argv[2]);
    const unsigned ppm = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));

    if (FAILED(AuditDoubleRegister())) {
        std::printf("soak: cannot register the audit double\n");
        return 1;
    }
    AuditDoubleSoak(0, seed, ppm, 5);
    CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);

    // A warm-up half, then two halves alike: memory must not grow across the
    // second.
    Totals totals;
    bool breakerSeen = false;
    long failures = 0;
    Half warm{seed, 0, events / 4 + 1, {}};
    RunHalf(warm);
    Check(warm, totals, breakerSeen, failures);
    Half first{seed, 1, events, {}};
    RunHalf(first);
    Check(first, totals, breakerSeen, failures);
    AuditDoubleForgetSubmitted();
    Half second{seed, 2, events, {}};
    // Its outcome lists are allocated and touched now, outside the measure.
    for (auto &list : second.outcomes) {
        list.resize(static_cast<size_t>(events));
        list.clear();
    }
    const SIZE_T before = PrivateBytes();
    RunHalf(second);
    Check(second, totals, breakerSeen, failures);
    const SIZE_T after = PrivateBytes();
    AuditDoubleFacts facts{};
    AuditDoubleSoakFacts(&facts);

    // Open the breaker for certain (three failing Submits in a row, or drops
    // if it is open already); then a send makes no service call at all.
    AuditDoubleSoak(1, seed, 0, 0);
    AuditDoubleScript(AUDIT_DOUBLE_ANY_CLASS, "Submit", AUDIT_DOUBLE_RETURN, E_FAIL, 0, 0);
    bool valid;
    for (int i = 0; i < 3; ++i) {
        EventRecord r = MakeRecord("opening", 1, valid);
        EventStatus st{-1, 0, 0};
        SendQZ45Event(&r, &st);
    }
    AuditDoubleReset();
    EventRecord probe = MakeRecord("after-breaker", 1, valid);
    EventStatus probeStatus{-1, 0, 0};
    SendQZ45Event(&probe, &probeStatus);
    const bool quietWhenOpen = probeStatus.status == EVT_SUCCESS && AuditDoubleCallCount() == 0;

    // Every reference not abandoned by a fault is given back: the last close
    // released the set, unless a reset after a failure re-created it outside
    // any use; a final open and close releases that. References are only
    // abandoned when a Release raised (and, during a reset, those behind it),
    // so a round without such a fault must end with none outstanding.
    AuditDoubleSoak(0, seed, 0, 0);
    InitializeQZ45AlarmEvent();
    UninitializeQZ45AlarmEvent();
    const long refs = AuditDoubleOutstandingRefs();

    const long growth = static_cast<long>(after) - static_cast<long>(before);
    const bool memoryOk = growth < 512 * 1024;
    std::printf("soak round seed %u: %ld events sent, %ld delivered, %ld service failures (-94), "
                "%ld refused (-95), %ld bad type (-92), %ld apartment (-93), %ld dropped by the "
                "breaker%s; %ld faults injected, %ld references abandoned by raising Release, "
                "%ld outstanding after the last close; %ld interleavings; private memory %+ld bytes over the second "
                "half; %ld wrong\n",
                seed, totals.sent, totals.delivered, totals.service, totals.invalid,
                totals.badType, totals.apartment, totals.dropped,
                breakerSeen ? " (breaker opened)" : "", facts.FaultsInjected,
                facts.AbandonedRefs, refs, facts.Interleavings, growth, totals.wrong);
    const bool ok = totals.wrong == 0 && facts.Interleavings == 0 && quietWhenOpen &&
                    (facts.AbandonedRefs > 0 || refs == 0) && memoryOk;
    if (!quietWhenOpen) std::printf("soak: a send with the breaker open reached the service\n");
    if (facts.AbandonedRefs == 0 && refs != 0) std::printf("soak: references leaked\n");
    if (!memoryOk) std::printf("soak: private memory grew\n");
    std::printf("soak: %s\n", ok ? "ok" : "FAILED");
    std::fflush(stdout);
    // Abandoned references belong to objects that stay alive on purpose; end
    // the process without running their module's teardown.
    TerminateProcess(GetCurrentProcess(), ok ? 0 : 1);
    return ok ? 0 : 1;
}
