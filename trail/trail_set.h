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

#include <functional>
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
    std::string action;    // "deleted", or "moved to <folder>"
};

// Reads the pruned record beside the trail (none: an empty list). False,
// with the reason, when it is there but does not read.
bool ReadPrunedRecord(const std::string &path, std::vector<PrunedFile> *pruned, std::string *error);

}  // namespace qz45trail

namespace qz45trail {

// A pause between two listings of a folder; platform code.
void PauseMs(unsigned ms);

// Reads a trail's lines across its files, in order, numbered across them:
// the rotated files beside the current one, then the current one.
//
// Writers rename the current file while it is read, and one listing of the
// folder can miss a file renamed during it. So nothing is concluded from one
// listing: a file is taken as the one that goes on by its name (a rotated
// file that starts right after the last line read) or, for the current file,
// by its first line, which must chain to the last line read; when neither is
// there, the folder is listed again before anything is said. A file that is
// read goes on being read through its own handle when it is renamed or
// removed meanwhile, and the current file, once its name stands for another
// file, is read to its end and left: a rotated file is never written again.
//
// Once (verify, view, ship without follow): what the listings still show
// after a few tries, spread over about a second, is the verdict. Follow:
// only what cannot be a file still on its way (a trail begun anew under the
// current name, files that overlap, a rotated file that ends unfinished) is
// a verdict; anything else is waited for, and Waiting() says what.
//
// Rotated files recorded as pruned that are still there (a prune that could
// not remove one, or was stopped before it did) are not read: their lines
// are the pruned record's.
class TrailSetReader : public LineSource {
public:
    // The trail whose current file is path; with single, path alone.
    explicit TrailSetReader(std::string path, bool single = false, bool follow = false);
    ~TrailSetReader() override;
    TrailSetReader(const TrailSetReader &) = delete;
    TrailSetReader &operator=(const TrailSetReader &) = delete;

    // The folder's listing and the pause between listings; the tests' own
    // listing may miss files as a real one can.
    using Lister =
        std::function<bool(const std::string &folder, std::vector<std::string> *, std::string *)>;
    void UseLister(Lister lister, std::function<void(unsigned)> pause);

    // Lists the files and reads the pruned record; false with the reason.
    // kBroken from the first Next() when the lines before the first file
    // are gone without a record of their pruning.
    bool Open(std::string *error);

    // The number of the first line the files hold (1, or the first after
    // pruned lines; a rotated file read alone starts where its name says),
    // and the hash that line follows ("" when it cannot be known).
    long long FirstLine() const { return firstLine_; }
    const std::string &StartPrev() const { return startPrev_; }
    // Why the trail starts after line 1, and rotated files recorded as
    // pruned that are still there; "" when there is nothing to say.
    std::string StartNote() const { return startNote_; }

    LineResult Next(std::string *line) override;
    std::string Error() const override { return error_; }

    // Follow, at kEnd: why the files do not go on yet although something
    // seems to be there ("" for the ordinary wait for the next line).
    std::string Waiting() const { return waiting_; }
    // After kBroken: the lines that come next were pruned while the trail
    // was read; reading it again from its start goes on after them.
    bool PrunedMeanwhile() const { return prunedMeanwhile_; }

    long long Number() const { return number_; }  // of the last line yielded
    // "audit-trail.2026-12-08T101500Z.000000123.jsonl line 5" for a line of
    // a file read under a rotated name, "" for the current one or when unknown.
    std::string Where(long long line) const;
    // Bytes of an unfinished line at the end of the current file, as seen at
    // the last kEnd.
    uint64_t Unfinished() const;
    // The files read so far.
    std::size_t Files() const { return starts_.size(); }
    // Whether the file being read is now shorter than what was read of it.
    bool CutShort();

private:
    LineResult Advance();
    bool StillNamed();
    bool ReadRecord(std::string *why);
    void Adopt(std::unique_ptr<TrailFile> file, const std::string &name, bool current);

    std::string path_;
    TrailName trail_;
    bool single_, follow_;
    Lister list_;
    std::function<void(unsigned)> pause_;
    std::vector<PrunedFile> pruned_;

    std::unique_ptr<TrailFile> file_;
    std::unique_ptr<TrailReader> reader_;
    bool current_ = false;            // the open file was taken as the current file
    std::string fileName_;            // its name as found ("" for the current file)
    long long fileStart_ = 0;         // its first line's number
    std::string fileFirst_;           // its first line
    FileIdentity fileId_;
    bool fileIdKnown_ = false;

    std::vector<std::pair<long long, std::string>> starts_;  // first line of each file read
    long long firstLine_ = 1, number_ = 0;
    std::string lastHash_;  // the chain hash of line number_ ("" when not chained)
    std::string startPrev_, startNote_, startError_, error_, waiting_;
    bool started_ = false, prunedMeanwhile_ = false;
};

}  // namespace qz45trail
