// Reading a rotated file of the trail whole, for prune.
#include "rotated_file.h"

#include <memory>

#include <nlohmann/json.hpp>

#include "trail_chain.h"
#include "trail_file.h"
#include "trail_lines.h"
#include "trail_row.h"

namespace qz45trail {

bool ReadRotatedFile(const TrailPart &part, RotatedFile *rotated, std::string *why) {
    TrailFile::OpenResult opened;
    const std::unique_ptr<TrailFile> file = TrailFile::Open(part.path, &opened, why);
    if (file == nullptr) return false;
    TrailReader reader(*file);
    rotated->part = part;
    std::string line;
    for (LineResult r; (r = reader.Next(&line)) != LineResult::kEnd;) {
        if (r != LineResult::kLine) {
            *why = part.name + ": " +
                   (r == LineResult::kError ? reader.Error() : "a line too long");
            return false;
        }
        rotated->lines.push_back(line);
    }
    if (reader.Unfinished() > 0 || rotated->lines.empty()) {
        *why = part.name +
               (rotated->lines.empty() ? " holds no line" : " ends in an unfinished line");
        return false;
    }
    ChainedLine last;
    if (!SplitChainedLine(rotated->lines.back(), &last)) {
        *why = part.name + ": its last line has no chain members";
        return false;
    }
    rotated->lastLine = part.firstLine + static_cast<long long>(rotated->lines.size()) - 1;
    rotated->lastHash = last.hash;
    const nlohmann::json j = ParseLine(rotated->lines.back());
    rotated->lastSubmitted = j.is_object() && j.contains("submitted") && j["submitted"].is_string()
                           ? j["submitted"].get<std::string>()
                           : "";
    return true;
}

}  // namespace qz45trail
