// qz45trail: prints an audit-trail file of the reference audit service (one
// JSON object per line) as a table, or checks its hash chain; ships the trail
// into a SQL database through ODBC, and prints or checks what the database
// holds the same way.
#include <windows.h>

#include <shellapi.h>

#include <io.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "database.h"
#include "exit_codes.h"
#include "prune.h"
#include "review.h"
#include "ship.h"
#include "suggest.h"
#include "table.h"
#include "trail_file.h"
#include "verify.h"
#include "win_text.h"

namespace {

using namespace qz45trail;

// The PostgreSQL ODBC driver of this program's bitness, for the example.
#ifdef _WIN64
#define QZ45_POSTGRESQL_DRIVER "PostgreSQL Unicode(x64)"
#else
#define QZ45_POSTGRESQL_DRIVER "PostgreSQL Unicode"
#endif

const char kFooter[] = R"(
The connection to the database (CONNECTION) is an ODBC connection string,
for example "Driver={)" QZ45_POSTGRESQL_DRIVER R"(};Server=HOST;Port=5432;
Database=D;Uid=U;Pwd=P;", or "DSN=NAME" for a data source set up on this
machine. The driver must have qz45trail's bitness: the 64-bit PostgreSQL driver is
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

    // The string, and 0; said (never the string itself), the exit code when
    // it is not there: 3 for a file that cannot be read, 2 for an empty one.
    int Resolve(std::string *out) const {
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
                return kExitFailed;
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
            return kExitUsage;
        }
        return kExitOk;
    }
};

// The machine a trail file is stored as.
void AddMachine(CLI::App *command, std::string *machine) {
    command->add_option("--machine", *machine,
                        "the machine's name in the database (default: the computer's name)");
}

int Usage(const std::string &what) {
    std::fprintf(stderr, "qz45trail: %s (try --help)\n", what.c_str());
    return kExitUsage;
}

// The words CLI11 did not expect, from its message ("... not expected: A B").
std::vector<std::string> UnexpectedWords(const CLI::ExtrasError &e) {
    std::vector<std::string> words;
    const std::string what = e.what();
    const std::size_t colon = what.find(": ");
    std::size_t at = colon == std::string::npos ? what.size() : colon + 2;
    while (at < what.size()) {
        const std::size_t end = std::min(what.find(' ', at), what.size());
        if (end > at) words.push_back(what.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

// Says which words were not expected where, with the option or command each
// was probably meant to be.
int Unexpected(CLI::App &app, const std::vector<std::string> &reversedArgs,
               const CLI::ExtrasError &e) {
    // The command the words were given to: the first argument that names one.
    CLI::App *command = &app;
    std::vector<std::string> commands;
    for (CLI::App *sub : app.get_subcommands([](CLI::App *) { return true; }))
        commands.push_back(sub->get_name());
    for (auto it = reversedArgs.rbegin(); it != reversedArgs.rend() && command == &app; ++it)
        for (CLI::App *sub : app.get_subcommands([](CLI::App *) { return true; }))
            if (*it == sub->get_name()) command = sub;
    std::vector<std::string> options;
    for (const CLI::Option *o : command->get_options()) {
        for (const std::string &n : o->get_lnames()) options.push_back("--" + n);
        for (const std::string &n : o->get_snames()) options.push_back("-" + n);
    }
    const std::string where = command == &app ? "qz45trail" : "qz45trail " + command->get_name();
    const std::vector<std::string> words = UnexpectedWords(e);
    const bool anOption = std::any_of(words.begin(), words.end(), [](const std::string &w) {
        return w.size() > 1 && w[0] == '-';
    });
    // A mistyped command is taken for FILE, and what follows it is unexpected.
    const std::string first = reversedArgs.empty() ? "" : reversedArgs.back();
    const std::string command1 = command == &app && !anOption ? Nearest(first, commands) : "";
    if (!command1.empty()) {
        std::fprintf(stderr, "qz45trail: %s is not a command; did you mean %s?\n", first.c_str(),
                     command1.c_str());
    } else {
        for (const std::string &word : words) {
            const bool option = word.size() > 1 && word[0] == '-';
            // The value of an unknown option is taken for an argument of its own.
            if (!option && anOption) continue;
            const std::string name = option ? word.substr(0, word.find('=')) : word;
            const std::string guess = option ? Nearest(name, options) : "";
            if (option)
                std::fprintf(stderr, "qz45trail: %s is not an option of %s%s%s\n", name.c_str(),
                             where.c_str(), guess.empty() ? "" : "; did you mean ",
                             guess.empty() ? "" : (guess + "?").c_str());
            else
                std::fprintf(stderr, "qz45trail: %s was not expected\n", word.c_str());
        }
    }
    std::fprintf(stderr, "(%s --help lists what it takes)\n", where.c_str());
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
                 "  qz45trail FILE [filters]            the trail file as a table (or CSV, JSON)\n"
                 "  qz45trail --odbc CONNECTION [...]   the lines stored in the database, alike\n"
                 "  qz45trail verify ...                check a trail (see verify --help)\n"
                 "  qz45trail ship ...                  ship a trail (see ship --help)\n"
                 "  qz45trail schema ...                the database's tables as SQL\n"
                 "  qz45trail review ...                the trail in the database as a web page\n"
                 "  qz45trail prune ...                 remove rotated files the database holds",
                 "qz45trail"};
    app.footer(kFooter);
    // Options start with - only: a FILE may be /path/to/trail (the parser on
    // Windows would take it for an option /path).
    app.allow_windows_style_options(false);
    app.require_subcommand(0, 1);

    std::string file;
    Connection view;
    ViewOptions filter;
    app.add_option("FILE", file, "a trail file (UTF-8 or any name the system takes)");
    view.Add(&app);
    app.add_option("--machine", filter.machine,
                   "database: only this machine's lines (its case does not matter); FILE: the "
                   "machine the file belongs to, shown (default: the computer's name)");
    app.add_option("--since", filter.since,
                   "lines whose event time is T or later (UTC: 2000-01-01 or "
                   "2000-01-01T12:00:00Z)")->type_name("T");
    app.add_option("--until", filter.until, "lines whose event time is before T (UTC)")
        ->type_name("T");
    app.add_option("--user", filter.user,
                   "lines of this user: DOMAIN\\user, or user of any domain (case does not "
                   "matter, as in Windows' account names)");
    app.add_option("--domain", filter.domain, "lines of users of this domain");
    app.add_option("--descriptor", filter.descriptor,
                   "lines of this record (case does not matter)");
    app.add_option("--property", filter.property,
                   "lines of this property of a record (case does not matter)");
    app.add_option("--type", filter.type,
                   "lines of this event type as qz45event takes it (37 or \"Change Value\"): "
                   "its event class and category; types written alike are named on stderr")
        ->type_name("TYPE");
    app.add_option("--category", filter.category,
                   "lines of this category: its number (301) or name (change)")
        ->type_name("CATEGORY");
    app.add_option("--format", filter.format,
                   "table (default), csv (RFC 4180, UTF-8, a header row) or json (JSON Lines); "
                   "csv and json carry every text whole and the times in ISO 8601 (UTC)")
        ->check(CLI::IsMember({"table", "csv", "json"}));
    app.add_flag("--wide", filter.wide, "table: cut no text");
    app.add_flag("--utc", filter.utc, "table: times in UTC rather than local time");
    app.add_option("--tolerance", filter.tolerance,
                   "flag events whose event time is more than SECONDS before or after their "
                   "submission (default 300)")
        ->type_name("SECONDS")->check(CLI::NonNegativeNumber);

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
    AddMachine(ship, &so.machine);
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
    AddMachine(prune, &po.machine);
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

    const std::vector<std::string> given = ReversedArguments();
    std::vector<std::string> args = given;  // the parser consumes them
    try {
        app.parse(args);
    } catch (const CLI::ExtrasError &e) {
        return Unexpected(app, given, e);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }

    try {
        if (*schema) return PrintSchema(roles);
        if (*prune) {
            if (!pc.Given()) return Usage("prune needs a database: --odbc, --odbc-file or --odbc-env");
            if (const int failed = pc.Resolve(&po.connection)) return failed;
            return Prune(po);
        }
        if (*review) {
            if (!rc.Given()) return Usage("review needs a database: --odbc, --odbc-file or --odbc-env");
            if (const int failed = rc.Resolve(&ro.connection)) return failed;
            return Review(ro);
        }
        if (*ship) {
            if (!sc.Given()) return Usage("ship needs a database: --odbc, --odbc-file or --odbc-env");
            if (const int failed = sc.Resolve(&so.connection)) return failed;
            return Ship(so);
        }
        if (*verify) {
            if (vo.file.empty() && !vc.Given())
                return Usage("verify needs a FILE, a database, or both");
            if (const int failed = vc.Given() ? vc.Resolve(&vo.connection) : kExitOk) return failed;
            if (!vc.Given() && !vo.machine.empty())
                return Usage("--machine names the machine in a database (--odbc ...)");
            return Verify(vo);
        }
        if (view.Given()) {
            if (!file.empty()) return Usage("give a FILE or a database, not both");
            std::string connection;
            if (const int failed = view.Resolve(&connection)) return failed;
            Database db(connection);
            return PrintStoredTrail(db, filter);
        }
        if (file.empty()) {
            std::fputs(app.help().c_str(), stderr);
            return kExitUsage;
        }
        return PrintTrailFile(file, filter);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qz45trail: %s\n", e.what());
        return kExitFailed;
    }
}
