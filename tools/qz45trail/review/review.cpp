// qz45trail review: starts the review page, with a token of its own, on a
// loopback address of its own unless told one, as the Windows user it runs
// as, its chains checked on a thread of its own.
#include "review.h"

#include <windows.h>

#include <bcrypt.h>
#define SECURITY_WIN32
#include <security.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "chain_watcher.h"
#include "computer_name.h"
#include "exit_codes.h"
#include "http_server.h"
#include "page_database.h"
#include "review_site.h"
#include "served_address.h"
#include "win_text.h"

namespace qz45trail {
namespace {

bool RandomBytes(unsigned char *bytes, ULONG count) {
    return BCryptGenRandom(nullptr, bytes, count, BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}

// 128 random bits from the system, as hex.
bool MakeToken(std::string *token) {
    unsigned char bytes[16];
    if (!RandomBytes(bytes, sizeof bytes)) return false;
    static const char kDigits[] = "0123456789abcdef";
    token->clear();
    for (const unsigned char b : bytes) {
        token->push_back(kDigits[b >> 4]);
        token->push_back(kDigits[b & 15]);
    }
    return true;
}

// Says where the page is, the token included; and that others may read it
// when it was not asked to listen on loopback, or that other local servers
// are sent its cookie on 127.0.0.1.
void SayAddress(bool loopback, const std::string &address, unsigned short port,
                const std::string &token) {
    if (!loopback)
        std::printf("NOTE: listening on %s, not on this machine's loopback only: anyone who can "
                    "reach it and has the address below can read the trail\n",
                    address.c_str());
    else if (address == "127.0.0.1")
        std::printf("NOTE: on 127.0.0.1 the browser sends the page's cookie to every other server "
                    "on 127.0.0.1 too; without --listen the page takes a loopback address of its "
                    "own\n");
    std::printf("review page: http://%s:%u/?token=%s\n(Ctrl-C stops it)\n", UrlHost(address).c_str(),
                port, token.c_str());
    std::fflush(stdout);
}

}  // namespace

int Review(const ReviewOptions &o) {
    std::string token;
    unsigned char where[3] = {};
    if (!MakeToken(&token) || !RandomBytes(where, sizeof where)) {
        std::fprintf(stderr, "qz45trail: the system gave no random numbers for the page's token\n");
        return kExitFailed;
    }
    // An address of the page's own: a browser sends its cookie to no other
    // server on this machine.
    const std::string address =
        !o.address.empty() ? o.address
                           : LoopbackAddress(static_cast<std::uint32_t>(where[0]) << 16 |
                                             static_cast<std::uint32_t>(where[1]) << 8 | where[2]);
    PageDatabase database(o.connection, o.queryTimeout);
    try {
        database.Get();
    } catch (const OdbcError &e) {
        std::fprintf(stderr, "qz45trail: %s\n", e.what());
        return kExitFailed;
    }
    ChainWatcher watcher(o.connection, o.watch);
    ReviewSite site(&database, &watcher, token, WindowsUser());
    HttpSite served;
    served.quick = [&site](const HttpRequest &r, HttpResponse *out) {
        return site.AnswerAtOnce(r, out);
    };
    served.slow = [&site](const HttpRequest &r) { return site.Handle(r); };
    served.background = [] { return false; };  // the watcher has a thread of its own
    return Serve(address, o.port, served, [&token](const std::string &at, unsigned short port) {
        SayAddress(IsLoopback(at), at, port, token);
    });
}

}  // namespace qz45trail
