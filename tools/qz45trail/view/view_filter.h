// The console view's options, and the filter they make: which lines of a
// trail (file or database) the view shows.
#pragma once

#include <string>

#include "trail_view.h"

namespace qz45trail {

// The view's options as given on the command line.
struct ViewOptions {
    std::string machine, since, until, user, domain, descriptor, property, type, category;
    std::string format = "table";  // table, csv or json
    bool wide = false;             // the table cuts no text
    bool utc = false;              // the table's times in UTC, not local time
    long long tolerance = 300;     // seconds an event time may be off its submission unflagged
};

// The filter the options make; or what is wrong with them (error, a usage
// error), and what the user should know of a filter that reads (note: the
// types a --type cannot tell apart). Neither starts with the program's name.
struct ViewFilterReading {
    RowFilter filter;
    std::string error, note;
};
ViewFilterReading ReadViewFilter(const ViewOptions &options);

}  // namespace qz45trail
