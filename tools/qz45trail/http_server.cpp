// The only file that includes the HTTP library: it takes long to compile, so
// nothing else does.
#include "http_server.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>

namespace qz45trail {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

constexpr auto kIdle = std::chrono::seconds(60);
constexpr auto kBackgroundPause = std::chrono::seconds(5);
constexpr std::size_t kLargestBody = 64 * 1024;

// The error's number too: under Wine the system's words are often missing.
std::string Words(const beast::error_code &e) {
    return e.message() + " (" + std::to_string(e.value()) + ")";
}

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, const HttpHandler &handler)
        : stream_(std::move(socket)), handler_(handler) {}

    void Read() {
        parser_.emplace();
        parser_->body_limit(kLargestBody);
        stream_.expires_after(kIdle);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code e, std::size_t) {
                             self->OnRead(e);
                         });
    }

private:
    void OnRead(beast::error_code e) {
        if (e) {
            Close();
            return;
        }
        const http::request<http::string_body> &in = parser_->get();
        HttpRequest request;
        request.method = std::string(in.method_string());
        request.target = std::string(in.target());
        request.cookie = std::string(in[http::field::cookie]);
        request.body = in.body();
        HttpResponse out;
        try {
            out = handler_(request);
        } catch (const std::exception &x) {
            out = HttpResponse{};
            out.status = 500;
            out.contentType = "text/plain; charset=utf-8";
            out.body = std::string("the page could not be made: ") + x.what() + "\n";
        }
        auto response = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(out.status), in.version());
        response->set(http::field::server, "qz45trail");
        response->set(http::field::content_type, out.contentType);
        for (const auto &h : out.headers) response->set(h.first, h.second);
        response->body() = std::move(out.body);
        response->keep_alive(in.keep_alive());
        response->prepare_payload();
        stream_.expires_after(kIdle);
        http::async_write(stream_, *response,
                          [self = shared_from_this(), response](beast::error_code e, std::size_t) {
                              if (e || !response->keep_alive()) self->Close();
                              else self->Read();
                          });
    }

    void Close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    boost::optional<http::request_parser<http::string_body>> parser_;
    const HttpHandler &handler_;
};

class Listener {
public:
    Listener(asio::io_context &io, const HttpHandler &handler) : acceptor_(io), handler_(handler) {}

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
            if (!e) std::make_shared<Session>(std::move(socket), handler_)->Read();
            if (acceptor_.is_open()) Accept();
        });
    }
    void Close() {
        beast::error_code ignored;
        acceptor_.close(ignored);
    }

private:
    tcp::acceptor acceptor_;
    const HttpHandler &handler_;
};

}  // namespace

int Serve(const std::string &address, unsigned short port, const HttpHandler &handler,
          const std::function<void(const std::string &, unsigned short)> &ready,
          const BackgroundStep &background) {
    asio::io_context io(1);
    beast::error_code e;
    const asio::ip::address ip = asio::ip::make_address(address, e);
    if (e) {
        std::fprintf(stderr, "qz45trail: %s is not an IP address\n", address.c_str());
        return 2;
    }
    Listener listener(io, handler);
    std::string why;
    if (!listener.Open(tcp::endpoint(ip, port), &why)) {
        std::fprintf(stderr, "qz45trail: cannot listen on %s port %u: %s\n", address.c_str(), port,
                     why.c_str());
        return 3;
    }
    // A step, then whatever requests came meanwhile, then the next step.
    asio::steady_timer pause(io);
    std::function<void()> step = [&] {
        if (background()) {
            asio::post(io, step);
            return;
        }
        pause.expires_after(kBackgroundPause);
        pause.async_wait([&](beast::error_code e) {
            if (!e) step();
        });
    };
    asio::signal_set stop(io, SIGINT, SIGTERM);
    stop.async_wait([&](beast::error_code, int) {
        listener.Close();
        pause.cancel();
        io.stop();
    });
    listener.Accept();
    asio::post(io, step);
    ready(ip.to_string(), listener.Where().port());
    io.run();
    return 0;
}

}  // namespace qz45trail
