// The platform-free part of an event's road makes no heap allocation:
// completion and routing, value decoding, both date conversions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "delivery/event_completion.h"
#include "event/ole_date.h"
#include "event/value_decoding.h"

namespace {
thread_local bool t_counting = false;
thread_local long t_allocations = 0;
}  // namespace

void *operator new(std::size_t n) {
    if (t_counting) ++t_allocations;
    if (void *p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

namespace {

class NamedPlatform : public qz45::CompletionPlatform {
public:
    int64_t ComputerName(char *buf, uint32_t) const override {
        std::memcpy(buf, "NODE7", 6);
        return 5;
    }
    uint32_t ExecutablePath(char *buf, uint32_t) const override {
        std::memcpy(buf, "C:\\bin\\x.exe", 13);
        return 12;
    }
    int32_t Now() const override { return 1; }
};

}  // namespace

TEST(Allocation, NoneOnThePlatformFreePathOfAnEvent) {
    NamedPlatform platform;
    EventRecord r;
    std::memset(&r, 0, sizeof r);
    std::strcpy(r.User, "u");
    std::strcpy(r.Domain, "d");
    r.Type = EVT_TYPE_CHANGE_VALUE;
    std::strcpy(r.Descriptor, "FIC101");
    std::strcpy(r.Property, "PV");
    r.OldValue.DataType = EVT_VALUE_RECORD_FIELD;
    r.NewValue.DataType = 6;
    std::memcpy(r.NewValue.Payload.Text, "abcdef", 6);
    EventStatus st{};

    t_counting = true;
    const qz45::Submitter s = qz45::CompleteEvent(r, st, platform);
    const qz45::DecodedValue oldV = qz45::DecodeEventValue(r.OldValue);
    const qz45::DecodedValue newV = qz45::DecodeEventValue(r.NewValue);
    double date = 0, packed = 0;
    qz45::UnixTimeToOleDate(946684800, 5, &date);
    qz45::PackedTimeToOleDate(15, 25, &packed);
    t_counting = false;

    EXPECT_EQ(s, qz45::Submitter::Change);
    EXPECT_EQ(oldV.Text(), "0 0");
    EXPECT_EQ(newV.Text(), "abcdef");
    EXPECT_GT(date, 36526.0);
    EXPECT_EQ(t_allocations, 0);
}
