// Where the review page is served and what a request must name to be
// answered: a loopback address of the page's own (cookies are kept per host
// name, not per port, so no other local server is sent the page's), the Host
// header checked against the address served, and which over-long part of a
// request a refusal names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qz45trail {

// A loopback address made of 24 random bits: 127.a.b.c with a and c from 1
// to 254, so never 127.0.0.1, nor a network or broadcast address.
std::string LoopbackAddress(std::uint32_t random);

// Whether an IP address (as text) is one of this machine's loopback ones.
bool IsLoopback(const std::string &address);

// The address as the host part of a URL: an IPv6 one in brackets.
std::string UrlHost(const std::string &address);

// Whether a request's Host header names the address and port it was sent
// to: "127.4.5.6:8045", case aside; without the port only for port 80.
bool HostNamesServer(const std::string &host, const std::string &address, unsigned short port);

// The status for a request whose head was too long to read, from the start
// of it that was read: 414 when its first line is longer than longestLine or
// had not ended, 431 (the headers) otherwise.
int OverLongStatus(const std::string &start, std::size_t longestLine);

}  // namespace qz45trail
