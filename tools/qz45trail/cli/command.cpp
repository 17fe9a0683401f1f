// What the commands share on the command line.
#include "command.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdio>

#include "exit_codes.h"
#include "win_text.h"

namespace qz45trail {

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

const char kAbout[] =
    "qz45trail: the audit trail of the reference audit service: its lines as a table, its hash "
    "chain checked, and the trail shipped into a plant-wide SQL database, whose lines it shows "
    "and checks the same way.\n\n"
    "  qz45trail FILE [filters]            the trail file as a table (or CSV, JSON)\n"
    "  qz45trail --odbc CONNECTION [...]   the lines stored in the database, alike\n"
    "  qz45trail verify ...                check a trail (see verify --help)\n"
    "  qz45trail ship ...                  ship a trail (see ship --help)\n"
    "  qz45trail schema ...                the database's tables as SQL\n"
    "  qz45trail review ...                the trail in the database as a web page\n"
    "  qz45trail prune ...                 remove rotated files the database holds";


int Usage(const std::string &what) {
    std::fprintf(stderr, "qz45trail: %s (try --help)\n", what.c_str());
    return kExitUsage;
}

void AddMachineOption(CLI::App *command, std::string *machine) {
    command->add_option("--machine", *machine,
                        "the machine's name in the database (default: the computer's name)");
}

}  // namespace qz45trail
