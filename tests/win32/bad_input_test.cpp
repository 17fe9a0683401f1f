// Hostile records through the DLL: the caller's memory ends right behind what
// the caller declared (a no-access page follows), so any read or write past a
// field, the record or a text buffer ends the test with an access violation.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "audit_double_fixture.h"
#include "qz45alarmevent_api.h"

namespace {

// bytes of read-write memory that end where a no-access page begins.
class AtPageEnd {
public:
    explicit AtPageEnd(size_t bytes) {
        const size_t pages = (bytes + kPage - 1) / kPage;
        base_ = static_cast<char *>(
            VirtualAlloc(nullptr, (pages + 1) * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        if (base_ != nullptr) VirtualProtect(base_ + pages * kPage, kPage, PAGE_NOACCESS, &old);
        data_ = base_ + pages * kPage - bytes;
        end_ = base_ + pages * kPage;
    }
    AtPageEnd(const AtPageEnd &) = delete;
    AtPageEnd &operator=(const AtPageEnd &) = delete;
    ~AtPageEnd() { VirtualFree(base_, 0, MEM_RELEASE); }
    char *data() const { return data_; }
    // Whether the byte just behind the block faults when read.
    bool Guarded() const { return IsBadReadPtr(end_, 1) != FALSE; }

private:
    static constexpr size_t kPage = 4096;
    char *base_ = nullptr;
    char *data_ = nullptr;
    char *end_ = nullptr;
};

template <size_t N>
void Fill(char (&field)[N], char c) {
    std::memset(field, c, N);  // no terminator
}

// The argument text of the first call of op on the change event object.
std::string ArgumentOf(const std::string &op) {
    const std::string head = std::string("ChangeEvent.") + op + "(";
    for (const std::string &line : audit::Lines(AUDIT_DOUBLE_CHANGE_EVENT))
        if (line.compare(0, head.size(), head) == 0)
            return line.substr(head.size(), line.size() - head.size() - 1);
    return "<no " + op + ">";
}

std::string Quoted(size_t n, char c) { return "\"" + std::string(n, c) + "\""; }

EventStatus Send(EventRecord *r) {
    EventStatus st{};
    SendQZ45Event(r, &st);
    return st;
}

class BadInput : public AuditDoubleTest {};

}  // namespace

TEST_F(BadInput, UnterminatedFieldsAreReadWithinTheirFields) {
    // A change event whose every text field is full to its last byte, whose
    // values are inline texts without a zero byte, the second one claiming
    // more bytes than the block holds, at the very end of the caller's memory.
    AtPageEnd memory(sizeof(EventRecord));
    ASSERT_TRUE(memory.Guarded());
    EventRecord &r = *reinterpret_cast<EventRecord *>(memory.data());
    std::memset(&r, 0, sizeof r);
    Fill(r.Path, 'p'), Fill(r.AppName, 'n'), Fill(r.User, 'u'), Fill(r.Domain, 'd');
    Fill(r.Message, 'm'), Fill(r.RefId, 'r'), Fill(r.AppKey, 'k'), Fill(r.Descriptor, 'e');
    Fill(r.DescriptorType, 't'), Fill(r.Area, 'a'), Fill(r.Unit, 'i'), Fill(r.Property, 'o');
    r.Type = EVT_TYPE_CHANGE_VALUE;
    r.AuditTrail = 1;
    r.EventTime.secs = 1700000000;
    r.OldValue.DataType = EVT_VALUE_TEXT_MAX;
    std::memset(r.OldValue.Payload.Text, 'v', sizeof r.OldValue.Payload.Text);
    r.NewValue.DataType = 700;
    std::memset(r.NewValue.Payload.Text, 'w', sizeof r.NewValue.Payload.Text);

    EventStatus st = Send(&r);
    ASSERT_EQ(st.status, EVT_SUCCESS) << audit::Log();
    EXPECT_EQ(ArgumentOf("SetPath"), Quoted(256, 'p'));
    EXPECT_EQ(ArgumentOf("SetMessage"), Quoted(2048, 'm'));
    EXPECT_EQ(ArgumentOf("SetDescriptor"), Quoted(512, 'e'));
    EXPECT_EQ(ArgumentOf("SetProperty"), Quoted(256, 'o'));
    EXPECT_EQ(ArgumentOf("SetOldValue"), "VT_BSTR:" + Quoted(603, 'v'));
    EXPECT_EQ(ArgumentOf("SetNewValue"), "VT_BSTR:" + Quoted(603, 'w'));
    EXPECT_EQ(r.NewValue.Payload.Text[603], 'w') << "the caller's block is not written";

    // A failure quotes the unterminated Message in its event-log report.
    AuditDoubleReset();
    audit::Fail(AUDIT_DOUBLE_EVENT_LOGGER, "Submit", E_FAIL);
    EXPECT_EQ(Send(&r).status, EVT_E_SERVICE);
    AuditDoubleReset();
    EXPECT_EQ(Send(&r).status, EVT_SUCCESS) << "a success clears the failure count";
}

TEST_F(BadInput, TextByAddressOutsideItsBoundsStaysInsideTheCallersBuffer) {
    // TextLen 1023, the most there is, with exactly TextLen + 1 bytes: the
    // terminator lands on the last one. TextLen 2000 with exactly 2000 bytes
    // and no zero byte: 1023 of them are read and nothing is written.
    AtPageEnd exact(1024), longer(2000);
    ASSERT_TRUE(exact.Guarded() && longer.Guarded());
    std::memset(exact.data(), 'x', 1024);
    std::memset(longer.data(), 'y', 2000);
    struct Case {
        char *text;
        int16_t textLen;
        std::string seen;
    } cases[] = {
        {exact.data(), 1023, "VT_BSTR:" + Quoted(1023, 'x')},
        {longer.data(), 2000, "VT_BSTR:" + Quoted(1023, 'y')},
        {nullptr, 5, "VT_BSTR:\"\""},
        {exact.data(), -1, "VT_BSTR:\"\""},
    };
    for (const Case &c : cases) {
        AuditDoubleReset();
        EventRecord r;
        std::memset(&r, 0, sizeof r);
        std::strcpy(r.User, "alice");
        std::strcpy(r.Domain, "PLANT");
        std::strcpy(r.Descriptor, "FIC101");
        std::strcpy(r.Property, "PV");
        r.Type = EVT_TYPE_CHANGE_VALUE;
        r.OldValue.DataType = EVT_VALUE_TEXT_REF_STATUS;
        r.OldValue.Payload.TextRef.Text = c.text;
        r.OldValue.Payload.TextRef.TextLen = c.textLen;
        r.NewValue.DataType = -25;  // no layout: an empty text
        ASSERT_EQ(Send(&r).status, EVT_SUCCESS) << c.textLen;
        EXPECT_EQ(ArgumentOf("SetOldValue"), c.seen) << c.textLen;
        EXPECT_EQ(ArgumentOf("SetNewValue"), "VT_BSTR:\"\"");
    }
    EXPECT_EQ(exact.data()[1023], '\0');
    EXPECT_EQ(exact.data()[1022], 'x');
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(longer.data()[i], 'y') << i;
}
