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

#include <string>
#include <vector>

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
