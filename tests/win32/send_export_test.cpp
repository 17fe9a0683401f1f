// SendQZ45Event through the DLL itself, against the registered test double:
// delivery, and after three service failures the breaker, with one event-log
// entry per failure (ctest reads the entries from Wine's event-log channel).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "audit_double_fixture.h"
#include "qz45alarmevent_api.h"

namespace {

EventRecord StartupRecord(const char *message) {
    EventRecord r;
    int16_t st = -1;
    int32_t type = EVT_TYPE_STARTUP;
    PopulateGeneralSystemEvent(&r, nullptr, nullptr, "alice", "PLANT", nullptr, message, nullptr,
                               &type, nullptr, nullptr, nullptr, &st);
    EXPECT_EQ(st, EVT_SUCCESS);
    return r;
}

}  // namespace

using SendExport = AuditDoubleTest;

// One process, in order: the breaker opens for the life of the process.
TEST_F(SendExport, DeliversThenOpensTheBreakerAfterThreeFailures) {
    EventRecord r = StartupRecord("first");
    EventStatus st{-1, 0, 0};
    SendQZ45Event(&r, &st);
    ASSERT_EQ(st.status, EVT_SUCCESS) << audit::Log();
    EXPECT_STREQ(r.AppName, "Oskel Zentrova.45");
    EXPECT_EQ(audit::Count(audit::kAny, "Submit"), 1);
    EXPECT_EQ(audit::Live(), 0);  // no open use: connected and released around it

    audit::Fail(audit::kAny, "Submit", E_ACCESSDENIED, audit::Always);
    for (const char *message : {"failure one", "failure two", "failure three"}) {
        EventRecord f = StartupRecord(message);
        SendQZ45Event(&f, &st);
        EXPECT_EQ(st.status, EVT_E_SERVICE);
        EXPECT_EQ(st.hresult, E_ACCESSDENIED);
    }
    // The reset after each failure re-created the objects outside any use;
    // they stay until the next close of a last use.
    EXPECT_EQ(InitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(audit::Live(), 0);

    AuditDoubleReset();
    EventRecord dropped = StartupRecord("dropped");
    EventRecord before = dropped;
    st = EventStatus{-1, 0, 77};
    SendQZ45Event(&dropped, &st);
    EXPECT_EQ(st.status, EVT_SUCCESS);
    EXPECT_EQ(st.hresult, 77);
    EXPECT_EQ(std::memcmp(&before, &dropped, sizeof before), 0);
    EXPECT_EQ(AuditDoubleCallCount(), 0);
}
