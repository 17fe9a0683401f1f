// The lines the plant database holds, printed as the file view prints a
// trail file's.
#include "stored_view.h"

#include <utility>

#include "exit_codes.h"
#include "transaction.h"
#include "utc_time.h"
#include "view_queries.h"
#include "win_text.h"

namespace qz45trail {

int PrintStoredTrail(const Database &db, const ViewOptions &options) {
    TrailView view(options);
    if (!view.Prepare()) return kExitUsage;
    const RowFilter &filter = view.Filter();
    const Transaction read(db.connection);

    // The server narrows the rows down with what it compares as the view
    // does: the machine (found here, whatever its case), the time to the
    // second around what is asked (the column keeps milliseconds) and the
    // category. The view's filter decides.
    std::vector<std::string> machines;
    for (const std::string &m : StoredMachines(db))
        if (filter.machine.empty() || SameIgnoringCase(filter.machine, m)) machines.push_back(m);
    StoredLineBounds bounds;
    if (filter.since) {
        bounds.since = *filter.since;
        bounds.since->nanoseconds = 0;
    }
    if (filter.until) {
        bounds.until = AddSeconds(*filter.until, 1);
        bounds.until->nanoseconds = 0;
    }
    bounds.category = filter.category;
    StoredLines lines(db, std::move(bounds));

    view.Begin();
    for (const std::string &machine : machines)
        lines.Read(machine, [&view, &machine](long long lineNo, const std::string &line) {
            view.Line(machine, lineNo, line);
        });
    view.End("in the database");
    return kExitOk;
}

}  // namespace qz45trail
