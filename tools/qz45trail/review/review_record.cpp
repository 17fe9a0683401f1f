// A review as the reviews form gives it, checked, and its trail positions as
// JSON and back.
#include "review_record.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "utc_time.h"

namespace qz45trail {

bool ReadReviewForm(const std::map<std::string, std::string> &form,
                    const LocalTimeReader &localToUtc, NewReview *review, std::string *error) {
    const auto get = [&form](const char *name) { return FormField(form, name); };
    *review = NewReview{};
    review->hasFrom = !get("from").empty();
    review->hasUntil = !get("to").empty();
    if ((review->hasFrom && !localToUtc(get("from"), &review->from)) ||
        (review->hasUntil && !localToUtc(get("to"), &review->until))) {
        *error = "The period's times do not read (2026-12-08T10:15).";
        return false;
    }
    review->remark = get("remark");
    if (review->remark.empty()) {
        *error = "Say something in the remark.";
        return false;
    }
    review->machines = get("machines").empty() ? "all" : get("machines");
    review->meaning = get("meaning");
    return true;
}

namespace {

// The names in a list given by commas or blanks.
std::vector<std::string> NamesIn(const std::string &list) {
    std::vector<std::string> names;
    std::string name;
    for (const char c : list + ",") {
        if (c == ',' || c == ' ' || c == '\t') {
            if (!name.empty()) names.push_back(name);
            name.clear();
        } else {
            name += c;
        }
    }
    return names;
}

}  // namespace

bool CheckReview(const NewReview &review, const std::vector<std::string> &known,
                 const UtcTime &now, std::string *error) {
    if ((review.hasFrom && SecondsBetween(now, review.from) > 0) ||
        (review.hasUntil && SecondsBetween(now, review.until) > 0)) {
        *error = "The period is in the future: a review covers what has happened.";
        return false;
    }
    if (review.hasFrom && review.hasUntil && SecondsBetween(review.from, review.until) <= 0) {
        *error = "The period ends before it starts: give its start first.";
        return false;
    }
    if (review.machines != "all") {
        const std::vector<std::string> names = NamesIn(review.machines);
        if (names.empty()) {
            *error = "Name the machines reviewed, or leave the field empty for all.";
            return false;
        }
        for (const std::string &name : names) {
            if (std::find(known.begin(), known.end(), name) == known.end()) {
                *error = "No machine " + name + " has shipped to this database.";
                return false;
            }
        }
    }
    for (const char *meaning : kReviewMeanings)
        if (review.meaning == meaning) return true;
    *error = "Say what the review found: no exceptions, or exceptions noted.";
    return false;
}

std::string PositionsJson(const std::vector<TrailPosition> &positions) {
    nlohmann::json json = nlohmann::json::object();
    for (const TrailPosition &p : positions)
        json[p.machine] = {{"line", p.line}, {"hash", p.hash}, {"sha256", p.sha256}};
    // Texts from the database are UTF-8; should one not be, it is stored
    // with U+FFFD rather than refused.
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::vector<TrailPosition> PositionsOf(const std::string &json, bool *read) {
    std::vector<TrailPosition> positions;
    const nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
    *read = parsed.is_object();
    if (!*read) return positions;
    for (const auto &item : parsed.items()) {
        const nlohmann::json &p = item.value();
        if (!p.is_object() || !p.contains("line") || !p["line"].is_number_integer()) {
            *read = false;
            return {};
        }
        TrailPosition position{item.key(), p["line"].get<long long>(), "", ""};
        if (p.contains("hash") && p["hash"].is_string()) position.hash = p["hash"];
        if (p.contains("sha256") && p["sha256"].is_string()) position.sha256 = p["sha256"];
        positions.push_back(std::move(position));
    }
    return positions;
}

}  // namespace qz45trail
