// A trail across files. The writer rotates: it renames the current file
// (say audit-trail.jsonl) to a name that says where it starts and begins a
// new one under the current name, chained to the last line of the old one.
// A rotated file is never written again.
//
//   audit-trail.2026-12-08T101500Z.000000123.jsonl
//   <stem>.<its first line's submitted time, UTC>.<its first line's position
//   in the whole trail, 9 digits or more><extension>
//
// Readers take the rotated files beside the current one, in order of their
// first lines, and the current one last, as one trail. Files removed by
// qz45trail prune are recorded in "<stem>.pruned<extension>", one JSON line
// each: the file's name, its first and last line, the last line's hash.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "trail_file.h"
#include "trail_lines.h"
#include "trail_row.h"

namespace qz45trail {

// The parts of a trail's current file name: "dir/audit-trail.jsonl" has the
// folder "dir/", the stem "audit-trail" and the extension ".jsonl".
struct TrailName {
    std::string folder, stem, extension;
};
TrailName SplitTrailName(const std::string &path);

// The name a rotated file gets (no folder).
std::string RotatedName(const TrailName &trail, const UtcTime &firstTime, long long firstLine);

// Whether name is a rotated file of the trail, and where it starts.
bool ParseRotatedName(const TrailName &trail, const std::string &name, UtcTime *firstTime,
                      long long *firstLine);

// The record of pruned files.
std::string PrunedRecordName(const TrailName &trail);

struct TrailPart {
    std::string path;        // folder and name
    std::string name;
    long long firstLine = 0; // rotated: from its name; current: 0 (after the rotated ones)
    bool current = false;
};

// The rotated files of the trail whose current file is path, in order of
// their first lines (those of other trails and other names left out), then
// the current file itself (whether it exists or not). False, with the reason,
// when the folder cannot be listed.
bool ListTrailSet(const std::string &path, std::vector<TrailPart> *parts, std::string *error);

// The names in a folder ("" for the current one); platform code.
bool ListFolder(const std::string &folder, std::vector<std::string> *names, std::string *error);

// One line of the pruned record.
struct PrunedFile {
    std::string name;
    long long firstLine = 0, lastLine = 0;
    std::string lastHash;  // the chain hash of its last line
};

// Reads the pruned record beside the trail (none: an empty list). False,
// with the reason, when it is there but does not read.
bool ReadPrunedRecord(const std::string &path, std::vector<PrunedFile> *pruned, std::string *error);

}  // namespace qz45trail

namespace qz45trail {

// Reads a trail's lines across its files, in order, numbered across them:
// the rotated files beside the current one, then the current one. Between
// files it checks that each begins where the one before it ended (kBroken
// otherwise: a file missing, out of order, or one that ends unfinished).
class TrailSetReader : public LineSource {
public:
    // The trail whose current file is path; with single, path alone.
    explicit TrailSetReader(std::string path, bool single = false);
    ~TrailSetReader() override;
    TrailSetReader(const TrailSetReader &) = delete;
    TrailSetReader &operator=(const TrailSetReader &) = delete;

    // Lists the files and reads the pruned record; false with the reason.
    // kBroken from the first Next() when the lines before the first file
    // are gone without a record of their pruning.
    bool Open(std::string *error);

    // The number of the first line the files hold (1, or the first after
    // pruned lines; a rotated file read alone starts where its name says),
    // and the hash that line follows ("" when it cannot be known).
    long long FirstLine() const { return firstLine_; }
    const std::string &StartPrev() const { return startPrev_; }
    // Why the trail starts after line 1, or "".
    std::string StartNote() const { return startNote_; }

    LineResult Next(std::string *line) override;
    std::string Error() const override { return error_; }

    long long Number() const { return number_; }  // of the last line yielded
    // "audit-trail.2026-12-08T101500Z.000000123.jsonl line 5" for a line of
    // a rotated file, "" for the current one or when unknown.
    std::string Where(long long line) const;
    // Bytes of an unfinished line at the end of the current file, as seen at
    // the last kEnd.
    uint64_t Unfinished() const;
    // The files, once Open.
    std::size_t Files() const { return parts_.size(); }

    // For a follower at the end of the current file: when its name now
    // stands for another file, and the one read so far was rotated (found
    // under a rotated name), reading goes on through it into the new
    // current file (true). False when the file was removed or replaced.
    bool FollowRotation(std::string *why);
    // Whether the file being read is now shorter than what was read of it.
    bool CutShort();

private:
    bool OpenPart(std::size_t i);
    bool OpenCurrent(std::size_t i);

    std::string path_;
    bool single_;
    std::vector<TrailPart> parts_;
    std::vector<std::pair<long long, std::string>> starts_;  // first line of each file read
    std::size_t part_ = 0;
    std::unique_ptr<TrailFile> file_;
    std::unique_ptr<TrailReader> reader_;
    long long firstLine_ = 1, number_ = 0;
    std::string startPrev_, startNote_, error_;
    bool started_ = false;
};

}  // namespace qz45trail
