// A small HTTP/1.1 server for one local reader: every connection served
// asynchronously on one thread (browsers keep idle ones open), which answers
// at once what needs no database; the rest is made on a thread of its own,
// one request at a time with background work between them, so that a slow
// query holds up no other answer. A request must name the address it was
// sent to in its Host header; an over-long target or header is refused.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace qz45trail {

struct HttpRequest {
    std::string method;  // "GET", "POST", ...
    std::string target;  // "/events?user=op2"
    std::string cookie;  // the Cookie header, "" when none
    std::string body;    // a form's fields, for POST
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};

// What the server serves.
struct HttpSite {
    // On the server's thread: true with *response filled when the answer
    // needs no waiting (no database); false sends the request to slow.
    std::function<bool(const HttpRequest &, HttpResponse *)> quick;
    // On the work thread, one request at a time.
    std::function<HttpResponse(const HttpRequest &)> slow;
    // On the work thread between requests, a short step at a time: true
    // while there is more to do now; after false it is called again some
    // seconds later.
    std::function<bool()> background;
};

// Listens on address:port (port 0: one the system picks), calls ready with
// the address and port it listens on, and serves until Ctrl-C or SIGTERM.
// Returns 0, or prints why it cannot listen and returns 3 (2: address is no
// IP address).
int Serve(const std::string &address, unsigned short port, const HttpSite &site,
          const std::function<void(const std::string &, unsigned short)> &ready);

}  // namespace qz45trail
