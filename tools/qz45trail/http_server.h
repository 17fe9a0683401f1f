// A small HTTP/1.1 server for one local reader: single-threaded, every
// connection served asynchronously (browsers keep idle ones open), each
// request answered by a handler that runs to completion.
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

using HttpHandler = std::function<HttpResponse(const HttpRequest &)>;

// Work done between requests, a short step at a time on the same thread: it
// returns true while there is more to do now; when it returns false it is
// called again some seconds later.
using BackgroundStep = std::function<bool()>;

// Listens on address:port (port 0: one the system picks), calls ready with
// the address and port it listens on, and serves until Ctrl-C or SIGTERM,
// running background steps between requests. Returns 0, or prints why it
// cannot listen and returns 3.
int Serve(const std::string &address, unsigned short port, const HttpHandler &handler,
          const std::function<void(const std::string &, unsigned short)> &ready,
          const BackgroundStep &background);

}  // namespace qz45trail
