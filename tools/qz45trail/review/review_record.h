// A review as the reviews form gives it, checked against the machines there
// are and the time it is; where each machine's trail stood when it was
// recorded, as the JSON the database keeps and as the page lists it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "review_data.h"
#include "review_filter.h"

namespace qz45trail {

// What a reviewer says a review means, as stored; the form offers these.
constexpr const char *kReviewMeanings[] = {"reviewed, no exceptions",
                                           "reviewed, exceptions noted"};

struct NewReview {
    bool hasFrom = false, hasUntil = false;
    UtcTime from, until;  // the period reviewed, in UTC
    std::string machines;  // as given, "all" when not
    std::string meaning;   // one of kReviewMeanings once checked
    std::string remark;
};

// The form's fields read; false, and *error the reason, when they do not.
bool ReadReviewForm(const std::map<std::string, std::string> &form,
                    const LocalTimeReader &localToUtc, NewReview *review, std::string *error);

// A review read by ReadReviewForm checked before it is stored for good: its
// period ends after it starts and neither end is after now, each machine it
// names (by commas or blanks) is one of `known`, and its meaning is one of
// kReviewMeanings. False, and *error the reason, when not.
bool CheckReview(const NewReview &review, const std::vector<std::string> &known,
                 const UtcTime &now, std::string *error);

// {"<machine>": {"line": 9, "hash": "...", "sha256": "..."}, ...}
std::string PositionsJson(const std::vector<TrailPosition> &positions);

// The positions of PositionsJson's JSON, by machine; `read` false when it
// is not JSON of that shape (the text is then shown as it is).
std::vector<TrailPosition> PositionsOf(const std::string &json, bool *read);

}  // namespace qz45trail
