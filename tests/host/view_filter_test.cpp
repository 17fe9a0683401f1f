// The console view's options read into its filter: categories by number or
// name, types as their class and category, times, and what is refused.
#include <gtest/gtest.h>

#include <string>

#include "view_filter.h"

namespace qz45trail {
namespace {

TEST(ViewFilterTest, OptionsMakeTheFilterOrSayWhatIsWrong) {
    struct Case {
        const char *category, *type, *since;
        long long wantCategory;  // 0: none
        const char *wantClass;
        const char *error;       // a part of the error, "" for none
        const char *note;        // a part of the note, "" for none
    } const cases[] = {
        {"", "", "", 0, "", "", ""},
        {"301", "", "", 301, "", "", ""},
        {"History Change", "", "", 401, "", "", ""},
        {"start-up", "", "", 206, "", "", ""},
        {"2147483647", "", "", 2147483647, "", "", ""},
        {"-2147483648", "", "", -2147483648LL, "", "", ""},
        {"2147483648", "", "", 0, "", "--category 2147483648 is neither", ""},
        {"chnage", "", "", 0, "", "change (301)", ""},
        {"", "37", "", 301, "ChangeEvent", "", "types 3, 31, 32 and 37 are written alike"},
        {"", "change value", "", 301, "ChangeEvent", "", "(Change Value) selects change events"},
        {"change", "Change Value", "", 301, "ChangeEvent", "", "of category 301"},
        {"201", "37", "", 0, "", "--type 37 is of category 301, --category 201 another", ""},
        {"", "0", "", 0, "", "--type 0 is not an event type that is written", ""},
        {"", "no such type", "", 0, "", "qz45event types lists them", ""},
        {"", "48", "", 209, "GeneralEvent", "", "are written alike"},
        {"", "", "2000-01-01", 0, "", "", ""},
        {"", "", "2000-13-01", 0, "", "--since 2000-13-01 is not a UTC time", ""},
    };
    for (const Case &c : cases) {
        ViewOptions o;
        o.category = c.category;
        o.type = c.type;
        o.since = c.since;
        o.user = "Op2";
        const ViewFilterReading r = ReadViewFilter(o);
        const std::string what = std::string(c.category) + "|" + c.type + "|" + c.since;
        if (*c.error != '\0') {
            EXPECT_NE(r.error.find(c.error), std::string::npos) << what << ": " << r.error;
            continue;
        }
        EXPECT_EQ(r.error, "") << what;
        EXPECT_EQ(r.filter.category.value_or(0), c.wantCategory) << what;
        EXPECT_EQ(r.filter.eventClass, c.wantClass) << what;
        EXPECT_EQ(r.filter.user, "Op2");
        EXPECT_EQ(r.filter.since.has_value(), *c.since != '\0') << what;
        if (*c.note != '\0') EXPECT_NE(r.note.find(c.note), std::string::npos) << what << ": " << r.note;
        else EXPECT_EQ(r.note, "") << what;
    }
}

}  // namespace
}  // namespace qz45trail
