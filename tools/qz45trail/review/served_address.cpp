// The review page's own loopback address and the checks of what a request
// names; see served_address.h.
#include "served_address.h"

#include <cctype>

namespace qz45trail {

std::string LoopbackAddress(std::uint32_t random) {
    const unsigned a = 1 + ((random >> 16) & 0xff) % 254;
    const unsigned b = (random >> 8) & 0xff;
    const unsigned c = 1 + (random & 0xff) % 254;
    return "127." + std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c);
}

bool IsLoopback(const std::string &address) {
    return address.compare(0, 4, "127.") == 0 || address == "::1";
}

std::string UrlHost(const std::string &address) {
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

namespace {

bool SameLetters(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

bool HostNamesServer(const std::string &host, const std::string &address, unsigned short port) {
    const std::string name = UrlHost(address);
    if (SameLetters(host, name + ":" + std::to_string(port))) return true;
    return port == 80 && SameLetters(host, name);
}

int OverLongStatus(const std::string &start, std::size_t longestLine) {
    const std::size_t end = start.find("\r\n");
    return end == std::string::npos || end > longestLine ? 414 : 431;
}

}  // namespace qz45trail
