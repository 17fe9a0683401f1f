// The only file that includes the HTTP library: it takes long to compile, so
// nothing else does.
#include "http_server.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>

#include "served_address.h"

namespace qz45trail {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

constexpr auto kIdle = std::chrono::seconds(60);
constexpr auto kBackgroundPause = std::chrono::seconds(5);
constexpr auto kDrain = std::chrono::seconds(2);
constexpr std::size_t kLargestBody = 64 * 1024;
constexpr std::uint32_t kLargestHead = 16 * 1024;  // the request line and the headers
constexpr std::size_t kLongestTarget = 8 * 1024;
constexpr std::size_t kLongestLine = kLongestTarget + 32;  // the method and version besides

// The error's number too: under Wine the system's words are often missing.
std::string Words(const beast::error_code &e) {
    return e.message() + " (" + std::to_string(e.value()) + ")";
}

HttpResponse PlainText(int status, std::string text) {
    HttpResponse r;
    r.status = status;
    r.contentType = "text/plain; charset=utf-8";
    r.body = std::move(text);
    return r;
}

// What a request refused before any page sees it is told.
HttpResponse Refusal(int status) {
    switch (status) {
    case 414:
        return PlainText(414, "414 URI Too Long: the address asked for is longer than " +
                                  std::to_string(kLongestTarget) + " characters.\n");
    case 431:
        return PlainText(431, "431 Request Header Fields Too Large: the request's headers are "
                              "longer than " + std::to_string(kLargestHead) + " bytes.\n");
    default:
        return PlainText(421, "421 Misdirected Request: this server answers only at the address "
                              "that qz45trail review printed.\n");
    }
}

// Makes a response, or one that says why it could not be made.
template <typename Make>
HttpResponse Made(const Make &make) {
    try {
        return make();
    } catch (const std::exception &x) {
        return PlainText(500, std::string("the page could not be made: ") + x.what() + "\n");
    }
}

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, const HttpSite &site, asio::thread_pool &worker)
        : stream_(std::move(socket)), site_(site), worker_(worker) {}

    void Read() {
        parser_.emplace();
        parser_->body_limit(kLargestBody);
        parser_->header_limit(kLargestHead);
        stream_.expires_after(kIdle);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code e, std::size_t) {
                             self->OnRead(e);
                         });
    }

private:
    void OnRead(beast::error_code e) {
        if (e == http::error::header_limit) return Refuse(OverLong());
        if (e) return Close();
        const http::request<http::string_body> &in = parser_->get();
        version_ = in.version();
        keepAlive_ = in.keep_alive();
        if (in.target().size() > kLongestTarget) return Refuse(414);
        beast::error_code ignored;
        const tcp::endpoint at = stream_.socket().local_endpoint(ignored);
        if (!HostNamesServer(std::string(in[http::field::host]), at.address().to_string(),
                             at.port()))
            return Refuse(421);
        HttpRequest request;
        request.method = std::string(in.method_string());
        request.target = std::string(in.target());
        request.cookie = std::string(in[http::field::cookie]);
        request.body = in.body();
        bool answered = true;  // a failure is answered too
        HttpResponse out = Made([&] {
            HttpResponse r;
            answered = site_.quick(request, &r);
            return r;
        });
        if (answered) return Write(std::move(out));
        // The rest on the work thread, the answer back on this one.
        auto io = stream_.get_executor();
        asio::post(worker_, [self = shared_from_this(), io, request = std::move(request)] {
            HttpResponse made = Made([&] { return self->site_.slow(request); });
            asio::post(io, [self, made = std::move(made)]() mutable { self->Write(std::move(made)); });
        });
    }

    // Which part of the request was too long: the target when its line had
    // not been read whole.
    int OverLong() const {
        const auto target = parser_->get().target();
        if (!target.empty()) return target.size() > kLongestTarget ? 414 : 431;
        const auto data = buffer_.data();
        const std::size_t n = std::min(data.size(), kLongestLine + 2);
        return OverLongStatus(std::string(static_cast<const char *>(data.data()), n), kLongestLine);
    }

    void Refuse(int status) {
        keepAlive_ = false;
        Write(Refusal(status));
    }

    void Write(HttpResponse out) {
        auto response = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(out.status), version_);
        response->set(http::field::server, "qz45trail");
        response->set(http::field::content_type, out.contentType);
        for (const auto &h : out.headers) response->set(h.first, h.second);
        response->body() = std::move(out.body);
        response->keep_alive(keepAlive_);
        response->prepare_payload();
        stream_.expires_after(kIdle);
        http::async_write(stream_, *response,
                          [self = shared_from_this(), response](beast::error_code e, std::size_t) {
                              if (e || !response->keep_alive()) self->Close();
                              else self->Read();
                          });
    }

    // Says it is done, then reads what the client still sends until it
    // closes too (or a little while has passed), so that the answer is not
    // lost to a reset.
    void Close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(kDrain);
        Drain();
    }

    void Drain() {
        stream_.async_read_some(asio::buffer(scratch_),
                                [self = shared_from_this()](beast::error_code e, std::size_t) {
                                    if (!e) self->Drain();
                                });
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    boost::optional<http::request_parser<http::string_body>> parser_;
    const HttpSite &site_;
    asio::thread_pool &worker_;
    unsigned version_ = 11;
    bool keepAlive_ = true;
    std::array<char, 4096> scratch_{};
};

class Listener {
public:
    Listener(asio::io_context &io, const HttpSite &site, asio::thread_pool &worker)
        : acceptor_(io), site_(site), worker_(worker) {}

    bool Open(const tcp::endpoint &at, std::string *why) {
        beast::error_code e;
        acceptor_.open(at.protocol(), e);
        // No SO_REUSEADDR: on Windows it would let another program take the port.
        if (!e) acceptor_.bind(at, e);
        if (!e) acceptor_.listen(asio::socket_base::max_listen_connections, e);
        if (e) *why = Words(e);
        return !e;
    }
    tcp::endpoint Where() const { return acceptor_.local_endpoint(); }

    void Accept() {
        acceptor_.async_accept([this](beast::error_code e, tcp::socket socket) {
            if (!e) std::make_shared<Session>(std::move(socket), site_, worker_)->Read();
            if (acceptor_.is_open()) Accept();
        });
    }
    void Close() {
        beast::error_code ignored;
        acceptor_.close(ignored);
    }

private:
    tcp::acceptor acceptor_;
    const HttpSite &site_;
    asio::thread_pool &worker_;
};

// The background work on the work thread: a step, then whatever requests
// came meanwhile, then the next step; a pause when there is nothing to do.
class Background {
public:
    Background(asio::thread_pool &worker, const std::function<bool()> &step)
        : worker_(worker), step_(step), pause_(worker) {}

    void Start() {
        asio::post(worker_, [this] { Step(); });
    }

private:
    void Step() {
        bool more = false;
        try {
            more = step_();
        } catch (const std::exception &) {
            more = false;  // tried again after the pause
        }
        if (more) return Start();
        pause_.expires_after(kBackgroundPause);
        pause_.async_wait([this](beast::error_code e) {
            if (!e) Step();
        });
    }

    asio::thread_pool &worker_;
    const std::function<bool()> &step_;
    asio::steady_timer pause_;
};

}  // namespace

int Serve(const std::string &address, unsigned short port, const HttpSite &site,
          const std::function<void(const std::string &, unsigned short)> &ready) {
    asio::io_context io(1);
    beast::error_code e;
    const asio::ip::address ip = asio::ip::make_address(address, e);
    if (e) {
        std::fprintf(stderr, "qz45trail: %s is not an IP address\n", address.c_str());
        return 2;
    }
    asio::thread_pool worker(1);  // the one thread that waits for the database
    Listener listener(io, site, worker);
    std::string why;
    if (!listener.Open(tcp::endpoint(ip, port), &why)) {
        std::fprintf(stderr, "qz45trail: cannot listen on %s port %u: %s\n", address.c_str(), port,
                     why.c_str());
        return 3;
    }
    Background background(worker, site.background);
    asio::signal_set stop(io, SIGINT, SIGTERM);
    stop.async_wait([&](beast::error_code, int) {
        listener.Close();
        worker.stop();  // what runs there ends; nothing more starts
        io.stop();
    });
    listener.Accept();
    background.Start();
    ready(ip.to_string(), listener.Where().port());
    io.run();
    worker.join();
    return 0;
}

}  // namespace qz45trail
