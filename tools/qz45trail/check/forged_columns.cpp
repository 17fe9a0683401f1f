// An event's columns judged against its own line.
#include "forged_columns.h"

#include <string>

#include "trail_row.h"

namespace qz45trail {
namespace {

std::string TextOf(const Field &f) { return f.null ? std::string() : f.text; }

bool SameTime(const UtcTime &a, const UtcTime &b) {
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
           a.minute == b.minute && a.second == b.second && a.nanoseconds == b.nanoseconds;
}

}  // namespace

void TakeLineValues(Event *e) {
    if (e->lineText.empty()) return;
    Row row;
    std::string why;
    if (!RowFromLine(e->machine, e->line, e->lineText, &row, &why)) {
        e->forged.push_back("line_text");
        return;
    }
    struct TextColumn {
        std::string *shown;
        ColumnIndex column;
    };
    const TextColumn texts[] = {
        {&e->eventClass, kEventClass}, {&e->domain, kDomainName},   {&e->user, kUserName},
        {&e->descriptor, kDescriptor}, {&e->property, kProperty},   {&e->oldType, kOldType},
        {&e->oldValue, kOldValue},     {&e->newType, kNewType},     {&e->newValue, kNewValue},
        {&e->message, kMessage},
    };
    for (const TextColumn &t : texts) {
        const std::string line = TextOf(row[t.column]);
        if (*t.shown == line) continue;
        *t.shown = line;
        if (kColumns[t.column].stored) e->forged.push_back(kColumns[t.column].name);
    }
    // The time of the sample a history change changed.
    const nlohmann::json j = ParseLine(e->lineText);
    const auto sample = j.find("properties");
    if (sample != j.end() && sample->is_object() && sample->contains("History")) {
        const nlohmann::json &history = (*sample)["History"];
        if (history.is_object() && history.contains("utc") && history["utc"].is_string())
            e->hasSample = ParseUtc(history["utc"].get<std::string>(), &e->sample);
    }
    const Field &category = row[kCategory];
    if (e->hasCategory != !category.null || (e->hasCategory && e->category != category.number)) {
        e->hasCategory = !category.null;
        e->category = category.number;
        e->forged.push_back(kColumns[kCategory].name);
    }
    const Field &time = row[kEventTime];
    if (e->hasTime != !time.null || (e->hasTime && !SameTime(e->time, time.time))) {
        e->hasTime = !time.null;
        e->time = time.time;
        e->forged.push_back(kColumns[kEventTime].name);
    }
}

}  // namespace qz45trail
