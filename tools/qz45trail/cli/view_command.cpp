// qz45trail FILE / qz45trail --odbc ...: a trail file's lines, or the lines
// the database holds, as a table, CSV or JSON Lines, through one filter.
#include <cstdio>
#include <memory>

#include "command.h"
#include "connection.h"
#include "database.h"
#include "exit_codes.h"
#include "stored_view.h"
#include "table.h"

namespace qz45trail {
namespace {

void AddFilterOptions(CLI::App *app, ViewOptions *filter) {
    app->add_option("--machine", filter->machine,
                    "database: only this machine's lines (its case does not matter); FILE: the "
                    "machine the file belongs to, shown (default: the computer's name)");
    app->add_option("--since", filter->since,
                    "lines whose event time is T or later (UTC: 2000-01-01 or "
                    "2000-01-01T12:00:00Z)")->type_name("T");
    app->add_option("--until", filter->until, "lines whose event time is before T (UTC)")
        ->type_name("T");
    app->add_option("--user", filter->user,
                    "lines of this user: DOMAIN\\user, or user of any domain (case does not "
                    "matter, as in Windows' account names)");
    app->add_option("--domain", filter->domain, "lines of users of this domain");
    app->add_option("--descriptor", filter->descriptor,
                    "lines of this record (case does not matter)");
    app->add_option("--property", filter->property,
                    "lines of this property of a record (case does not matter)");
    app->add_option("--type", filter->type,
                    "lines of this event type as qz45event takes it (37 or \"Change Value\"): "
                    "its event class and category; types written alike are named on stderr")
        ->type_name("TYPE");
    app->add_option("--category", filter->category,
                    "lines of this category: its number (301) or name (change)")
        ->type_name("CATEGORY");
}

void AddFormatOptions(CLI::App *app, ViewOptions *filter) {
    app->add_option("--format", filter->format,
                    "table (default), csv (RFC 4180, UTF-8, a header row; a text cell that "
                    "begins with = + - @ ' a tab or a carriage return has one apostrophe put in "
                    "front) or json (JSON Lines); csv and json carry every text whole and the "
                    "times in ISO 8601 (UTC)")
        ->check(CLI::IsMember({"table", "csv", "json"}));
    app->add_flag("--wide", filter->wide, "table: cut no text");
    app->add_flag("--utc", filter->utc, "table: times in UTC rather than local time");
    app->add_option("--tolerance", filter->tolerance,
                    "flag events whose event time is more than SECONDS before or after their "
                    "submission (default 300)")
        ->type_name("SECONDS")->check(CLI::NonNegativeNumber);
}

struct View {
    std::string file;
    ConnectionOptions database;
    ViewOptions filter;

    int Run(CLI::App *app) const {
        if (!database.Given()) {
            if (!file.empty()) return PrintTrailFile(file, filter);
            std::fputs(app->help().c_str(), stderr);
            return kExitUsage;
        }
        if (!file.empty()) return Usage("give a FILE or a database, not both");
        std::string connection;
        if (const int failed = database.Resolve(&connection)) return failed;
        Database db(connection);
        return PrintStoredTrail(db, filter);
    }
};

}  // namespace

Command AddViewCommand(CLI::App *app) {
    auto view = std::make_shared<View>();
    app->add_option("FILE", view->file, "a trail file (UTF-8 or any name the system takes)");
    view->database.Add(app);
    AddFilterOptions(app, &view->filter);
    AddFormatOptions(app, &view->filter);
    return {app, [view, app] { return view->Run(app); }};
}

}  // namespace qz45trail
