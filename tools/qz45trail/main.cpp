// qz45trail: prints an audit-trail file of the reference audit service (one
// JSON object per line) as a table, or checks its hash chain; ships the trail
// into a SQL database through ODBC, and prints or checks what the database
// holds the same way.
#include <windows.h>

#include <shellapi.h>

#include <io.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "database.h"
#include "ship.h"
#include "table.h"
#include "verify.h"

namespace {

const char kUsage[] =
    "usage: qz45trail FILE                     the trail as a table\n"
    "       qz45trail verify FILE              check the trail's hash chain\n"
    "       qz45trail ship --odbc CONNECTION FILE [--follow] [--machine M]\n"
    "           store the trail's lines that the database does not hold yet in its table\n"
    "           audit_trail (created when missing), in order, exactly once; --follow keeps\n"
    "           shipping what is appended until killed, reconnecting when the database is\n"
    "           away; the machine is the computer's name unless --machine names it\n"
    "       qz45trail --odbc CONNECTION [--machine M] [--since T] [--until T] [--user U]\n"
    "                 [--descriptor D] [--type N]\n"
    "           the stored lines as a table, by machine and line; T is a UTC time\n"
    "           (2000-01-01 or 2000-01-01T12:00:00Z) compared with the event time, --since\n"
    "           from T on, --until before T; --type N is the category the trail records\n"
    "           (for example 206 a start-up, 301 a change)\n"
    "       qz45trail verify --odbc CONNECTION [--machine M]\n"
    "           check each machine's stored trail: the hash chain, and every row against\n"
    "           its line\n"
    "CONNECTION is an ODBC connection string, for example\n"
    "  \"Driver={PostgreSQL Unicode};Server=HOST;Port=5432;Database=D;Uid=U;Pwd=P;\"\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

// The command line as UTF-8, whatever the code page.
std::vector<std::string> Arguments() {
    std::vector<std::string> args;
    int n = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (wide == nullptr) return args;
    for (int i = 1; i < n; ++i) args.push_back(qz45trail::Utf8(wide[i], wcslen(wide[i])));
    LocalFree(wide);
    return args;
}

// Options that take a value, flags, and the rest in order.
struct Parsed {
    std::map<std::string, std::string> values;
    bool follow = false;
    std::vector<std::string> rest;
    std::string Value(const char *name) const {
        const auto found = values.find(name);
        return found == values.end() ? std::string() : found->second;
    }
};

bool Parse(const std::vector<std::string> &args, std::size_t from,
           const std::vector<std::string> &allowed, bool followAllowed, Parsed *out) {
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a == "--follow" && followAllowed) {
            out->follow = true;
        } else if (a.compare(0, 2, "--") == 0) {
            bool known = false;
            for (const std::string &name : allowed) known = known || a == name;
            if (!known || i + 1 >= args.size()) {
                std::fprintf(stderr, "qz45trail: %s %s\n", a.c_str(),
                             known ? "needs a value" : "is not an option here");
                return false;
            }
            out->values[a] = args[++i];
        } else {
            out->rest.push_back(a);
        }
    }
    return true;
}

int PrintTrailFile(const char *path) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "qz45trail: cannot read %s\n", path);
        return 1;
    }
    qz45trail::PrintTableHeader();
    long long n = 0;
    for (std::string line; std::getline(in, line);) qz45trail::PrintTableRow(++n, line);
    std::printf("%lld event(s) in %s\n", n, path);
    return 0;
}

int FromDatabase(const Parsed &p, bool verify) {
    try {
        qz45trail::Database db(p.Value("--odbc"));
        if (verify) return qz45trail::VerifyStoredTrail(db, p.Value("--machine"));
        qz45trail::TrailFilter f;
        f.machine = p.Value("--machine");
        f.since = p.Value("--since");
        f.until = p.Value("--until");
        f.user = p.Value("--user");
        f.descriptor = p.Value("--descriptor");
        f.type = p.Value("--type");
        return qz45trail::PrintStoredTrail(db, f);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qz45trail: %s\n", e.what());
        return 2;
    }
}

}  // namespace

int main() {
    if (_isatty(_fileno(stdout))) SetConsoleOutputCP(CP_UTF8);
    const std::vector<std::string> args = Arguments();
    if (args.empty()) return Usage();
    const std::string &command = args[0];
    Parsed p;

    if (command == "ship") {
        if (!Parse(args, 1, {"--odbc", "--machine"}, true, &p)) return 2;
        if (p.rest.size() != 1 || p.Value("--odbc").empty()) return Usage();
        qz45trail::ShipOptions o;
        o.connection = p.Value("--odbc");
        o.file = p.rest[0];
        o.machine = p.Value("--machine");
        o.follow = p.follow;
        return qz45trail::Ship(o);
    }
    if (command == "verify") {
        if (!Parse(args, 1, {"--odbc", "--machine"}, false, &p)) return 2;
        if (!p.Value("--odbc").empty() && p.rest.empty()) return FromDatabase(p, true);
        if (p.rest.size() != 1 || !p.values.empty()) return Usage();
        return VerifyTrail(p.rest[0].c_str());
    }
    if (!Parse(args, 0,
               {"--odbc", "--machine", "--since", "--until", "--user", "--descriptor", "--type"},
               false, &p))
        return 2;
    if (!p.Value("--odbc").empty() && p.rest.empty()) return FromDatabase(p, false);
    if (p.rest.size() != 1 || !p.values.empty()) return Usage();
    return PrintTrailFile(p.rest[0].c_str());
}
