#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qz45alarmevent_api.h"

extern "C" int qz45_header_c_record_size(void);

namespace {

// True when every byte of [from, to) of the record is zero.
bool ZeroRange(const EventRecord &r, std::size_t from, std::size_t to) {
    const auto *p = reinterpret_cast<const unsigned char *>(&r);
    for (std::size_t i = from; i < to; ++i)
        if (p[i] != 0) return false;
    return true;
}

bool AllZeroExcept(const EventRecord &r, std::size_t from, std::size_t to) {
    return ZeroRange(r, 0, from) && ZeroRange(r, to, sizeof r);
}

struct Filled {
    EventRecord rec;
    int16_t status = 12345;
    Filled() { std::memset(&rec, 0xAB, sizeof rec); }
};

void General(Filled &f, const char *path, const char *appName, const char *user,
             const char *domain, const char *message = nullptr,
             const int32_t *auditTrail = nullptr, const char *refId = nullptr) {
    PopulateGeneralSystemEvent(&f.rec, path, appName, user, domain, nullptr, message,
                               auditTrail, nullptr, refId, nullptr, nullptr, &f.status);
}

}  // namespace

TEST(RecordLayout, SameSizeFromC) { EXPECT_EQ(qz45_header_c_record_size(), 6364); }

TEST(Population, AllNullGivesZeroRecordWithAuditTrailOn) {
    Filled f;
    General(f, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(f.status, EVT_SUCCESS);
    EXPECT_EQ(f.rec.AuditTrail, 1);
    EXPECT_TRUE(AllZeroExcept(f.rec, offsetof(EventRecord, AuditTrail),
                              offsetof(EventRecord, AuditTrail) + 4));

    Filled c;
    PopulateChangeValueEvent(&c.rec, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &c.status);
    EXPECT_EQ(c.status, EVT_SUCCESS);
    EXPECT_EQ(std::memcmp(&c.rec, &f.rec, sizeof f.rec), 0);
    EXPECT_EQ(c.rec.OldValue.DataType, 0);
    EXPECT_EQ(c.rec.NewValue.DataType, 0);
}

TEST(Population, EveryFieldLandsAtItsPlace) {
    EventRecord r;
    int16_t status = -1;
    TimeStamp when{946684800, 250000}, hist{1000, 2};
    int32_t audit = 5, type = 38, severity = -7;
    EventValue oldV{}, newV{};
    oldV.DataType = EVT_VALUE_DOUBLE;
    oldV.Payload.Double.Value = 2.5;
    std::memset(&newV, 0x5A, sizeof newV);
    PopulateChangeValueEvent(&r, "p", "app", "u", "d", &when, "msg", &audit, &type, "ref",
                             "key", &severity, "desc", "RECORD", "area", "unit", "prop", &hist,
                             &oldV, &newV, &status);
    ASSERT_EQ(status, EVT_SUCCESS);
    EXPECT_STREQ(r.Path, "p");
    EXPECT_STREQ(r.AppName, "app");
    EXPECT_STREQ(r.User, "u");
    EXPECT_STREQ(r.Domain, "d");
    EXPECT_EQ(r.EventTime.secs, 946684800);
    EXPECT_EQ(r.EventTime.usecs, 250000);
    EXPECT_STREQ(r.Message, "msg");
    EXPECT_EQ(r.AuditTrail, 5);  // stored unchanged, not normalised
    EXPECT_EQ(r.Type, 38);
    EXPECT_STREQ(r.RefId, "ref");
    EXPECT_STREQ(r.AppKey, "key");
    EXPECT_EQ(r.Severity, -7);
    EXPECT_STREQ(r.Descriptor, "desc");
    EXPECT_STREQ(r.DescriptorType, "RECORD");
    EXPECT_STREQ(r.Area, "area");
    EXPECT_STREQ(r.Unit, "unit");
    EXPECT_STREQ(r.Property, "prop");
    EXPECT_EQ(r.History.secs, 1000);
    EXPECT_EQ(r.History.usecs, 2);
    EXPECT_EQ(std::memcmp(&r.OldValue, &oldV, sizeof oldV), 0);
    EXPECT_EQ(std::memcmp(&r.NewValue, &newV, sizeof newV), 0);
}

TEST(Population, AuditTrailArgumentStoredAsGiven) {
    for (int32_t v : {0, 1, 5, -1}) {
        Filled f;
        General(f, nullptr, nullptr, nullptr, nullptr, nullptr, &v);
        EXPECT_EQ(f.status, EVT_SUCCESS);
        EXPECT_EQ(f.rec.AuditTrail, v);
    }
}

TEST(Population, TextLimitsAtFieldSizeMinusOne) {
    struct Case {
        const char *what;
        std::size_t limit;
    } cases[] = {{"path", 255}, {"user", 255}, {"message", 2047}, {"refId", 255}};
    for (const auto &c : cases) {
        for (std::size_t len : {c.limit, c.limit + 1}) {
            std::string text(len, 'x');
            Filled f;
            const char *t = text.c_str();
            std::string what = c.what;
            PopulateGeneralSystemEvent(&f.rec, what == "path" ? t : nullptr, nullptr,
                                       what == "user" ? t : nullptr, nullptr, nullptr,
                                       what == "message" ? t : nullptr, nullptr, nullptr,
                                       what == "refId" ? t : nullptr, nullptr, nullptr,
                                       &f.status);
            SCOPED_TRACE(what + " of length " + std::to_string(len));
            EXPECT_EQ(f.status, len == c.limit ? EVT_SUCCESS : EVT_E_TOO_LONG);
        }
    }
    // Descriptor has 511; the other descriptor texts 255.
    for (std::size_t len : {511u, 512u}) {
        std::string text(len, 'd');
        Filled f;
        PopulateChangeValueEvent(&f.rec, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, text.c_str(),
                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 &f.status);
        EXPECT_EQ(f.status, len == 511 ? EVT_SUCCESS : EVT_E_TOO_LONG);
        if (len == 511) EXPECT_EQ(std::strlen(f.rec.Descriptor), 511u);
    }
    std::string prop(256, 'p');
    Filled f;
    PopulateChangeValueEvent(&f.rec, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, "d", nullptr, nullptr,
                             nullptr, prop.c_str(), nullptr, nullptr, nullptr, &f.status);
    EXPECT_EQ(f.status, EVT_E_TOO_LONG);
    EXPECT_STREQ(f.rec.Descriptor, "d");
    EXPECT_TRUE(ZeroRange(f.rec, offsetof(EventRecord, Property), sizeof f.rec));
}

TEST(Population, TooLongPathLeavesWholeRecordZero) {
    std::string path(256, 'p');
    Filled f;
    General(f, path.c_str(), "app", "user", "dom");
    EXPECT_EQ(f.status, EVT_E_TOO_LONG);
    EXPECT_TRUE(ZeroRange(f.rec, 0, sizeof f.rec));
}

TEST(Population, TooLongDomainKeepsEarlierFieldsOnly) {
    std::string domain(300, 'd');
    Filled f;
    int32_t audit = 1;
    General(f, "path", "app", "user", domain.c_str(), "msg", &audit, "ref");
    EXPECT_EQ(f.status, EVT_E_TOO_LONG);
    EXPECT_STREQ(f.rec.Path, "path");
    EXPECT_STREQ(f.rec.AppName, "app");
    EXPECT_STREQ(f.rec.User, "user");
    // Domain, EventTime and everything after it are zero; AuditTrail too,
    // since its step was never reached.
    EXPECT_TRUE(ZeroRange(f.rec, offsetof(EventRecord, Domain), sizeof f.rec));
    EXPECT_EQ(f.rec.AuditTrail, 0);
}

TEST(Population, LongTextIsMeasuredOnlyUpToItsLimit) {
    // An unterminated 256-byte buffer: the measure must stop at the limit + 1
    // (AddressSanitizer flags a read beyond the buffer).
    std::vector<char> raw(256, 'u');
    Filled f;
    General(f, nullptr, nullptr, raw.data(), nullptr);
    EXPECT_EQ(f.status, EVT_E_TOO_LONG);
}

TEST(Population, NullRecordOrStatusDoesNotCrash) {
    int16_t status = 77;
    PopulateGeneralSystemEvent(nullptr, "p", nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr, &status);
    EXPECT_EQ(status, EVT_E_INVALID);
    status = 77;
    PopulateChangeValueEvent(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &status);
    EXPECT_EQ(status, EVT_E_INVALID);

    Filled f;
    EventRecord before;
    std::memcpy(&before, &f.rec, sizeof before);
    PopulateGeneralSystemEvent(&f.rec, "p", nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(std::memcmp(&before, &f.rec, sizeof before), 0);
}
