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
        const bool action = j.contains("action") && j["action"].is_string();
        pruned->push_back({j["file"].get<std::string>(), j["first_line"].get<long long>(),
                           j["last_line"].get<long long>(), j["last_hash"].get<std::string>(),
                           action ? j["action"].get<std::string>() : "deleted"});
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

std::string Lines(long long from, long long to) {
    return from == to ? "line " + std::to_string(from)
                      : "lines " + std::to_string(from) + "-" + std::to_string(to);
}

// Listings once: the pauses before the second, third, ... listing, about a
// second in all, spent only when the files do not follow on.
constexpr unsigned kOncePauses[] = {20, 50, 100, 250, 500};
// A follower lists again at its next look; within one look, once more.
constexpr unsigned kFollowPauses[] = {20};

// The rotated files of a listing that are not recorded as pruned, in order of
// their first lines.
std::vector<TrailPart> RotatedParts(const TrailName &trail, const std::vector<std::string> &names,
                                    const std::vector<PrunedFile> &pruned) {
    std::vector<TrailPart> parts;
    for (const std::string &name : names) {
        UtcTime when;
        long long first = 0;
        if (!ParseRotatedName(trail, name, &when, &first)) continue;
        bool recorded = false;
        for (const PrunedFile &p : pruned) recorded = recorded || p.name == name;
        if (!recorded) parts.push_back({trail.folder + name, name, first, false});
    }
    std::sort(parts.begin(), parts.end(), [](const TrailPart &a, const TrailPart &b) {
        return a.firstLine != b.firstLine ? a.firstLine < b.firstLine : a.name < b.name;
    });
    return parts;
}

long long PrunedThrough(const std::vector<PrunedFile> &pruned, std::string *hash) {
    long long through = 0;
    for (const PrunedFile &p : pruned)
        if (p.lastLine > through) through = p.lastLine, *hash = p.lastHash;
    return through;
}

}  // namespace

TrailSetReader::TrailSetReader(std::string path, bool single, bool follow)
    : path_(std::move(path)), trail_(SplitTrailName(path_)), single_(single), follow_(follow),
      list_(ListFolder), pause_(PauseMs) {}

TrailSetReader::~TrailSetReader() = default;

void TrailSetReader::UseLister(Lister lister, std::function<void(unsigned)> pause) {
    list_ = std::move(lister);
    pause_ = std::move(pause);
}

bool TrailSetReader::ReadRecord(std::string *why) {
    return ReadPrunedRecord(path_, &pruned_, why);
}

void TrailSetReader::Adopt(std::unique_ptr<TrailFile> file, const std::string &name, bool current) {
    file_ = std::move(file);
    reader_ = std::make_unique<TrailReader>(*file_);
    current_ = current;
    fileName_ = name;
    fileStart_ = number_ + 1;
    fileFirst_.clear();
    std::string why;
    fileIdKnown_ = file_->Identity(&fileId_, &why);
    starts_.push_back({fileStart_, name});
}

bool TrailSetReader::Open(std::string *error) {
    TrailName trail;
    long long first = 0;
    if (single_ || RotatedFileOf(path_, &trail, &first)) {
        // One file on its own: a rotated one starts where its name says, and
        // what its first line follows is in another file.
        const bool rotated = RotatedFileOf(path_, &trail, &first);
        firstLine_ = rotated ? first : 1;
        startPrev_ = firstLine_ == 1 && !rotated ? kChainStart : "";
        if (rotated && first > 1)
            startNote_ = "checked on its own from line " + std::to_string(first) +
                         " of its trail: its first line's link to the line before it is not checked";
        number_ = firstLine_ - 1;
        single_ = true;
        TrailFile::OpenResult opened;
        std::string why;
        std::unique_ptr<TrailFile> file = TrailFile::Open(path_, &opened, &why);
        if (file == nullptr) {
            *error = "cannot read " + path_ + ": " + why;
            return false;
        }
        Adopt(std::move(file), rotated ? trail_.stem + trail_.extension : "", !rotated);
        return true;
    }
    // Where the files start: right after the pruned lines. A file seen
    // before it is recorded as pruned, or a listing that misses the first
    // file, does not count until the listings agree.
    std::vector<TrailPart> parts;
    std::vector<std::string> names;
    std::string prunedHash;
    long long prunedThrough = 0;
    for (std::size_t attempt = 0;; ++attempt) {
        if (attempt > 0) pause_(kOncePauses[attempt - 1]);
        if (!list_(trail_.folder, &names, error) || !ReadRecord(error)) return false;
        parts = RotatedParts(trail_, names, pruned_);
        prunedThrough = PrunedThrough(pruned_, &prunedHash);
        if (parts.empty() || parts[0].firstLine == prunedThrough + 1) break;
        if (attempt == sizeof kOncePauses / sizeof *kOncePauses) break;
    }
    firstLine_ = prunedThrough + 1;
    startPrev_ = prunedThrough > 0 ? prunedHash : kChainStart;
    if (prunedThrough > 0)
        startNote_ = "starts at line " + std::to_string(firstLine_) + ": " +
                     Lines(1, prunedThrough) + " were pruned (" + PrunedRecordName(trail_) + ")";
    if (!parts.empty() && parts[0].firstLine != firstLine_) {
        startPrev_ = "";
        if (parts[0].firstLine > firstLine_) {
            startError_ = Lines(firstLine_, parts[0].firstLine - 1) + " are missing: the file(s) before " +
                          parts[0].name + " were removed, and not by prune";
            firstLine_ = parts[0].firstLine;
        } else {
            startError_ = parts[0].name + " starts at line " + std::to_string(parts[0].firstLine) +
                          ", within the lines recorded as pruned (" + Lines(1, prunedThrough) +
                          "): the files are out of order, or one was copied";
        }
    }
    for (const PrunedFile &p : pruned_)
        for (const std::string &name : names)
            if (name == p.name)
                startNote_ += std::string(startNote_.empty() ? "" : "; ") + name +
                              " is recorded as pruned but still there: its lines are the "
                              "record's, and the next prune removes it";
    number_ = firstLine_ - 1;
    lastHash_ = startPrev_;
    return true;
}

bool TrailSetReader::StillNamed() {
    FileIdentity named;
    std::string why;
    switch (TrailFile::IdentityOf(path_, &named, &why)) {
    case TrailFile::OpenResult::kOpened: return !fileIdKnown_ || named == fileId_;
    case TrailFile::OpenResult::kMissing: return false;
    case TrailFile::OpenResult::kFailed: return true;  // cannot tell now: asked again later
    }
    return true;
}

LineResult TrailSetReader::Next(std::string *line) {
    if (!started_) {
        started_ = true;
        if (!startError_.empty()) {
            error_ = startError_;
            return LineResult::kBroken;
        }
    }
    for (;;) {
        if (reader_ == nullptr) {
            if (single_) return LineResult::kEnd;
            const LineResult r = Advance();
            if (r != LineResult::kLine) return r;
            continue;
        }
        const LineResult r = reader_->Next(line);
        if (r == LineResult::kLine) {
            if (++number_ == fileStart_) fileFirst_ = *line;
            ChainedLine chained;
            lastHash_ = SplitChainedLine(*line, &chained) ? chained.hash : "";
            return r;
        }
        if (r != LineResult::kEnd) {
            error_ = reader_->Error();
            return r;
        }
        if (single_) return LineResult::kEnd;
        if (current_) {
            if (StillNamed()) return LineResult::kEnd;
            // Renamed (rotated), removed or replaced: never written again
            // under its old name. What it holds is read to its end.
            current_ = false;
            continue;
        }
        // The end of a file that is no longer the current one: whole.
        if (reader_->Unfinished() > 0) {
            error_ = (fileName_.empty() ? trail_.stem + trail_.extension : fileName_) +
                     " ends in an unfinished line, after " + Lines(fileStart_, number_) +
                     ": a rotated file is whole";
            return LineResult::kBroken;
        }
        reader_.reset();
        file_.reset();
    }
}

// Finds and opens the file that holds line number_ + 1: kLine when it is
// open, kEnd to wait for it, kBroken or kError with error_.
LineResult TrailSetReader::Advance() {
    const long long expected = number_ + 1;
    const std::string after = starts_.empty() ? std::string()
                              : starts_.back().second.empty() ? trail_.stem + trail_.extension
                                                              : starts_.back().second;
    const long long afterStart = starts_.empty() ? firstLine_ - 1 : starts_.back().first;
    const unsigned *pauses = follow_ ? kFollowPauses : kOncePauses;
    const std::size_t listings = 1 + (follow_ ? sizeof kFollowPauses / sizeof *kFollowPauses
                                              : sizeof kOncePauses / sizeof *kOncePauses);
    std::string evidence;     // why the files do not seem to follow on
    bool settled = false;     // evidence that no later listing can change
    bool unreadable = false;  // evidence is a file that could not be read: this one
    std::string unreadableName;
    waiting_.clear();
    for (std::size_t attempt = 0; attempt < listings; ++attempt) {
        if (attempt > 0) pause_(pauses[attempt - 1]);
        std::vector<std::string> names;
        std::string why;
        if (!list_(trail_.folder, &names, &why) || !ReadRecord(&why)) {
            if (follow_) {
                waiting_ = why;
                return LineResult::kEnd;
            }
            error_ = why;
            return LineResult::kError;
        }
        // Lines pruned while the trail was read: read again from its start.
        for (const PrunedFile &p : pruned_)
            if (p.firstLine <= expected && expected <= p.lastLine) {
                prunedMeanwhile_ = true;
                error_ = Lines(expected, p.lastLine) + " were pruned (" + p.name +
                         ") while the trail was read: read it again";
                return LineResult::kBroken;
            }
        evidence.clear();
        settled = unreadable = false;
        bool wait = false;  // nothing there yet: the ordinary wait
        const std::vector<TrailPart> parts = RotatedParts(trail_, names, pruned_);
        const TrailPart *next = nullptr;
        for (const TrailPart &p : parts) {
            // The file read as the current one, under the name it was rotated to.
            if (p.firstLine == afterStart && !starts_.empty() && starts_.back().second.empty())
                starts_.back().second = p.name;
            if (p.firstLine > afterStart) {
                next = &p;
                break;
            }
        }
        if (next != nullptr && next->firstLine == expected) {
            TrailFile::OpenResult opened;
            std::unique_ptr<TrailFile> file = TrailFile::Open(next->path, &opened, &why);
            if (file != nullptr) {
                Adopt(std::move(file), next->name, false);
                return LineResult::kLine;
            }
            // Removed (or on its way out) since the listing: the pruned
            // record or the next listing tells.
            evidence = why;
            unreadable = true;
            unreadableName = next->name;
        } else if (next != nullptr && next->firstLine < expected) {
            evidence = next->name + " starts at line " + std::to_string(next->firstLine) + ", but " +
                       after + " ends at line " + std::to_string(number_) +
                       ": the files are out of order, or one was copied";
            settled = true;
        } else if (next != nullptr) {
            evidence = after.empty()
                           ? Lines(expected, next->firstLine - 1) + " are missing: the file(s) "
                             "before " + next->name + " were removed, and not by prune"
                           : Lines(expected, next->firstLine - 1) + " are missing: " + after +
                                 " ends at line " + std::to_string(number_) + " and " +
                                 next->name + " starts at line " +
                                 std::to_string(next->firstLine) + " (a file between them was "
                                 "removed, or lines were removed from the end of " + after + ")";
        } else {
            // The current file goes on when its first line chains to the
            // last line read.
            TrailFile::OpenResult opened;
            std::unique_ptr<TrailFile> file = TrailFile::Open(path_, &opened, &why);
            const std::string name = trail_.stem + trail_.extension;
            FileIdentity id;
            std::string first;
            bool complete = false;
            if (file == nullptr) {
                if (opened == TrailFile::OpenResult::kMissing) {
                    wait = true;
                } else {
                    evidence = why;
                    unreadable = true;
                    unreadableName = name;
                }
            } else if (fileIdKnown_ && !starts_.empty() && file->Identity(&id, &why) && id == fileId_) {
                wait = true;  // the file just read, still under the name: asked again later
            } else if (!ReadFirstLine(*file, &first, &complete, &why)) {
                evidence = why;
                unreadable = true;
                unreadableName = name;
            } else if (!complete) {
                wait = true;  // begun a moment ago: its first line is on its way
            } else {
                DropCarriageReturn(&first);
                ChainedLine c;
                const bool chained = SplitChainedLine(first, &c);
                // The trail's first file: once the listings agree that no
                // rotated file comes first, its chain is the chain check's
                // to judge (a head removed, lines before chaining).
                const bool firstFile = starts_.empty() && attempt + 1 == listings;
                if (lastHash_.empty() || (chained && c.prev == lastHash_) || firstFile) {
                    Adopt(std::move(file), "", true);
                    return LineResult::kLine;
                }
                if (!starts_.empty() &&
                    ((chained && c.prev == kChainStart) || first == fileFirst_)) {
                    error_ = name + " was replaced by another file: it begins the trail anew, "
                             "after " + std::to_string(number_) + " line(s) read";
                    return LineResult::kBroken;
                }
                evidence = name + " does not go on from line " + std::to_string(number_) +
                           (after.empty() ? "" : " (the last line of " + after + ")") +
                           ": its first line follows another line (a file that held " +
                           Lines(expected, expected) + " on was removed, or " + name +
                           " was replaced)";
            }
        }
        if (settled) break;
        // Nothing there yet: listed once more in case a rotation hid a file.
        if (wait && attempt >= 1) return LineResult::kEnd;
    }
    if (evidence.empty()) return LineResult::kEnd;
    if (follow_ && !settled) {
        waiting_ = unreadable ? "cannot read " + unreadableName + ": " + evidence : evidence;
        return LineResult::kEnd;
    }
    // A rotated file that cannot be read is named; the current one is the
    // trail's own name, which the caller says.
    error_ = unreadable && unreadableName != trail_.stem + trail_.extension
                 ? unreadableName + ": " + evidence
                 : evidence;
    return unreadable ? LineResult::kError : LineResult::kBroken;
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
    return reader_ != nullptr && current_ ? reader_->Unfinished() : 0;
}

}  // namespace qz45trail
