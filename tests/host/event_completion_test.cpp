#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "delivery/event_completion.h"
#include "event/event_rules.h"

using qz45::CompleteEvent;
using qz45::Submitter;

namespace {

class FakePlatform : public qz45::CompletionPlatform {
public:
    std::string computer = "NODE7";
    bool hasComputer = true;
    std::string exe = "C:\\Plant\\bin\\dbserver.exe";
    int32_t now = 1700000000;
    mutable int nameReads = 0;

    int64_t ComputerName(char *buf, uint32_t capacity) const override {
        ++nameReads;
        if (!hasComputer) return -1;
        if (computer.size() + 1 > capacity) return static_cast<int64_t>(computer.size() + 1);
        std::memcpy(buf, computer.c_str(), computer.size() + 1);
        return static_cast<int64_t>(computer.size());
    }
    uint32_t ExecutablePath(char *buf, uint32_t capacity) const override {
        std::size_t n = exe.size() < capacity - 1 ? exe.size() : capacity - 1;
        std::memcpy(buf, exe.data(), n);
        buf[n] = '\0';
        return static_cast<uint32_t>(n);
    }
    int32_t Now() const override { return now; }
};

struct Completion : ::testing::Test {
    EventRecord r{};
    EventStatus st{};
    FakePlatform platform;

    void SetUp() override {
        std::memset(&r, 0, sizeof r);
        st.status = 99;
        st.hresult = 0x1234;
    }
    void Named(int32_t type) {
        std::strcpy(r.User, "alice");
        std::strcpy(r.Domain, "PLANT");
        r.Type = type;
    }
    Submitter Run() { return CompleteEvent(r, st, platform); }
};

}  // namespace

TEST_F(Completion, AllZeroRecordRefusedAfterGeneralDefaults) {
    EXPECT_EQ(Run(), Submitter::None);
    EXPECT_EQ(st.status, EVT_E_INVALID);
    EXPECT_EQ(st.hresult, 0x1234);  // never touched here
    EXPECT_STREQ(r.Path, "NODE7/QZ.45/NODE7");
    EXPECT_STREQ(r.AppKey, "dbserver.exe");
    EXPECT_STREQ(r.AppName, "Oskel Zentrova.45");
    EXPECT_EQ(r.EventTime.secs, 0);  // User and Domain are tested first
}

TEST_F(Completion, AppKeyFromCallersAppName) {
    Named(4);
    std::strcpy(r.AppName, "D:\\Tools\\ops.exe");
    Run();
    EXPECT_STREQ(r.AppKey, "ops.exe");
    EXPECT_STREQ(r.AppName, "Oskel Zentrova.45");

    SetUp();
    Named(4);
    std::strcpy(r.AppName, "monitor");
    Run();
    EXPECT_STREQ(r.AppKey, "monitor");

    SetUp();
    Named(4);
    std::strcpy(r.AppName, "ignored");
    std::strcpy(r.AppKey, "mine");
    std::strcpy(r.Path, "own/path");
    Run();
    EXPECT_STREQ(r.AppKey, "mine");
    EXPECT_STREQ(r.Path, "own/path");

    SetUp();
    Named(4);
    platform.exe = "noslash.exe";
    Run();
    EXPECT_STREQ(r.AppKey, "noslash.exe");
}

TEST_F(Completion, ComputerNameTooLongForPathLeavesRecordUntouched) {
    platform.computer = std::string(121, 'N');
    Named(4);
    EventRecord before = r;
    EXPECT_EQ(Run(), Submitter::None);
    EXPECT_EQ(st.status, EVT_E_INVALID);
    EXPECT_EQ(std::memcmp(&before, &r, sizeof r), 0);

    SetUp();
    platform.computer = std::string(120, 'N');
    Named(4);
    EXPECT_EQ(Run(), Submitter::General);
    EXPECT_EQ(std::strlen(r.Path), 120u * 2 + 7);
}

TEST_F(Completion, NoComputerNameIsRefused) {
    platform.hasComputer = false;
    Named(4);
    EXPECT_EQ(Run(), Submitter::None);
    EXPECT_EQ(st.status, EVT_E_INVALID);
    // With a Path of its own the record still needs the name for Descriptor.
    SetUp();
    Named(4);
    std::strcpy(r.Path, "p");
    EXPECT_EQ(Run(), Submitter::None);
    EXPECT_STREQ(r.DescriptorType, "");
}

TEST_F(Completion, EventTimeOnlyWhenBothMembersZero) {
    Named(4);
    r.EventTime.usecs = 5;
    Run();
    EXPECT_EQ(r.EventTime.secs, 0);
    EXPECT_EQ(r.EventTime.usecs, 5);
    SetUp();
    Named(4);
    Run();
    EXPECT_EQ(r.EventTime.secs, 1700000000);
    EXPECT_EQ(r.EventTime.usecs, 0);
}

TEST_F(Completion, BadTypesAfterTimeIsSet) {
    for (int32_t type : {0, 54, -1, INT32_MIN}) {
        SetUp();
        Named(type);
        EXPECT_EQ(Run(), Submitter::None) << type;
        EXPECT_EQ(st.status, EVT_E_BAD_TYPE) << type;
        EXPECT_EQ(r.EventTime.secs, 1700000000);
        EXPECT_STREQ(r.Descriptor, "");
    }
}

TEST_F(Completion, SecondSendKeepsFirstCompletions) {
    Named(4);
    Run();
    EventRecord first = r;
    platform.computer = "OTHER";
    platform.now = 5;
    Run();
    EXPECT_STREQ(r.Path, first.Path);
    EXPECT_STREQ(r.AppKey, first.AppKey);
    EXPECT_EQ(r.EventTime.secs, first.EventTime.secs);
}

TEST_F(Completion, RoutingTableRowByRow) {
    struct Row {
        int32_t type;
        const char *descriptor;  // nullptr: required
        const char *descriptorType;
        const char *property;    // nullptr: required
        Submitter submitter;
    };
    const Row rows[] = {
        {1, "NODE7", "DATABASE", "QZ45 Admin", Submitter::General},
        {3, "NODE7", "DATABASE", "QZ45 Admin", Submitter::Change},
        {11, "NODE7", "DATABASE", "QZ45 Admin", Submitter::General},
        {12, "NODE7", "DATABASE", "ACL", Submitter::General},
        {14, "NODE7", "DATABASE", "QZ45 Audit Trail", Submitter::General},
        {15, "NODE7", "DATABASE", "QZ45 CFR11 Mode", Submitter::General},
        {17, "NODE7", "DATABASE", "QZ45 Admin", Submitter::General},
        {18, nullptr, "RECORD", nullptr, Submitter::General},
        {24, nullptr, "RECORD", nullptr, Submitter::General},
        {25, nullptr, "RECORD", "ACL", Submitter::General},
        {26, nullptr, "RECORD", nullptr, Submitter::General},
        {30, nullptr, "RECORD", nullptr, Submitter::General},
        {31, "NODE7", "DATABASE", "ACL", Submitter::Change},
        {32, nullptr, "RECORD", "ACL", Submitter::Change},
        {33, "NODE7", "DATABASE", "QZ45 Audit Trail", Submitter::General},
        {36, "NODE7", "DATABASE", "QZ45 CFR11 Mode", Submitter::General},
        {37, nullptr, "RECORD", nullptr, Submitter::Change},
        {39, "NODE7", "DATABASE", "QZ45 TaskList", Submitter::General},
        {47, "NODE7", "DATABASE", "QZ45 TaskList", Submitter::General},
        {48, "NODE7", "DATABASE", "QZ45 Admin", Submitter::General},
        {49, "NODE7", "DATABASE", "QZ45 Admin", Submitter::General},
        {53, "NODE7", "DATABASE", "QZ45 Admin", Submitter::General},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.type);
        // Defaults on empty fields; a required field must be given.
        SetUp();
        Named(row.type);
        if (!row.descriptor) std::strcpy(r.Descriptor, "FIC101");
        if (!row.property) std::strcpy(r.Property, "PV");
        EXPECT_EQ(Run(), row.submitter);
        EXPECT_EQ(st.status, EVT_SUCCESS);
        EXPECT_STREQ(r.Descriptor, row.descriptor ? row.descriptor : "FIC101");
        EXPECT_STREQ(r.DescriptorType, row.descriptorType);
        EXPECT_STREQ(r.Property, row.property ? row.property : "PV");

        // A caller's own texts pass unchanged.
        SetUp();
        Named(row.type);
        std::strcpy(r.Descriptor, "D");
        std::strcpy(r.DescriptorType, "MINE");
        std::strcpy(r.Property, "P");
        EXPECT_EQ(Run(), row.submitter);
        EXPECT_STREQ(r.Descriptor, "D");
        EXPECT_STREQ(r.DescriptorType, "MINE");
        EXPECT_STREQ(r.Property, "P");
    }
}

TEST_F(Completion, RequiredFieldsRefusedInOrder) {
    Named(26);
    EXPECT_EQ(Run(), Submitter::None);
    EXPECT_EQ(st.status, EVT_E_INVALID);
    EXPECT_STREQ(r.DescriptorType, "");

    SetUp();
    Named(26);
    std::strcpy(r.Descriptor, "FIC101");
    EXPECT_EQ(Run(), Submitter::None);
    EXPECT_EQ(st.status, EVT_E_INVALID);
    EXPECT_STREQ(r.DescriptorType, "RECORD");
}

TEST_F(Completion, HistoryChangeNeedsAHistoryTime) {
    Named(38);
    std::strcpy(r.Descriptor, "FIC101");
    std::strcpy(r.Property, "PV");
    EXPECT_EQ(Run(), Submitter::None);
    EXPECT_EQ(st.status, EVT_E_INVALID);
    r.History.usecs = 1;
    EXPECT_EQ(Run(), Submitter::HistoryChange);
    EXPECT_EQ(st.status, EVT_SUCCESS);
}

// The sender names what a refused record lacks from the rules completion
// applies: for every type and every field a type may require, a record
// without it is refused exactly when MissingFields names it, and one with
// everything is accepted with nothing named.
TEST_F(Completion, MissingFieldsNamesWhatCompletionRefuses) {
    const char *fields[] = {"User", "Domain", "Descriptor", "Property", "History"};
    for (int32_t type = 1; type <= 53; ++type) {
        for (int leftOut = -1; leftOut < 5; ++leftOut) {
            SetUp();
            Named(type);
            std::strcpy(r.Descriptor, "FIC101");
            std::strcpy(r.Property, "PV");
            r.History.secs = 946684800;
            const std::string name = leftOut < 0 ? "" : fields[leftOut];
            if (name == "User") r.User[0] = '\0';
            if (name == "Domain") r.Domain[0] = '\0';
            if (name == "Descriptor") r.Descriptor[0] = '\0';
            if (name == "Property") r.Property[0] = '\0';
            if (name == "History") r.History.secs = 0;
            const std::string missing = qz45::MissingFields(r);
            // Nothing but the field left out; User and Domain every type needs.
            EXPECT_TRUE(missing.empty() ? leftOut > 1 || name.empty() : missing == name)
                << "type " << type << " without " << name << ": " << missing;
            const bool refused = Run() == Submitter::None;
            EXPECT_EQ(refused, !missing.empty()) << "type " << type << " without " << name;
            if (refused) EXPECT_EQ(st.status, EVT_E_INVALID) << "type " << type;
        }
    }
    SetUp();
    r.Type = 26;
    EXPECT_EQ(qz45::MissingFields(r), "User, Domain, Descriptor, Property");
}

TEST_F(Completion, DescriptorComputerNameLimit) {
    std::strcpy(r.Path, "p");
    Named(4);
    platform.computer = std::string(510, 'c');
    EXPECT_EQ(Run(), Submitter::General);
    EXPECT_EQ(std::strlen(r.Descriptor), 510u);

    SetUp();
    std::strcpy(r.Path, "p");
    Named(4);
    platform.computer = std::string(511, 'c');
    EXPECT_EQ(Run(), Submitter::None);
    EXPECT_EQ(st.status, EVT_E_INVALID);
}

TEST_F(Completion, UnterminatedFieldsAreReadWithinTheirSize) {
    // Every text field full to its last byte, no terminator anywhere.
    std::memset(&r, 'x', offsetof(EventRecord, EventTime));
    std::memset(r.AppKey, 0, sizeof r.AppKey);
    std::memset(r.Descriptor, 'd', sizeof r.Descriptor);
    std::memset(r.DescriptorType, 't', sizeof r.DescriptorType);
    std::memset(r.Property, 'p', sizeof r.Property);
    r.Type = 4;
    r.EventTime = {1, 0};
    EXPECT_EQ(Run(), Submitter::General);
    // AppKey is taken from the unterminated AppName, cut to its field.
    EXPECT_EQ(std::strlen(r.AppKey), 255u);
    EXPECT_STREQ(r.AppName, "Oskel Zentrova.45");
}
