#include <gtest/gtest.h>

#include <cstring>
#include <vector>

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
    } cases[] = {
        {{}, ParseOutcome::Error},
        {{"send"}, ParseOutcome::Error},                       // --type is required
        {{"send", "--type", "nonsense"}, ParseOutcome::Error},
        {{"send", "--type", "4", "--bogus"}, ParseOutcome::Error},
        {{"send", "--type", "4", "--old", "r8:x"}, ParseOutcome::Error},
        {{"send", "--type", "4", "--time", "yesterday"}, ParseOutcome::Error},
        {{"send", "--type", "4", "--repeat", "0"}, ParseOutcome::Error},
        {{"send", "--type", "4", "--severity", "high"}, ParseOutcome::Error},
        {{"--help"}, ParseOutcome::Help},
        {{"send", "--help"}, ParseOutcome::Help},
        {{"types"}, ParseOutcome::Run},
        {{"register-event-source"}, ParseOutcome::Error},
    };
    for (const auto &c : cases) {
        SenderOptions o;
        ParseResult r = Parse(c.args, o);
        EXPECT_EQ(r.outcome, c.outcome) << (c.args.empty() ? "(none)" : c.args.back());
        if (r.outcome == ParseOutcome::Error) EXPECT_EQ(r.text.find('\n'), std::string::npos) << r.text;
    }
    SenderOptions o;
    ParseResult help = Parse({"send", "--help"}, o);
    for (const char *opt : {"--type", "--old", "--history", "--audit-trail", "--repeat"})
        EXPECT_NE(help.text.find(opt), std::string::npos) << opt;
}
