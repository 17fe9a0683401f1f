// Delivery through SendQZ45Event against the scripted audit service: what the
// service sees, what the caller gets, the breaker and its reports.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "delivery/delivery_report.h"
#include "delivery/send_entry.h"
#include "delivery/submission.h"
#include "frame_fixture.h"

namespace {

// The calls that carry an event, without the objects' own life (creation,
// interface queries, releases).
std::vector<std::string> ServiceCalls() {
    std::vector<std::string> lines;
    for (const audit::Call &c : audit::Calls())
        if (c.op != "Create" && c.op != "QueryInterface" && c.op != "Release")
            lines.push_back(audit::Line(c));
    return lines;
}

std::string ArgumentsOf(const std::string &op) {
    for (const audit::Call &c : audit::Calls())
        if (c.op == op) return c.args;
    return "(not called)";
}

bool HasServiceCall(const std::string &op) { return audit::Count(audit::kAny, op) > 0; }
int ObjectCreations() { return audit::Count(audit::kAny, "Create"); }

std::string DateText(double d) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", d);
    return text;
}

// Between an event object's Reset and its Submit, no other thread calls that
// object or the shared ClientContext.
bool NoInterleaving() {
    DWORD owner = 0;  // the thread inside a Reset..Submit span, 0 when none
    for (const audit::Call &c : audit::Calls()) {
        if (c.op == "Reset") {
            if (owner != 0) return false;
            owner = c.thread;
        } else if (c.op == "Submit") {
            if (owner != c.thread) return false;
            owner = 0;
        } else if (owner != 0 && c.thread != owner) {
            return false;
        }
    }
    return owner == 0;
}

std::vector<std::string> g_reports;
void CaptureReport(std::string_view text) { g_reports.emplace_back(text); }

// A record that every rule accepts, of the given type.
EventRecord Record(int32_t type) {
    EventRecord r;
    int16_t st = 0;
    TimeStamp when{946728000, 0};  // 2000-01-01 12:00:00 UTC
    TimeStamp history{946684800, 500000};
    int32_t audit = 1, severity = 4;
    EventValue oldV{}, newV{};
    oldV.DataType = EVT_VALUE_INT16;
    oldV.Payload.Int16.Value = -1;
    newV.DataType = EVT_VALUE_DOUBLE;
    newV.Payload.Double.Value = 2.5;
    PopulateChangeValueEvent(&r, "NODE/QZ.45/NODE", "C:\\bin\\ops.exe", "alice", "PLANT", &when,
                             "tank high", &audit, &type, "", nullptr, &severity, "FIC101",
                             nullptr, "North", "U2", "PV", &history, &oldV, &newV, &st);
    return r;
}

EventStatus Send(EventRecord &r) {
    EventStatus st{123, 0, 0x0BADF00D};
    SendQZ45Event(&r, &st);
    return st;
}

// Every test starts with a closed library, a closed breaker, an empty log.
class Delivery : public FrameTest {
protected:
    void SetUp() override {
        FrameTest::SetUp();
        qz45::State().FailureCount = 0;
        g_reports.clear();
        qz45::SetDeliveryReportSink(&CaptureReport);
    }
    void TearDown() override {
        qz45::SetDeliveryReportSink(nullptr);
        while (qz45::State().InitCount > 0) UninitializeQZ45AlarmEvent();
        FrameTest::TearDown();
    }
    // An open use, with the creations it made left out of the log.
    void OpenUse() {
        ASSERT_EQ(InitializeQZ45AlarmEvent(), S_OK);
        AuditDoubleReset();
    }
};

}  // namespace

TEST_F(Delivery, GeneralEventCallSequenceAndValues) {
    OpenUse();
    EventRecord r = Record(EVT_TYPE_CREATE_RECORD);
    EventStatus st = Send(r);
    ASSERT_EQ(st.status, EVT_SUCCESS) << audit::Log();
    EXPECT_EQ(st.hresult, S_OK);
    const std::string id = std::string("\"") + qz45::kApplicationId + "\"";
    EXPECT_EQ(ServiceCalls(), (std::vector<std::string>{
        "GeneralEvent.Reset()",
        "ClientContext.SetAppName(\"Oskel Zentrova.45\")",
        "ClientContext.SetIdentity(\"alice\", \"PLANT\", " + id + ")",
        "GeneralEvent.SetContext(ClientContext)",
        "GeneralEvent.SetPath(\"NODE/QZ.45/NODE\")",
        "GeneralEvent.SetEventTime(36526.5)",
        "GeneralEvent.SetMessage(\"tank high\")",
        "GeneralEvent.SetAuditTrail(-1)",
        "GeneralEvent.SetCategory(201)",
        "GeneralEvent.SetRefId(\"\")",
        "GeneralEvent.SetAppKey(\"ops.exe\")",
        "GeneralEvent.SetSeverity(4)",
        "GeneralEvent.SetDescriptor(\"FIC101\")",
        "GeneralEvent.SetDescriptorType(\"RECORD\")",
        "GeneralEvent.SetArea(\"North\")",
        "GeneralEvent.SetUnit(\"U2\")",
        "GeneralEvent.SetProperty(\"PV\")",
        "GeneralEvent.SetValue(VT_I2:-1)",
        "EventLogger.Submit(GeneralEvent)",
    })) << audit::Log();
    EXPECT_EQ(ObjectCreations(), 0);  // an open use serves every event
}

TEST_F(Delivery, ChangeAndHistoryChangeTrailingCalls) {
    OpenUse();
    EventRecord change = Record(EVT_TYPE_CHANGE_VALUE);
    ASSERT_EQ(Send(change).status, EVT_SUCCESS) << audit::Log();
    std::vector<std::string> calls = ServiceCalls();
    ASSERT_EQ(calls.size(), 20u) << audit::Log();
    EXPECT_EQ(calls[0], "ChangeEvent.Reset()");
    EXPECT_EQ(calls[8], "ChangeEvent.SetCategory(301)");
    EXPECT_EQ(calls[17], "ChangeEvent.SetOldValue(VT_I2:-1)");
    EXPECT_EQ(calls[18], "ChangeEvent.SetNewValue(VT_R8:2.5)");
    EXPECT_EQ(calls[19], "EventLogger.Submit(ChangeEvent)");

    AuditDoubleReset();
    EventRecord history = Record(EVT_TYPE_CHANGE_HISTORY_VALUE);
    ASSERT_EQ(Send(history).status, EVT_SUCCESS) << audit::Log();
    calls = ServiceCalls();
    ASSERT_EQ(calls.size(), 21u) << audit::Log();
    EXPECT_EQ(calls[0], "HistoryChangeEvent.Reset()");
    EXPECT_EQ(calls[8], "HistoryChangeEvent.SetCategory(401)");
    EXPECT_EQ(calls[17], "HistoryChangeEvent.SetOldValue(VT_I2:-1)");
    EXPECT_EQ(calls[18], "HistoryChangeEvent.SetNewValue(VT_R8:2.5)");
    // 2000-01-01 00:00:00.5 UTC
    EXPECT_EQ(calls[19], "HistoryChangeEvent.SetHistory(" + DateText(36526.0 + 0.5 / 86400) + ")");
    EXPECT_EQ(calls[20], "EventLogger.Submit(HistoryChangeEvent)");
}

TEST_F(Delivery, AuditTrailFlagAndEmptyTexts) {
    OpenUse();
    for (int32_t audit : {1, 0, 2, -1}) {
        AuditDoubleReset();
        EventRecord r = Record(EVT_TYPE_STARTUP);
        r.AuditTrail = audit;
        std::memset(r.Area, 0, sizeof r.Area);
        ASSERT_EQ(Send(r).status, EVT_SUCCESS);
        EXPECT_EQ(ArgumentsOf("SetAuditTrail"), audit == 1 ? "-1" : "0") << audit;
        EXPECT_EQ(ArgumentsOf("SetArea"), "\"\"");  // empty, never null
        EXPECT_EQ(ArgumentsOf("SetCategory"), "206");
        EXPECT_EQ(ArgumentsOf("SetDescriptor"), "\"FIC101\"");
    }
}

TEST_F(Delivery, OutcomeOfEachFailingStep) {
    OpenUse();
    struct Case {
        const char *op;
        int action;
        long hr;
        int16_t status;
        long hresult;
        bool submitted;
    } cases[] = {
        {"Reset", AUDIT_DOUBLE_RETURN, E_ACCESSDENIED, EVT_E_SERVICE, E_ACCESSDENIED, false},
        {"SetIdentity", AUDIT_DOUBLE_RETURN, E_INVALIDARG, EVT_E_SERVICE, E_INVALIDARG, false},
        {"SetArea", AUDIT_DOUBLE_RETURN, E_FAIL, EVT_SUCCESS, S_OK, true},
        {"SetContext", AUDIT_DOUBLE_RETURN, E_FAIL, EVT_SUCCESS, S_OK, true},
        {"Submit", AUDIT_DOUBLE_RETURN, S_FALSE, EVT_SUCCESS, S_FALSE, true},
        {"Submit", AUDIT_DOUBLE_RETURN, E_OUTOFMEMORY, EVT_E_SERVICE, E_OUTOFMEMORY, true},
        {"SetArea", AUDIT_DOUBLE_FAULT, 0, EVT_E_SERVICE, E_UNEXPECTED, false},
        {"SetUnit", AUDIT_DOUBLE_THROW, 0, EVT_E_SERVICE, E_UNEXPECTED, false},
        {"Submit", AUDIT_DOUBLE_FAULT, 0, EVT_E_SERVICE, E_UNEXPECTED, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.op) + " action " + std::to_string(c.action));
        qz45::State().FailureCount = 0;
        if (qz45::State().InitCount == 0) OpenUse();
        AuditDoubleReset();
        AuditDoubleScript(AUDIT_DOUBLE_ANY_CLASS, c.op, c.action, c.hr, 0, 1);
        EventRecord r = Record(EVT_TYPE_STARTUP);
        EventStatus st = Send(r);
        EXPECT_EQ(st.status, c.status) << audit::Log();
        EXPECT_EQ(st.hresult, static_cast<int32_t>(c.hresult));
        EXPECT_EQ(HasServiceCall("Submit"), c.submitted) << audit::Log();
        if (std::strcmp(c.op, "Reset") == 0) {
            EXPECT_EQ(ServiceCalls().front(), "GeneralEvent.Reset()");
            EXPECT_FALSE(HasServiceCall("SetAppName"));
        }
        if (std::strcmp(c.op, "SetIdentity") == 0) {
            EXPECT_TRUE(HasServiceCall("SetAppName"));
            EXPECT_FALSE(HasServiceCall("SetPath"));
        }
        if (c.status == EVT_E_SERVICE) {
            // The failure rebuilt the connection set and was reported.
            EXPECT_EQ(ObjectCreations(), 6) << audit::Log();
            ASSERT_EQ(g_reports.size(), 1u);
            g_reports.clear();
        }
    }
}

TEST_F(Delivery, WithoutAnOpenUseEachEventConnectsAndDisconnects) {
    for (int i = 0; i < 2; ++i) {
        AuditDoubleReset();
        EventRecord r = Record(EVT_TYPE_STARTUP);
        ASSERT_EQ(Send(r).status, EVT_SUCCESS) << audit::Log();
        EXPECT_EQ(ObjectCreations(), 6);
        EXPECT_EQ(AuditDoubleLiveObjects(), 0);
        EXPECT_EQ(qz45::State().InitCount, 0u);
        EXPECT_EQ(qz45::State().Connected, 0);
    }
    // A failed first open: -94 with the creation failure, nothing left held.
    AuditDoubleReset();
    AuditDoubleScript(AUDIT_DOUBLE_EVENT_LOGGER, "Create", AUDIT_DOUBLE_RETURN,
                      REGDB_E_CLASSNOTREG, 0, 0);
    EventRecord r = Record(EVT_TYPE_STARTUP);
    EventStatus st = Send(r);
    EXPECT_EQ(st.status, EVT_E_SERVICE);
    EXPECT_EQ(st.hresult, REGDB_E_CLASSNOTREG);
    AuditDoubleReset();
    // The reset after the failure left no object either.
    EXPECT_EQ(AuditDoubleLiveObjects(), 0);
}

TEST_F(Delivery, ApartmentOfTheCallingThreadIsKept) {
    OpenUse();
    // A thread in a single-threaded apartment stays in it.
    OnThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        EventRecord r = Record(EVT_TYPE_STARTUP);
        EXPECT_EQ(Send(r).status, EVT_SUCCESS);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
    });
    // A thread already in the multithreaded apartment is balanced: after the
    // send it still is, exactly once.
    OnThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EventRecord r = Record(EVT_TYPE_STARTUP);
        EXPECT_EQ(Send(r).status, EVT_SUCCESS);
        CoUninitialize();
        // Left entirely: a fresh join is S_OK again, not S_FALSE.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
    });
}

TEST_F(Delivery, RefusedRecordsNeverReachTheService) {
    EventRecord r = Record(EVT_TYPE_CREATE_RECORD);
    std::memset(r.Descriptor, 0, sizeof r.Descriptor);
    EventStatus st = Send(r);
    EXPECT_EQ(st.status, EVT_E_INVALID);
    EXPECT_EQ(st.hresult, 0x0BADF00D);
    r = Record(54);
    st = Send(r);
    EXPECT_EQ(st.status, EVT_E_BAD_TYPE);
    EXPECT_EQ(st.hresult, 0x0BADF00D);
    EXPECT_EQ(AuditDoubleCallCount(), 0);
    EXPECT_TRUE(g_reports.empty());
    // Null pointers: no crash, a clear status where there is one to write.
    SendQZ45Event(&r, nullptr);
    st = EventStatus{1, 0, 2};
    SendQZ45Event(nullptr, &st);
    EXPECT_EQ(st.status, EVT_E_INVALID);
}

TEST_F(Delivery, BreakerOpensAfterThreeFailuresInARow) {
    OpenUse();
    AuditDoubleScript(AUDIT_DOUBLE_ANY_CLASS, "Submit", AUDIT_DOUBLE_RETURN, E_FAIL, 0, 0);
    for (int i = 0; i < 3; ++i) {
        EventRecord r = Record(EVT_TYPE_STARTUP);
        EXPECT_EQ(Send(r).status, EVT_E_SERVICE);
    }
    ASSERT_EQ(g_reports.size(), 3u);
    const std::string sentence = qz45::kBreakerSentence;
    EXPECT_EQ(g_reports[0].find(sentence), std::string::npos);
    EXPECT_EQ(g_reports[1].find(sentence), std::string::npos);
    EXPECT_NE(g_reports[2].find("message=*tank high*." + sentence), std::string::npos)
        << g_reports[2];
    EXPECT_EQ(g_reports[2].substr(g_reports[2].size() - sentence.size()), sentence);

    // Open: the fourth send is dropped at once, record and hresult untouched.
    AuditDoubleReset();
    EventRecord r = Record(EVT_TYPE_STARTUP);
    std::memset(r.Path, 0, sizeof r.Path);
    EventRecord before = r;
    EventStatus st = Send(r);
    EXPECT_EQ(st.status, EVT_SUCCESS);
    EXPECT_EQ(st.hresult, 0x0BADF00D);
    EXPECT_EQ(std::memcmp(&before, &r, sizeof r), 0);
    EXPECT_EQ(AuditDoubleCallCount(), 0);
    EXPECT_EQ(g_reports.size(), 3u);
}

TEST_F(Delivery, BreakerCountsOnlyConsecutiveServiceFailures) {
    OpenUse();
    auto sendWith = [](long submitResult, bool valid) {
        AuditDoubleScript(AUDIT_DOUBLE_ANY_CLASS, "Submit", AUDIT_DOUBLE_RETURN, submitResult, 0, 1);
        EventRecord r = Record(EVT_TYPE_STARTUP);
        if (!valid) std::memset(r.User, 0, sizeof r.User);
        EventStatus st = Send(r);
        AuditDoubleReset();
        return st.status;
    };
    // -94, -94, success, -94, -94: the success broke the run.
    EXPECT_EQ(sendWith(E_FAIL, true), EVT_E_SERVICE);
    EXPECT_EQ(sendWith(E_FAIL, true), EVT_E_SERVICE);
    EXPECT_EQ(sendWith(S_OK, true), EVT_SUCCESS);
    EXPECT_EQ(sendWith(E_FAIL, true), EVT_E_SERVICE);
    EXPECT_EQ(sendWith(E_FAIL, true), EVT_E_SERVICE);
    EXPECT_EQ(qz45::State().FailureCount, 2u);
    for (const auto &report : g_reports)
        EXPECT_EQ(report.find(qz45::kBreakerSentence), std::string::npos);
    // A refused record neither counts nor breaks the run: the next failure
    // is the third in a row.
    EXPECT_EQ(sendWith(S_OK, false), EVT_E_INVALID);
    EXPECT_EQ(sendWith(E_FAIL, true), EVT_E_SERVICE);
    ASSERT_EQ(g_reports.size(), 5u);
    EXPECT_NE(g_reports[4].find(qz45::kBreakerSentence), std::string::npos);
}

TEST_F(Delivery, FourThreadsShareTheEventObjectsWithoutInterleaving) {
    OpenUse();
    static constexpr int kThreads = 4, kEvents = 200;
    std::atomic<int> failures{0};
    struct Worker {
        std::atomic<int> *failures;
        int type;
        static DWORD WINAPI Run(void *p) {
            auto *w = static_cast<Worker *>(p);
            for (int i = 0; i < kEvents; ++i) {
                EventRecord r = Record(w->type);
                if (Send(r).status != EVT_SUCCESS) ++*w->failures;
            }
            return 0;
        }
    } workers[kThreads];
    HANDLE threads[kThreads];
    for (int t = 0; t < kThreads; ++t) {
        workers[t] = {&failures, t % 2 ? EVT_TYPE_STARTUP : EVT_TYPE_CHANGE_VALUE};
        threads[t] = CreateThread(nullptr, 0, &Worker::Run, &workers[t], 0, nullptr);
    }
    // Bounded: a deadlock fails the test instead of hanging it.
    ASSERT_EQ(WaitForMultipleObjects(kThreads, threads, TRUE, 60000), WAIT_OBJECT_0)
        << "senders did not finish within 60 s";
    for (HANDLE th : threads) CloseHandle(th);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(audit::Count(audit::kAny, "Submit"), kThreads * kEvents);
    // Between an object's Reset and the Submit of it, every call on that
    // object and on ClientContext comes from the thread that reset it.
    EXPECT_TRUE(NoInterleaving()) << "property calls interleaved";
}
