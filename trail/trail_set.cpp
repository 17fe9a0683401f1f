#include "trail_set.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "trail_chain.h"
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

namespace qz45trail {

namespace {

// "audit-trail.2026-12-08T101500Z.000000123.jsonl" alone: the trail's name
// and where the file starts.
bool RotatedFileOf(const std::string &path, TrailName *trail, long long *firstLine) {
    const TrailName n = SplitTrailName(path);
    // The stem ends in ".<stamp>.<digits>": take those off to find the trail's.
    const std::size_t digits = n.stem.rfind('.');
    if (digits == std::string::npos || digits < 19) return false;
    const std::size_t stamp = n.stem.rfind('.', digits - 1);
    if (stamp == std::string::npos) return false;
    TrailName t{n.folder, n.stem.substr(0, stamp), n.extension};
    UtcTime when;
    if (!ParseRotatedName(t, n.stem + n.extension, &when, firstLine)) return false;
    *trail = t;
    return true;
}

}  // namespace

TrailSetReader::TrailSetReader(std::string path, bool single)
    : path_(std::move(path)), single_(single) {}

TrailSetReader::~TrailSetReader() = default;

bool TrailSetReader::Open(std::string *error) {
    TrailName trail;
    long long first = 0;
    if (single_ || RotatedFileOf(path_, &trail, &first)) {
        // One file on its own: a rotated one starts where its name says, and
        // what its first line follows is in another file.
        const bool rotated = RotatedFileOf(path_, &trail, &first);
        parts_ = {{path_, SplitTrailName(path_).stem + SplitTrailName(path_).extension,
                   rotated ? first : 1, false}};
        firstLine_ = rotated ? first : 1;
        startPrev_ = firstLine_ == 1 && !rotated ? kChainStart : "";
        if (rotated && first > 1)
            startNote_ = "checked on its own from line " + std::to_string(first) +
                         " of its trail: its first line's link to the line before it is not checked";
        number_ = firstLine_ - 1;
        return OpenPart(0);
    }
    if (!ListTrailSet(path_, &parts_, error)) return false;
    std::vector<PrunedFile> pruned;
    if (!ReadPrunedRecord(path_, &pruned, error)) return false;
    long long prunedThrough = 0;
    std::string prunedHash;
    for (const PrunedFile &p : pruned)
        if (p.lastLine > prunedThrough) prunedThrough = p.lastLine, prunedHash = p.lastHash;
    firstLine_ = parts_.size() > 1 ? parts_[0].firstLine : prunedThrough + 1;
    startPrev_ = kChainStart;
    if (firstLine_ > 1) {
        if (prunedThrough == firstLine_ - 1) {
            startPrev_ = prunedHash;
            startNote_ = "starts at line " + std::to_string(firstLine_) + ": lines 1-" +
                         std::to_string(firstLine_ - 1) + " were pruned (" +
                         PrunedRecordName(SplitTrailName(path_)) + ")";
        } else {
            error_ = "lines " + std::to_string(prunedThrough + 1) + "-" +
                     std::to_string(firstLine_ - 1) + " are missing: the file(s) before " +
                     parts_[0].name + " were removed, and not by prune";
            startPrev_ = "";
        }
    }
    number_ = firstLine_ - 1;
    return OpenPart(0);
}

bool TrailSetReader::OpenPart(std::size_t i) {
    part_ = i;
    reader_.reset();
    file_.reset();
    TrailFile::OpenResult opened;
    std::string error;
    file_ = TrailFile::Open(parts_[i].path, &opened, &error);
    if (file_ == nullptr) {
        // The current file may not be there yet, right after a rotation.
        if (parts_[i].current && opened == TrailFile::OpenResult::kMissing) return true;
        error_ = "cannot read " + parts_[i].path + ": " + error;
        return false;
    }
    reader_ = std::make_unique<TrailReader>(*file_);
    starts_.push_back({number_ + 1, parts_[i].current ? "" : parts_[i].name});
    return true;
}

// Opens the current file, part i; should the name have been rotated between
// the listing and the opening, the rotated file that starts right after what
// was read is the one that goes on, not the new current file.
bool TrailSetReader::OpenCurrent(std::size_t i) {
    if (!OpenPart(i)) return false;
    std::vector<TrailPart> now;
    std::string why;
    if (!ListTrailSet(path_, &now, &why)) return true;  // the next look finds out
    for (const TrailPart &p : now) {
        if (p.current || p.firstLine != number_ + 1) continue;
        FileIdentity mine, theirs;
        if (reader_ != nullptr && file_->Identity(&mine, &why) &&
            TrailFile::IdentityOf(p.path, &theirs, &why) == TrailFile::OpenResult::kOpened &&
            mine == theirs)
            break;  // opened before it was renamed: the right file already
        if (reader_ != nullptr) starts_.pop_back();
        parts_.insert(parts_.begin() + static_cast<long>(i), p);
        return OpenPart(i);
    }
    return true;
}

LineResult TrailSetReader::Next(std::string *line) {
    if (!started_) {
        started_ = true;
        if (startPrev_.empty() && !error_.empty()) return LineResult::kBroken;
    }
    for (;;) {
        if (reader_ == nullptr) {
            if (!error_.empty()) return LineResult::kError;
            return LineResult::kEnd;  // the current file is not there (yet)
        }
        const LineResult r = reader_->Next(line);
        if (r == LineResult::kLine) {
            ++number_;
            return r;
        }
        if (r != LineResult::kEnd) {
            error_ = reader_->Error();
            return r;
        }
        if (parts_[part_].current || part_ + 1 >= parts_.size()) return LineResult::kEnd;
        // The end of a rotated file: whole, and the next file begins right after it.
        if (reader_->Unfinished() > 0) {
            error_ = parts_[part_].name + " ends in an unfinished line: a rotated file is whole";
            return LineResult::kBroken;
        }
        // Files may have rotated since they were listed: the file that goes
        // on is the one whose name says it starts right after this one, or,
        // when none does, the current one. Listed anew when that is next.
        if (parts_[part_ + 1].current && !single_) {
            std::vector<TrailPart> now;
            std::string why;
            if (!ListTrailSet(path_, &now, &why)) {
                error_ = why;
                return LineResult::kError;
            }
            std::vector<TrailPart> kept(parts_.begin(), parts_.begin() + static_cast<long>(part_) + 1);
            for (const TrailPart &p : now)
                if (p.current || p.firstLine > parts_[part_].firstLine) kept.push_back(p);
            parts_ = std::move(kept);
        }
        const TrailPart &next = parts_[part_ + 1];
        if (!next.current && next.firstLine != number_ + 1) {
            error_ = next.firstLine > number_ + 1
                         ? "lines " + std::to_string(number_ + 1) + "-" +
                               std::to_string(next.firstLine - 1) + " are missing: a file between " +
                               parts_[part_].name + " and " + next.name + " was removed"
                         : next.name + " starts at line " + std::to_string(next.firstLine) + ", but " +
                               parts_[part_].name + " ends at line " + std::to_string(number_) +
                               ": the files are out of order, or one was copied";
            return LineResult::kBroken;
        }
        if (!(parts_[part_ + 1].current ? OpenCurrent(part_ + 1) : OpenPart(part_ + 1)))
            return LineResult::kError;
    }
}

std::string TrailSetReader::Where(long long line) const {
    for (auto s = starts_.rbegin(); s != starts_.rend(); ++s) {
        if (line < s->first) continue;
        if (s->second.empty()) return "";
        return s->second + " line " + std::to_string(line - s->first + 1);
    }
    return "";
}

bool TrailSetReader::CutShort() {
    uint64_t size = 0;
    std::string error;
    return reader_ != nullptr && file_->Size(&size, &error) && size < reader_->Offset();
}

uint64_t TrailSetReader::Unfinished() const {
    return reader_ != nullptr && parts_[part_].current ? reader_->Unfinished() : 0;
}

bool TrailSetReader::FollowRotation(std::string *why) {
    if (reader_ == nullptr) {
        // The current file was not there: it may be now, after files rotated
        // from it meanwhile. Go on with the first file after what was read.
        std::vector<TrailPart> parts;
        if (!ListTrailSet(path_, &parts, why)) return false;
        std::vector<TrailPart> kept(parts_.begin(), parts_.begin() + static_cast<long>(part_));
        for (const TrailPart &p : parts)
            if (p.current || p.firstLine > number_) kept.push_back(p);
        if (kept.size() > part_ && !kept[part_].current && kept[part_].firstLine != number_ + 1) {
            *why = "lost lines " + std::to_string(number_ + 1) + "-" +
                   std::to_string(kept[part_].firstLine - 1) + " (" + kept[part_].name + " follows)";
            return false;
        }
        parts_ = std::move(kept);
        return (parts_[part_].current ? OpenCurrent(part_) : OpenPart(part_)) ||
               (*why = error_, false);
    }
    FileIdentity mine, named;
    std::string error;
    if (!file_->Identity(&mine, &error)) {
        *why = error;
        return false;
    }
    const TrailFile::OpenResult now = TrailFile::IdentityOf(path_, &named, &error);
    if (now == TrailFile::OpenResult::kOpened && named == mine) return true;  // nothing happened
    // Renamed: look for it among the rotated files.
    std::vector<TrailPart> parts;
    if (!ListTrailSet(path_, &parts, why)) return false;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        FileIdentity id;
        if (TrailFile::IdentityOf(parts[i].path, &id, &error) != TrailFile::OpenResult::kOpened ||
            id != mine)
            continue;
        // Read on through it: what is kept from the earlier list is what was
        // read already.
        std::vector<TrailPart> kept(parts_.begin(), parts_.begin() + static_cast<long>(part_));
        for (std::size_t j = i; j < parts.size(); ++j) kept.push_back(parts[j]);
        parts_ = std::move(kept);
        if (!starts_.empty()) starts_.back().second = parts_[part_].name;
        return true;
    }
    *why = now == TrailFile::OpenResult::kMissing ? "was removed or renamed"
                                                  : "was replaced by another file";
    return false;
}

}  // namespace qz45trail
