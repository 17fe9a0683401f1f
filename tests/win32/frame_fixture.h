// Tests of the library frame through the static library: the ServiceLock
// exists (as after process attach), and every test leaves the connection set
// empty and no use open.
#pragma once

#include <array>

#include "audit_double_fixture.h"
#include "frame/connection_set.h"
#include "frame/library_state.h"
#include "qz45alarmevent_api.h"

// The ten pointers of the connection set, in release order.
inline std::array<void *, 10> Pointers() {
    const qz45::LibraryState &s = qz45::State();
    return {s.ClientContext,       s.EventLogger,         s.SystemEventLoggable,
            s.SystemEvent,         s.GeneralEventLoggable, s.GeneralEvent,
            s.ChangeEventLoggable, s.ChangeEvent,          s.HistoryChangeEventLoggable,
            s.HistoryChangeEvent};
}

inline int PointersSet() {
    int n = 0;
    for (void *p : Pointers()) n += p != nullptr;
    return n;
}

class FrameTest : public AuditDoubleTest {
protected:
    void SetUp() override {
        AuditDoubleTest::SetUp();
        ASSERT_TRUE(qz45::AttachProcess());
    }
    void TearDown() override {
        AuditDoubleReset();
        qz45::LibraryState &s = qz45::State();
        while (s.InitCount > 0) UninitializeQZ45AlarmEvent();
        qz45::AcquireServiceLock();
        EXPECT_EQ(qz45::DisconnectAll(), S_OK);
        qz45::ReleaseServiceLock();
        EXPECT_EQ(PointersSet(), 0);
        AuditDoubleTest::TearDown();
    }
};

// The first line of each object's creation order: "<Class>.Create()".
inline std::vector<std::string> CreateLines(std::initializer_list<int> classes) {
    std::vector<std::string> lines;
    for (int c : classes) lines.push_back(std::string(audit::ClassName(c)) + ".Create()");
    return lines;
}
