// qz45trail: prints an audit-trail file of the reference audit service (one
// JSON object per line) as a table, or checks its hash chain; ships the trail
// into a SQL database through ODBC, and prints or checks what the database
// holds the same way.
#include <windows.h>

#include <shellapi.h>

#include <io.h>

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "database.h"
#include "exit_codes.h"
#include "prune.h"
#include "review.h"
#include "ship.h"
#include "table.h"
#include "trail_file.h"
#include "verify.h"
#include "win_text.h"

namespace {

using namespace qz45trail;

const char kFooter[] = R"(
The connection to the database (CONNECTION) is an ODBC connection string,
for example "Driver={PostgreSQL Unicode};Server=HOST;Port=5432;Database=D;
Uid=U;Pwd=P;", or "DSN=NAME" for a data source set up on this machine. The
driver must have qz45trail's bitness: the 64-bit PostgreSQL driver is
{PostgreSQL Unicode(x64)}, the 32-bit one {PostgreSQL Unicode}. To keep
a password off the command line, where other users can read it, put the string
in a file only its owner can read (--odbc-file FILE) or in an environment
variable (--odbc-env NAME), or use a DSN. Line-end conversion is switched off
(LFConversion=0) whatever the string says.

Exit codes, for every command:
  0  done; verify: every check passed
  1  a check failed: a line changed, removed, inserted or moved, the file and
     the database disagree, a line that is not a trail line, a followed file
     replaced or cut short
  2  the command line is wrong
  3  the file or the database could not be read or written (no such file, a
     read error, no connection, a statement the server refused)
  4  verify: lines without chain members precede the chain, or no line is
     chained (--unchained N accepts exactly N such lines)
  5  verify: the last line has no line end yet (a writer at work, or one that
     died mid-line); the lines before it checked out
)";

// The command line as UTF-8, whatever the code page, last argument first
// (as the parser takes it).
std::vector<std::string> ReversedArguments() {
    std::vector<std::string> args;
    int n = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (wide == nullptr) return args;
    for (int i = n - 1; i >= 1; --i) args.push_back(Utf8(wide[i], wcslen(wide[i])));
    LocalFree(wide);
    return args;
}

// Where the connection string comes from: given, in a file, or in a variable.
struct Connection {
    std::string given, file, variable;
    CLI::Option *options[3] = {};

    void Add(CLI::App *app) {
        options[0] = app->add_option("--odbc", given, "the database's ODBC connection string")
                         ->type_name("CONNECTION");
        options[1] = app->add_option("--odbc-file", file,
                                     "read the connection string from the first line of FILE")
                         ->type_name("FILE");
        options[2] = app->add_option("--odbc-env", variable,
                                     "read the connection string from environment variable NAME")
                         ->type_name("NAME");
        options[0]->excludes(options[1])->excludes(options[2]);
        options[1]->excludes(options[2]);
    }
    bool Given() const { return !given.empty() || !file.empty() || !variable.empty(); }

    // The string; false, said (never the string itself), when it is not there.
    bool Resolve(std::string *out) const {
        if (!given.empty()) {
            *out = given;
        } else if (!file.empty()) {
            TrailFile::OpenResult opened;
            std::string error, line;
            bool complete = false;
            const std::unique_ptr<TrailFile> f = TrailFile::Open(file, &opened, &error);
            if (f == nullptr || !ReadFirstLine(*f, &line, &complete, &error)) {
                std::fprintf(stderr, "qz45trail: cannot read the connection string from %s: %s\n",
                             file.c_str(), error.c_str());
                return false;
            }
            *out = line;
        } else {
            const std::wstring name = Wide(variable);
            const DWORD n = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
            std::wstring value(n, L'\0');
            const DWORD got = n > 0 ? GetEnvironmentVariableW(name.c_str(), &value[0], n) : 0;
            *out = Utf8(value.data(), got < n ? got : 0);
        }
        while (!out->empty() && (out->back() == '\n' || out->back() == '\r' || out->back() == ' '))
            out->pop_back();
        if (out->empty()) {
            std::fprintf(stderr, "qz45trail: the connection string is empty%s%s\n",
                         variable.empty() ? "" : ": no environment variable ",
                         variable.c_str());
            return false;
        }
        return true;
    }
};

int Usage(const std::string &what) {
    std::fprintf(stderr, "qz45trail: %s (try --help)\n", what.c_str());
    return kExitUsage;
}

int PrintSchema(const Roles &roles) {
    std::printf("-- The plant database's audit trail tables (PostgreSQL), as qz45trail ship\n"
                "-- creates them when they are missing, with the plant set-up's grants.\n"
                "-- Run as the role that is to own them (not the shipper's), e.g. psql -f.\n");
    for (const std::string &s : SchemaStatements(true, roles))
        std::printf("%s;\n", s.c_str());
    return kExitOk;
}

}  // namespace

int main() {
    if (_isatty(_fileno(stdout))) SetConsoleOutputCP(CP_UTF8);

    CLI::App app{"qz45trail: the audit trail of the reference audit service: its lines as a "
                 "table, its hash chain checked, and the trail shipped into a plant-wide SQL "
                 "database, whose lines it shows and checks the same way.\n\n"
                 "  qz45trail FILE                      the trail file as a table\n"
                 "  qz45trail --odbc CONNECTION [...]   the lines stored in the database\n"
                 "  qz45trail verify ...                check a trail (see verify --help)\n"
                 "  qz45trail ship ...                  ship a trail (see ship --help)\n"
                 "  qz45trail schema ...                the database's tables as SQL\n"
                 "  qz45trail review ...                the trail in the database as a web page\n"
                 "  qz45trail prune ...                 remove rotated files the database holds",
                 "qz45trail"};
    app.footer(kFooter);
    app.require_subcommand(0, 1);

    std::string file;
    Connection view;
    TrailFilter filter;
    app.add_option("FILE", file, "a trail file (UTF-8 or any name the system takes)");
    view.Add(&app);
    app.add_option("--machine", filter.machine, "database: only this machine's lines");
    app.add_option("--since", filter.since,
                   "database: lines whose event time is T or later (UTC: 2000-01-01 or "
                   "2000-01-01T12:00:00Z)")->type_name("T");
    app.add_option("--until", filter.until, "database: lines whose event time is before T (UTC)")
        ->type_name("T");
    app.add_option("--user", filter.user, "database: lines of this user");
    app.add_option("--descriptor", filter.descriptor, "database: lines of this record");
    app.add_option("--type", filter.type,
                   "database: lines of this category (206 a start-up, 301 a change, ...)")
        ->type_name("N");

    VerifyOptions vo;
    Connection vc;
    CLI::App *verify = app.add_subcommand(
        "verify", "Checks a trail's hash chain in FILE; with a database, also the lines stored "
                  "for its machine (their columns, gaps, the chain, the shipment log) and, given "
                  "FILE too, that every stored line is FILE's line at its position, byte for "
                  "byte, and which of FILE's lines are not shipped yet. Without FILE, every "
                  "machine in the database (or --machine's) is checked.");
    verify->add_option("FILE", vo.file,
                       "the trail file: the current one stands for the whole trail, its rotated "
                       "files (found beside it by name) with it; a rotated one is checked alone");
    vc.Add(verify);
    verify->add_option("--machine", vo.machine,
                       "the machine whose stored lines are checked (with FILE: the computer's "
                       "name unless given)");
    verify->add_option("--unchained", vo.unchained,
                       "accept exactly N lines without chain members before the chain (a trail "
                       "begun before chaining)")->type_name("N")->check(CLI::NonNegativeNumber);
    verify->add_flag("--single", vo.single, "check FILE alone, without the trail's rotated files");

    ShipOptions so;
    Connection sc;
    CLI::App *ship = app.add_subcommand(
        "ship", "Stores the lines of FILE that the database does not hold yet in its table "
                "audit_trail (created when missing), in order, exactly once, each batch logged in "
                "audit_trail_shipments. First checks that the stored lines are FILE's, and refuses "
                "a trail that another machine's rows hold already (naming it). --follow "
                "keeps shipping what is appended until stopped: it waits for a trail that does "
                "not exist yet, retries a lost connection with back-off, and stops when FILE is "
                "replaced, removed or cut short.");
    ship->add_option("FILE", so.file, "the trail file")->required();
    sc.Add(ship);
    ship->add_option("--machine", so.machine, "the machine's name in the database (default: the "
                                              "computer's name)");
    ship->add_flag("--follow", so.follow, "keep shipping what is appended");
    ship->add_option("--log", so.log,
                     "append what happens (the start, each batch, retries, the end, a failure) "
                     "to FILE as timestamped lines, for a shipper nobody watches; a failure also "
                     "goes to the Application event log (source qz45trail)")
        ->type_name("FILE");

    Roles roles;
    CLI::App *schema = app.add_subcommand(
        "schema", "Prints the SQL (PostgreSQL) that creates the tables, their indexes and the "
                  "triggers that refuse UPDATE, DELETE and TRUNCATE; with role names, the grants "
                  "of the plant set-up.");
    schema->add_option("--shipper", roles.shipper,
                       "the role that ships: SELECT and INSERT on the trail only");
    schema->add_option("--auditor", roles.auditor, "the role that reads: SELECT only");
    schema->add_option("--reviewer", roles.reviewer,
                       "the role of the review page: SELECT, and INSERT on the reviews only");

    PruneOptions po;
    Connection pc;
    CLI::App *prune = app.add_subcommand(
        "prune", "Removes the oldest rotated files of the trail whose current file is FILE, one "
                 "after another, as long as the database holds every line of each for the "
                 "machine, byte for byte at its position, and (with --keep-days) its last line "
                 "is older than N days. Never the current file, nor a file after one that is "
                 "kept. Each file is recorded in <trail>.pruned<extension> (its name, its lines, "
                 "its last line's hash) before it goes, so that verify still checks what remains "
                 "as one chain.");
    prune->add_option("FILE", po.file, "the trail's current file")->required();
    pc.Add(prune);
    prune->add_option("--machine", po.machine, "the machine's name in the database (default: the "
                                               "computer's name)");
    prune->add_option("--keep-days", po.keepDays, "keep files whose last line is younger than N "
                                                   "days")->type_name("N")->check(CLI::NonNegativeNumber);
    prune->add_option("--archive", po.archive, "move the files to FOLDER instead of deleting them")
        ->type_name("FOLDER");
    prune->add_flag("--dry-run", po.dryRun, "say what would be pruned, change nothing");

    ReviewOptions ro;
    Connection rc;
    CLI::App *review = app.add_subcommand(
        "review", "Serves a read-only web page over the trail in the database, for reviewers: the "
                  "events with filters, a record's history, the exceptions of a period, a chart, "
                  "CSV and print copies, and the record of reviews done. Every request needs the "
                  "token in the address it prints (kept in a cookie after the first visit).");
    rc.Add(review);
    review->add_option("--port", ro.port, "the port (default 8045; 0: one the system picks)");
    review->add_option("--listen", ro.address,
                       "the address to listen on (default 127.0.0.1, this machine only); another "
                       "one makes the page reachable from elsewhere")->type_name("ADDRESS");

    std::vector<std::string> args = ReversedArguments();
    try {
        app.parse(args);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }

    try {
        if (*schema) return PrintSchema(roles);
        if (*prune) {
            if (!pc.Given()) return Usage("prune needs a database: --odbc, --odbc-file or --odbc-env");
            if (!pc.Resolve(&po.connection)) return kExitUsage;
            return Prune(po);
        }
        if (*review) {
            if (!rc.Given()) return Usage("review needs a database: --odbc, --odbc-file or --odbc-env");
            if (!rc.Resolve(&ro.connection)) return kExitUsage;
            return Review(ro);
        }
        if (*ship) {
            if (!sc.Given()) return Usage("ship needs a database: --odbc, --odbc-file or --odbc-env");
            if (!sc.Resolve(&so.connection)) return kExitUsage;
            return Ship(so);
        }
        if (*verify) {
            if (vo.file.empty() && !vc.Given())
                return Usage("verify needs a FILE, a database, or both");
            if (vc.Given() && !vc.Resolve(&vo.connection)) return kExitUsage;
            if (!vc.Given() && !vo.machine.empty())
                return Usage("--machine names the machine in a database (--odbc ...)");
            return Verify(vo);
        }
        if (view.Given()) {
            if (!file.empty()) return Usage("give a FILE or a database, not both");
            std::string connection;
            if (!view.Resolve(&connection)) return kExitUsage;
            Database db(connection);
            return PrintStoredTrail(db, filter);
        }
        if (file.empty()) {
            std::fputs(app.help().c_str(), stderr);
            return kExitUsage;
        }
        if (!filter.machine.empty() || !filter.since.empty() || !filter.until.empty() ||
            !filter.user.empty() || !filter.descriptor.empty() || !filter.type.empty())
            return Usage("the filters select lines in a database (--odbc ...), not in a file");
        return PrintTrailFile(file);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qz45trail: %s\n", e.what());
        return kExitFailed;
    }
}
