#include "trail_set.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "trail_file.h"

namespace qz45trail {

TrailName SplitTrailName(const std::string &path) {
    TrailName n;
    const std::size_t slash = path.find_last_of("/\\");
    n.folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = path.substr(n.folder.size());
    const std::size_t dot = name.rfind('.');
    n.stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    n.extension = name.substr(n.stem.size());
    return n;
}

std::string RotatedName(const TrailName &trail, const UtcTime &t, long long firstLine) {
    char text[96];
    std::snprintf(text, sizeof text, ".%04d-%02d-%02dT%02d%02d%02dZ.%09lld", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, firstLine);
    return trail.stem + text + trail.extension;
}

bool ParseRotatedName(const TrailName &trail, const std::string &name, UtcTime *firstTime,
                      long long *firstLine) {
    // <stem>.YYYY-MM-DDTHHMMSSZ.NNNNNNNNN<extension>
    const std::size_t head = trail.stem.size() + 1, stamp = 18;
    if (name.size() < head + stamp + 1 + 9 + trail.extension.size() ||
        name.compare(0, trail.stem.size(), trail.stem) != 0 || name[trail.stem.size()] != '.' ||
        name.compare(name.size() - trail.extension.size(), std::string::npos, trail.extension) != 0)
        return false;
    const std::string t = name.substr(head, stamp);
    const std::string iso = t.substr(0, 13) + ":" + t.substr(13, 2) + ":" + t.substr(15, 3);
    UtcTime when;
    if (!ParseUtc(iso, &when) || name[head + stamp] != '.') return false;
    const std::string digits =
        name.substr(head + stamp + 1, name.size() - trail.extension.size() - head - stamp - 1);
    if (digits.size() < 9 || digits.size() > 18 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *firstTime = when;
    *firstLine = std::stoll(digits);
    return *firstLine > 0;
}

std::string PrunedRecordName(const TrailName &trail) {
    return trail.stem + ".pruned" + trail.extension;
}

bool ListTrailSet(const std::string &path, std::vector<TrailPart> *parts, std::string *error) {
    const TrailName trail = SplitTrailName(path);
    std::vector<std::string> names;
    if (!ListFolder(trail.folder, &names, error)) return false;
    parts->clear();
    for (const std::string &name : names) {
        UtcTime when;
        long long first = 0;
        if (ParseRotatedName(trail, name, &when, &first))
            parts->push_back({trail.folder + name, name, first, false});
    }
    std::sort(parts->begin(), parts->end(), [](const TrailPart &a, const TrailPart &b) {
        return a.firstLine != b.firstLine ? a.firstLine < b.firstLine : a.name < b.name;
    });
    parts->push_back({path, trail.stem + trail.extension, 0, true});
    return true;
}

bool ReadPrunedRecord(const std::string &path, std::vector<PrunedFile> *pruned, std::string *error) {
    const TrailName trail = SplitTrailName(path);
    const std::string record = trail.folder + PrunedRecordName(trail);
    pruned->clear();
    TrailFile::OpenResult opened;
    const std::unique_ptr<TrailFile> file = TrailFile::Open(record, &opened, error);
    if (file == nullptr) return opened == TrailFile::OpenResult::kMissing;
    TrailReader reader(*file);
    std::string line;
    for (TrailReader::Result r; (r = reader.Next(&line)) != TrailReader::Result::kEnd;) {
        if (r != TrailReader::Result::kLine) {
            *error = record + ": " + (r == TrailReader::Result::kError ? reader.Error() : "a line too long");
            return false;
        }
        const nlohmann::json j = ParseLine(line);
        if (!j.is_object() || !j.contains("file") || !j["file"].is_string() ||
            !j.contains("first_line") || !j["first_line"].is_number_integer() ||
            !j.contains("last_line") || !j["last_line"].is_number_integer() ||
            !j.contains("last_hash") || !j["last_hash"].is_string()) {
            *error = record + ": a line that is not a record of a pruned file";
            return false;
        }
        pruned->push_back({j["file"].get<std::string>(), j["first_line"].get<long long>(),
                           j["last_line"].get<long long>(), j["last_hash"].get<std::string>()});
    }
    return true;
}

}  // namespace qz45trail
