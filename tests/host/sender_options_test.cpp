#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "failure_text.h"
#include "sender_options.h"

using namespace qz45event;

namespace {

ParseResult Parse(std::vector<const char *> args, SenderOptions &o) {
    args.insert(args.begin(), "qz45event");
    return ParseCommandLine(static_cast<int>(args.size()), args.data(), o);
}

}  // namespace

TEST(SenderOptions, TypesByNumberOrName) {
    EXPECT_EQ(ParseEventType("37"), 37);
    EXPECT_EQ(ParseEventType("Change Value"), 37);
    EXPECT_EQ(ParseEventType("change-history-value"), 38);
    EXPECT_EQ(ParseEventType("DB_READ_DENIED"), 10);
    EXPECT_EQ(ParseEventType("-1"), -1);  // the library refuses it, not the parser
    EXPECT_EQ(ParseEventType("no such type"), std::nullopt);
    EXPECT_EQ(ParseEventType(""), std::nullopt);
    // 48 and 49 share a name: neither is taken for it.
    EXPECT_EQ(ParseEventType("Stop QZ45 Task Server"), std::nullopt);
    EXPECT_EQ(EventTypesNamed("stop-qz45-task-server"), (std::vector<int32_t>{48, 49}));
}

TEST(SenderOptions, ValuesOfEveryKind) {
    ValueOption v;
    EXPECT_FALSE(ParseValue("i2:-1", v));
    EXPECT_EQ(v.value.DataType, EVT_VALUE_INT16);
    EXPECT_EQ(v.value.Payload.Int16.Value, -1);
    EXPECT_TRUE(ParseValue("i2:40000", v));  // does not fit 16 bits
    EXPECT_FALSE(ParseValue("r8:2.5", v));
    EXPECT_EQ(+v.value.Payload.Double.Value, 2.5);
    EXPECT_FALSE(ParseValue("r4:0.5", v));
    EXPECT_EQ(+v.value.Payload.Single.Value, 0.5f);
    EXPECT_FALSE(ParseValue("field:12,-3", v));
    EXPECT_EQ(v.value.DataType, EVT_VALUE_RECORD_FIELD);
    EXPECT_EQ(v.value.Payload.RecordField.FldId, -3);
    EXPECT_FALSE(ParseValue("packed:15,25", v));
    EXPECT_EQ(v.value.Payload.PackedTime.SLOW, 25);
    EXPECT_FALSE(ParseValue("date:946684800.5", v));
    EXPECT_EQ(v.value.Payload.Stamp.usecs, 500000);  // a fraction of a second
    EXPECT_EQ(ParseTime("1.000005")->usecs, 5);
    EXPECT_EQ(ParseTime("1.25")->usecs, 250000);
    EXPECT_EQ(ParseTime("7")->usecs, 0);
    EXPECT_FALSE(ParseTime("1.1234567"));
    EXPECT_FALSE(ParseTime("1.-5"));
    EXPECT_FALSE(ParseTime("1."));
    EXPECT_FALSE(ParseTime("2147483648"));
    // ISO 8601 UTC, as the trail writes times; a date alone is midnight.
    struct {
        const char *text;
        int32_t secs, usecs;
    } iso[] = {
        {"2024-05-06T07:08:09Z", 1714979289, 0},
        {"2024-05-06T07:08:09.250Z", 1714979289, 250000},
        {"2024-05-06T07:08:09.000005Z", 1714979289, 5},
        {"2024-05-06", 1714953600, 0},
        {"2024-02-29", 1709164800, 0},
        {"1970-01-01T00:00:00Z", 0, 0},
        {"1901-12-13T20:45:52Z", INT32_MIN, 0},
        {"2038-01-19T03:14:07Z", INT32_MAX, 0},
    };
    for (const auto &c : iso) {
        auto t = ParseTime(c.text);
        ASSERT_TRUE(t) << c.text;
        EXPECT_EQ(t->secs, c.secs) << c.text;
        EXPECT_EQ(t->usecs, c.usecs) << c.text;
    }
    for (const char *bad : {"2038-01-19T03:14:08Z", "1901-12-13T20:45:51Z", "2024-05-06T07:08:09",
                            "2024-05-06T07:08:09.1234567Z", "2024-05-06T07:08:09.Z",
                            "2023-02-29", "2024-13-01", "2024-05-06T24:00:00Z", "2024-5-6"})
        EXPECT_FALSE(ParseTime(bad)) << bad;
    EXPECT_FALSE(ParseValue("text:abc", v));
    EXPECT_EQ(v.value.DataType, 3);
    EXPECT_EQ(std::memcmp(v.value.Payload.Text, "abc", 3), 0);
    EXPECT_TRUE(ParseValue("text:" + std::string(604, 'x'), v));
    EXPECT_FALSE(ParseValue("textref:hello", v));
    EXPECT_EQ(v.value.DataType, EVT_VALUE_TEXT_REF_STATUS);
    EXPECT_EQ(v.value.Payload.TextRef.TextLen, 5);
    EXPECT_TRUE(ParseValue("r8:abc", v));
    EXPECT_TRUE(ParseValue("blob:1", v));
    EXPECT_TRUE(ParseValue("2.5", v));
}

TEST(SenderOptions, SendFillsTheRecord) {
    SenderOptions o;
    auto r = Parse({"send", "--type", "Change History Value", "-u", "alice", "-d", "PLANT",
                    "--descriptor", "FIC101", "--property", "PV", "--old", "r8:1.5", "--new",
                    "textref:high", "--history", "946684800.25", "--audit-trail", "0",
                    "--severity", "3"},
                   o);
    ASSERT_EQ(r.outcome, ParseOutcome::Run) << r.text;
    EXPECT_EQ(o.command, "send");
    EventRecord rec;
    int16_t status = -1;
    FillRecord(o, rec, &status);
    EXPECT_EQ(status, EVT_SUCCESS);
    EXPECT_EQ(rec.Type, 38);
    EXPECT_STREQ(rec.User, "alice");
    EXPECT_EQ(rec.AuditTrail, 0);
    EXPECT_EQ(rec.Severity, 3);
    EXPECT_EQ(rec.History.secs, 946684800);
    EXPECT_EQ(rec.History.usecs, 250000);
    EXPECT_EQ(+rec.OldValue.Payload.Double.Value, 1.5);
    EXPECT_STREQ(rec.NewValue.Payload.TextRef.Text, "high");
    EXPECT_EQ(rec.EventTime.secs, 0);  // the library takes "now"
}

TEST(SenderOptions, UsageErrorsAndHelp) {
    struct Case {
        std::vector<const char *> args;
        ParseOutcome outcome;
        const char *says = "";  // in the error line
    } cases[] = {
        {{}, ParseOutcome::Error},
        {{"send"}, ParseOutcome::Error},                       // --type is required
        {{"send", "--type", "nonsense"}, ParseOutcome::Error},
        {{"send", "--type", "Stop QZ45 Task Server"}, ParseOutcome::Error, "types 48 and 49"},
        {{"send", "--type", "stop_qz45_task_server"}, ParseOutcome::Error, "by number"},
        {{"send", "--type", "49", "-u", "u", "-d", "d"}, ParseOutcome::Run},
        {{"send", "--type", "4", "--bogus"}, ParseOutcome::Error},
        {{"send", "--type", "4", "--old", "r8:x"}, ParseOutcome::Error},
        {{"send", "--type", "4", "--time", "yesterday"}, ParseOutcome::Error,
         "2024-05-06T07:08:09[.250]Z or 2024-05-06"},
        {{"send", "--type", "4", "--time", "2040-01-01"}, ParseOutcome::Error, "2038-01-19"},
        {{"send", "--type", "38", "--history", "2024-05-06T07:08Z"}, ParseOutcome::Error,
         "bad --history"},
        {{"send", "--type", "4", "--time", "2024-05-06T07:08:09.250Z"}, ParseOutcome::Run},
        {{"send", "--type", "4", "--repeat", "0"}, ParseOutcome::Error},
        {{"send", "--type", "4", "--severity", "high"}, ParseOutcome::Error},
        {{"--help"}, ParseOutcome::Help},
        {{"send", "--help"}, ParseOutcome::Help},
        {{"types"}, ParseOutcome::Run},
        {{"register-event-source"}, ParseOutcome::Error},
        // A general event carries one value, in OldValue: --value, or --old.
        {{"send", "--type", "Create Record", "--new", "r8:42.5"}, ParseOutcome::Error,
         "--new: type 26 (Create Record) carries one value, not an old and a new one: give it "
         "with --value"},
        {{"send", "--type", "26", "--value", "r8:1", "--old", "r8:2"}, ParseOutcome::Error,
         "give --value only"},
        {{"send", "--type", "Change Value", "--value", "r8:1"}, ParseOutcome::Error,
         "type 37 (Change Value) carries two values: give --old and --new"},
        {{"send", "--type", "26", "--value", "x"}, ParseOutcome::Error, "--value: a value is KIND:VALUE"},
        {{"send", "--type", "26", "--old", "r8:1"}, ParseOutcome::Run},
        {{"send", "--type", "37", "--old", "r8:1", "--new", "r8:2"}, ParseOutcome::Run},
        {{"send", "--type", "54", "--new", "r8:1"}, ParseOutcome::Run},  // refused as a type
    };
    for (const auto &c : cases) {
        SenderOptions o;
        ParseResult r = Parse(c.args, o);
        EXPECT_EQ(r.outcome, c.outcome) << (c.args.empty() ? "(none)" : c.args.back());
        if (r.outcome == ParseOutcome::Error) EXPECT_EQ(r.text.find('\n'), std::string::npos) << r.text;
        EXPECT_NE(r.text.find(c.says), std::string::npos) << r.text;
    }
    SenderOptions o;
    ParseResult help = Parse({"send", "--help"}, o);
    for (const char *opt : {"--type", "--value", "--old", "--history", "--audit-trail", "--repeat"})
        EXPECT_NE(help.text.find(opt), std::string::npos) << opt;
}

TEST(SenderOptions, TheValueOfAGeneralEventGoesIntoOldValue) {
    for (const char *option : {"--value", "--old"}) {
        SenderOptions o;
        ASSERT_EQ(Parse({"send", "--type", "Create Record", "-u", "u", "-d", "d", "--descriptor",
                         "FIC101", "--property", "PV", option, "r8:42.5"},
                        o)
                      .outcome,
                  ParseOutcome::Run);
        EventRecord rec;
        int16_t status = -1;
        FillRecord(o, rec, &status);
        EXPECT_EQ(status, EVT_SUCCESS);
        EXPECT_EQ(rec.OldValue.DataType, EVT_VALUE_DOUBLE) << option;
        EXPECT_EQ(+rec.OldValue.Payload.Double.Value, 42.5) << option;
        EXPECT_EQ(rec.NewValue.DataType, 0) << option;
    }
    EXPECT_STREQ(ValueOptionsOf(26), "--value");
    EXPECT_STREQ(ValueOptionsOf(1), "--value");
    EXPECT_STREQ(ValueOptionsOf(37), "--old --new");
    EXPECT_STREQ(ValueOptionsOf(38), "--old --new");
    EXPECT_STREQ(ValueOptionsOf(0), "");
    EXPECT_STREQ(ValueOptionsOf(54), "");
}

// An argument the process's code page cannot hold is refused under the
// option it belongs to, the character named.
TEST(SenderOptions, AnUnheldCharacterIsNamedWithItsOption) {
    const std::vector<std::string> argv = {"qz45event", "send", "--type", "4", "--user",
                                           "j\xC3\xB3zef", "--message=\xCE\xB1", "-d",
                                           "\xE6\xB8\xAC", "-u\xC5\x9B", "--", "\xC5\x9B",
                                           "-\xC5\x9B"};
    const struct {
        std::size_t index;
        const char *option;
    } cases[] = {{5, "--user"}, {6, "--message"}, {8, "-d"},           {9, "-u"},
                 {11, "\xC5\x9B"}, {12, "-\xC5\x9B"}, {20, ""}};
    for (const auto &c : cases) EXPECT_EQ(OptionOfArgument(argv, c.index), c.option) << c.index;
    EXPECT_EQ(CodePointName(0x15B), "U+015B");
    EXPECT_EQ(CodePointName(0x1F600), "U+1F600");
    const FailureText text = DescribeUnheldText("--user", 0x15B, 1252);
    EXPECT_NE(text.what.find("--user holds U+015B"), std::string::npos) << text.what;
    EXPECT_NE(text.what.find("code page (1252) cannot hold; nothing was sent"), std::string::npos);
    EXPECT_NE(text.hint.find("code page 1252"), std::string::npos) << text.hint;
}

// The sender tells apart what the library delivered, what failed, and what
// it dropped once three service failures in a row opened its breaker.
TEST(SenderOptions, TallyOfARunSeesTheBreakerOpen) {
    using O = SendOutcome;
    const struct {
        std::vector<int16_t> statuses;
        std::vector<O> outcomes;
        int opensAt;  // the send after which the breaker is open; -1: never
    } runs[] = {
        {{EVT_E_SERVICE, EVT_E_SERVICE, EVT_E_SERVICE, EVT_SUCCESS, EVT_SUCCESS},
         {O::Failed, O::Failed, O::Failed, O::Dropped, O::Dropped}, 2},
        // A delivery in between starts the count again.
        {{EVT_E_SERVICE, EVT_E_SERVICE, EVT_SUCCESS, EVT_E_SERVICE, EVT_E_SERVICE, EVT_SUCCESS},
         {O::Failed, O::Failed, O::Delivered, O::Failed, O::Failed, O::Delivered}, -1},
        // A refusal before the service neither counts nor starts it again.
        {{EVT_E_SERVICE, EVT_E_INVALID, EVT_E_SERVICE, EVT_E_BAD_TYPE, EVT_E_SERVICE, EVT_SUCCESS},
         {O::Failed, O::Failed, O::Failed, O::Failed, O::Failed, O::Dropped}, 4},
        {{EVT_E_INVALID, EVT_E_INVALID, EVT_E_INVALID, EVT_E_INVALID},
         {O::Failed, O::Failed, O::Failed, O::Failed}, -1},
    };
    for (const auto &run : runs) {
        SendTally tally;
        unsigned delivered = 0, failed = 0, dropped = 0;
        for (std::size_t i = 0; i < run.statuses.size(); ++i) {
            const O got = tally.Count(run.statuses[i]);
            EXPECT_EQ(got, run.outcomes[i]) << "send " << i;
            EXPECT_EQ(tally.JustOpened(), static_cast<int>(i) == run.opensAt) << "send " << i;
            (got == O::Delivered ? delivered : got == O::Failed ? failed : dropped)++;
        }
        EXPECT_EQ(tally.delivered, delivered);
        EXPECT_EQ(tally.failed, failed);
        EXPECT_EQ(tally.dropped, dropped);
    }
}

// Every failure a send meets is said with its status and HRESULT in words,
// and with what to do.
TEST(SenderOptions, FailuresSayWhatToDo) {
    struct Case {
        int16_t status;
        uint32_t hresult;
        std::vector<const char *> args;  // the send's options, for refusals
        const char *what, *hint;
    } cases[] = {
        {EVT_E_SERVICE, 0x80040154, {}, "REGDB_E_CLASSNOTREG: class not registered", "regsvr32 qz45_audit_trail.dll (the 64-bit"},
        {EVT_E_SERVICE, 0x80070003, {}, "the trail's folder is missing", "QZ45_AUDIT_TRAIL is D:\\audit\\t.jsonl"},
        {EVT_E_SERVICE, 0x80070005, {}, "E_ACCESSDENIED", "icacls"},
        {EVT_E_SERVICE, 0x80070070, {}, "below its floor", "free space"},
        {EVT_E_SERVICE, 0x8007000D, {}, "is not a trail", "qz45trail verify"},
        {EVT_E_APARTMENT, 0x800401F0, {}, "CO_E_NOTINITIALIZED", "CoInitializeEx"},
        {EVT_E_APARTMENT, 0x80010106, {}, "RPC_E_CHANGED_MODE", "apartment"},
        {EVT_E_SERVICE, 0x80004005, {}, "0x80004005: the system's words", "event log"},
        {EVT_E_INVALID, 0, {"--type", "Create Record", "-u", "u", "-d", "d", "--descriptor", "F"},
         "lacks Property, which type 26 (Create Record) requires", "--property"},
        {EVT_E_INVALID, 0, {"--type", "38", "-d", "d"},
         "lacks User, Descriptor, Property, History", "--user, --descriptor, --property, --history"},
        {EVT_E_INVALID, 0, {"--type", "4", "-u", "u", "-d", "d"}, "longer than 120", "--path"},
        {EVT_E_BAD_TYPE, 0, {"--type", "54"}, "type 54 is not an event type (1..53)", "qz45event types"},
    };
    for (const auto &c : cases) {
        SenderOptions o;
        std::vector<const char *> args = {"send"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (c.args.empty()) args.insert(args.end(), {"--type", "4"});
        ASSERT_EQ(Parse(args, o).outcome, ParseOutcome::Run) << c.what;
        EventRecord record;
        int16_t populated = -1;
        FillRecord(o, record, &populated);
        FailureContext context;
        context.record = &record;
        context.trail = "D:\\audit\\t.jsonl";
        if (!KnownHresult(c.hresult)) context.systemText = "the system's words";
        const FailureText text =
            DescribeFailure(EventStatus{c.status, 0, static_cast<int32_t>(c.hresult)}, context);
        // The status name and number stay, for the scripts that look for them.
        const std::string status = std::string("status ") + StatusName(c.status) + " (" +
                                   std::to_string(c.status) + ")";
        EXPECT_EQ(text.what.rfind(status, 0), 0u) << text.what;
        EXPECT_NE(text.what.find(c.what), std::string::npos) << text.what;
        EXPECT_NE(text.hint.find(c.hint), std::string::npos) << text.hint;
        EXPECT_EQ((text.what + text.hint).find('\n'), std::string::npos) << text.what;
    }
}
