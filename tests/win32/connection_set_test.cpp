// The connection set against the audit service's test double: orders, stop
// rules, and the pointer states left behind by failures and faults.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "frame_fixture.h"

using namespace qz45;

namespace {

constexpr HRESULT kNotRegistered = REGDB_E_CLASSNOTREG;

// The calls the double saw, without AddRef-free noise: only the given op.
std::vector<std::string> LinesOf(const std::string &op) {
    std::vector<std::string> lines;
    for (const audit::Call &c : audit::Calls())
        if (c.op == op) lines.push_back(audit::Line(c));
    return lines;
}

const std::vector<std::string> kFullRelease = {
    "ClientContext.Release(IClientContext)",   "EventLogger.Release(IEventLogger)",
    "SystemEvent.Release(ILoggableEvent)",      "SystemEvent.Release(ISystemEvent)",
    "GeneralEvent.Release(ILoggableEvent)",     "GeneralEvent.Release(IGeneralEvent)",
    "ChangeEvent.Release(ILoggableEvent)",      "ChangeEvent.Release(IChangeEvent)",
    "HistoryChangeEvent.Release(ILoggableEvent)", "HistoryChangeEvent.Release(IHistoryChangeEvent)",
};

class ConnectionSet : public FrameTest {
protected:
    void SetUp() override {
        FrameTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    }
    void TearDown() override {
        FrameTest::TearDown();
        CoUninitialize();
    }
};

}  // namespace

TEST_F(ConnectionSet, ConnectsAndDisconnectsInOrderAndSkipsWhatIsDone) {
    EXPECT_EQ(ConnectAll(), S_OK);
    EXPECT_EQ(PointersSet(), 10);
    EXPECT_EQ(LinesOf("Create"), CreateLines({0, 1, 2, 3, 4, 5})) << audit::Log();
    EXPECT_EQ(audit::Count(audit::kAny, "QueryInterface"), 4);
    EXPECT_EQ(audit::Refs(), 10);

    AuditDoubleReset();
    EXPECT_EQ(ConnectAll(), S_OK);
    EXPECT_EQ(AuditDoubleCallCount(), 0) << "a complete set is left alone";

    EXPECT_EQ(DisconnectAll(), S_OK);
    EXPECT_EQ(audit::Lines(), kFullRelease);
    EXPECT_EQ(PointersSet(), 0);

    AuditDoubleReset();
    EXPECT_EQ(DisconnectAll(), S_OK);
    EXPECT_EQ(AuditDoubleCallCount(), 0);
}

TEST_F(ConnectionSet, CreationFailureStopsConnectAllAndReachesTheCallerUnchanged) {
    audit::Fail(AUDIT_DOUBLE_GENERAL_EVENT, "Create", kNotRegistered);
    EXPECT_EQ(ConnectAll(), kNotRegistered);
    EXPECT_EQ(LinesOf("Create"), CreateLines({0, 1, 2, 3})) << "4 and 5 are not attempted";
    const LibraryState &s = State();
    EXPECT_NE(s.SystemEventLoggable, nullptr);
    EXPECT_EQ(s.GeneralEvent, nullptr);
    EXPECT_EQ(s.ChangeEvent, nullptr);

    // The next ConnectAll creates only what is missing.
    AuditDoubleReset();
    EXPECT_EQ(ConnectAll(), S_OK);
    EXPECT_EQ(LinesOf("Create"), CreateLines({3, 4, 5}));
}

TEST_F(ConnectionSet, MissingLoggableInterfaceKeepsTheObjectAndEnsureRebuildsAll) {
    audit::Fail(AUDIT_DOUBLE_CHANGE_EVENT, "QueryInterface", E_NOINTERFACE);
    EXPECT_EQ(ConnectAll(), E_NOINTERFACE);
    const LibraryState &s = State();
    EXPECT_NE(s.ChangeEvent, nullptr) << "the object counts as present";
    EXPECT_EQ(s.ChangeEventLoggable, nullptr);
    EXPECT_EQ(s.HistoryChangeEvent, nullptr);

    EXPECT_EQ(ConnectAll(), S_OK);
    EXPECT_EQ(s.ChangeEventLoggable, nullptr) << "ConnectAll looks at primary pointers only";
    EXPECT_EQ(PointersSet(), 9);

    // One missing pointer: the whole set is released and made again.
    AuditDoubleReset();
    EXPECT_EQ(EnsureConnected(), S_OK);
    EXPECT_EQ(PointersSet(), 10);
    std::vector<std::string> released = kFullRelease;
    released.erase(released.begin() + 6);  // ChangeEvent's ILoggableEvent was never held
    EXPECT_EQ(LinesOf("Release"), released) << audit::Log();
    EXPECT_EQ(LinesOf("Create"), CreateLines({0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(audit::Refs(), 10);
}

TEST_F(ConnectionSet, EnsureConnectedOnACompleteSetMakesNoCall) {
    ASSERT_EQ(ConnectAll(), S_OK);
    AuditDoubleReset();
    EXPECT_EQ(EnsureConnected(), S_OK);
    EXPECT_EQ(AuditDoubleCallCount(), 0) << audit::Log();
}

TEST_F(ConnectionSet, ResetWhenAClassCannotBeCreatedEndsEmptyWithTheFailure) {
    ASSERT_EQ(ConnectAll(), S_OK);
    AuditDoubleReset();
    audit::Fail(AUDIT_DOUBLE_GENERAL_EVENT, "Create", kNotRegistered, audit::Always);
    EXPECT_EQ(ResetConnections(), kNotRegistered);
    EXPECT_EQ(PointersSet(), 0);
    std::vector<std::string> expected = kFullRelease;
    for (const char *line :
         {"ClientContext.Create()", "EventLogger.Create()", "SystemEvent.Create()",
          "SystemEvent.QueryInterface(ILoggableEvent)", "GeneralEvent.Create()",
          "ClientContext.Release(IClientContext)", "EventLogger.Release(IEventLogger)",
          "SystemEvent.Release(ILoggableEvent)", "SystemEvent.Release(ISystemEvent)"})
        expected.push_back(line);
    EXPECT_EQ(audit::Lines(), expected);

    EXPECT_EQ(EnsureConnected(), kNotRegistered);
    EXPECT_EQ(PointersSet(), 0);
}

TEST_F(ConnectionSet, FaultingReleaseInDisconnectAllLeavesTheRestHeld) {
    ASSERT_EQ(ConnectAll(), S_OK);
    audit::Fault(AUDIT_DOUBLE_GENERAL_EVENT, "Release");
    EXPECT_EQ(DisconnectAll(), E_UNEXPECTED);
    const LibraryState &s = State();
    EXPECT_EQ(s.ClientContext, nullptr);
    EXPECT_EQ(s.SystemEvent, nullptr);
    EXPECT_NE(s.GeneralEventLoggable, nullptr) << "the pointer whose release faulted stays";
    EXPECT_NE(s.GeneralEvent, nullptr);
    EXPECT_NE(s.ChangeEventLoggable, nullptr);
    EXPECT_NE(s.HistoryChangeEvent, nullptr);
    EXPECT_EQ(PointersSet(), 6);

    // The faulting release did not drop its reference: a second pass
    // releases everything.
    EXPECT_EQ(DisconnectAll(), S_OK);
}

TEST_F(ConnectionSet, FaultingReleaseInTheResetClearsAllAndReconnects) {
    ASSERT_EQ(ConnectAll(), S_OK);
    AuditDoubleReset();
    audit::Fault(AUDIT_DOUBLE_SYSTEM_EVENT, "Release");
    EXPECT_EQ(ResetConnections(), S_OK);
    EXPECT_EQ(PointersSet(), 10);
    EXPECT_EQ(LinesOf("Release"),
              (std::vector<std::string>{"ClientContext.Release(IClientContext)",
                                        "EventLogger.Release(IEventLogger)",
                                        "SystemEvent.Release(ILoggableEvent)"}))
        << "the pass ends at the fault";
    EXPECT_EQ(LinesOf("Create"), CreateLines({0, 1, 2, 3, 4, 5}));
    // The four event objects' abandoned references keep them alive.
    ExpectLeakedObjects(4);
}

TEST_F(ConnectionSet, RaisedExceptionsInCreationBecomeUnexpected) {
    audit::Throw(AUDIT_DOUBLE_EVENT_LOGGER, "Create");
    EXPECT_EQ(CreateServiceObject(EventLoggerIndex), E_UNEXPECTED);
    EXPECT_EQ(State().EventLogger, nullptr);

    audit::Fault(AUDIT_DOUBLE_HISTORY_CHANGE_EVENT, "QueryInterface");
    EXPECT_EQ(CreateServiceObject(HistoryChangeEventIndex), E_UNEXPECTED);
    EXPECT_NE(State().HistoryChangeEvent, nullptr);
    EXPECT_EQ(State().HistoryChangeEventLoggable, nullptr);

    // The process goes on: the set can be completed and used.
    EXPECT_EQ(EnsureConnected(), S_OK);
    EXPECT_EQ(PointersSet(), 10);
}

TEST_F(ConnectionSet, OutOfRangeIndexIsRefused) {
    EXPECT_EQ(CreateServiceObject(static_cast<ServiceObjectIndex>(6)), E_INVALIDARG);
    EXPECT_EQ(ReleaseServiceObject(static_cast<ServiceObjectIndex>(-1)), E_INVALIDARG);
    EXPECT_EQ(AuditDoubleCallCount(), 0);
}
