// The review page's own loopback address, the Host a request must name, and
// which status an over-long request head gets.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "served_address.h"

namespace qz45trail {
namespace {

TEST(ServedAddressTest, LoopbackAddressIsNeverTheSharedOne) {
    struct Case {
        std::uint32_t random;
        const char *want;
    } const cases[] = {
        {0x000000, "127.1.0.1"},        // never 127.0.0.1, nor 127.0.0.0
        {0xffffff, "127.2.255.2"},      // never .255 at the ends
        {0x01ff00, "127.2.255.1"},
        {0xfdfefd, "127.254.254.254"},
        {0xff000000, "127.1.0.1"},      // the high byte is not used
    };
    for (const Case &c : cases) EXPECT_EQ(LoopbackAddress(c.random), c.want) << c.random;
    for (std::uint32_t r = 0; r < 0x1000000; r += 0x10101) {
        const std::string a = LoopbackAddress(r);
        EXPECT_NE(a, "127.0.0.1");
        EXPECT_TRUE(IsLoopback(a)) << a;
    }
}

TEST(ServedAddressTest, HostMustNameTheAddressAndPortServed) {
    struct Case {
        const char *host, *address;
        unsigned short port;
        bool answered;
    } const cases[] = {
        {"127.4.5.6:8045", "127.4.5.6", 8045, true},
        {"127.4.5.6", "127.4.5.6", 8045, false},        // the port is needed
        {"127.4.5.6:8046", "127.4.5.6", 8045, false},
        {"127.0.0.1:8045", "127.4.5.6", 8045, false},   // another loopback address
        {"localhost:8045", "127.4.5.6", 8045, false},
        {"evil.example:8045", "127.4.5.6", 8045, false}, // a name rebound to loopback
        {"", "127.4.5.6", 8045, false},
        {"127.4.5.6:8045 ", "127.4.5.6", 8045, false},
        {"127.4.5.6:80", "127.4.5.6", 80, true},
        {"127.4.5.6", "127.4.5.6", 80, true},           // browsers leave out port 80
        {"[::1]:8045", "::1", 8045, true},
        {"[::1]:8045", "::1", 8046, false},
        {"::1:8045", "::1", 8045, false},
        {"[FE80::1]:8045", "fe80::1", 8045, true},       // case aside
    };
    for (const Case &c : cases)
        EXPECT_EQ(HostNamesServer(c.host, c.address, c.port), c.answered)
            << c.host << " for " << c.address << ":" << c.port;
}

TEST(ServedAddressTest, OverLongHeadIsTheTargetOrTheHeaders) {
    const std::string longTarget = "GET /?q=" + std::string(9000, 'x');
    struct Case {
        std::string start;
        int status;
    } const cases[] = {
        {longTarget, 414},                                      // the line had not ended
        {longTarget + " HTTP/1.1\r\nHost: a\r\n", 414},
        {"GET / HTTP/1.1\r\nCookie: " + std::string(20000, 'c'), 431},
        {"GET / HTTP/1.1\r\nHost: a\r\n", 431},
        {"", 414},
    };
    for (const Case &c : cases)
        EXPECT_EQ(OverLongStatus(c.start, 8200), c.status) << c.start.substr(0, 40);
}

TEST(ServedAddressTest, LoopbackAndUrlHost) {
    EXPECT_TRUE(IsLoopback("127.0.0.1"));
    EXPECT_TRUE(IsLoopback("::1"));
    EXPECT_FALSE(IsLoopback("0.0.0.0"));
    EXPECT_FALSE(IsLoopback("192.168.1.127"));
    EXPECT_EQ(UrlHost("::1"), "[::1]");
    EXPECT_EQ(UrlHost("127.4.5.6"), "127.4.5.6");
}

}  // namespace
}  // namespace qz45trail
