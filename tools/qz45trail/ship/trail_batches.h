// The trail as a shipper reads it: its files one after another, past the
// lines the database holds, the lines after them into batches of rows.
// Platform-free: the host tier tests it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sha256.h"
#include "ship.h"
#include "trail_row.h"
#include "trail_set.h"

namespace qz45trail {

class TrailBatches {
public:
    TrailBatches(const std::string &file, const std::string &machine, bool follow);

    // Whether the trail is there to be read (its current file, or rotated
    // files a moment after a rotation). A follower waits for it, looking
    // every second, and says why it waits (to say, each time it changes);
    // false with the reason otherwise.
    bool WaitUntilThere(const std::function<void(const std::string &)> &say,
                        std::string *failure) const;

    // Reads the trail anew (its files listed again) past line `through` or,
    // when its files start later (the lines before them were pruned), past
    // the line before their first; returns the line it read through. A
    // trail with fewer lines throws Refusal, one that cannot be read
    // ReadFailure.
    long long Reposition(long long through);

    // The next line, number n, which the database holds already: a follower
    // gives a trail being rotated a few seconds to show it. False at the end.
    bool NextStored(std::string *line, long long n);

    // The lines after line `after`, up to kBatchLines, into rows; a line that
    // stops shipping (not a trail line, too long, files that do not follow
    // on) ends them, said in *stop. A file that cannot be read throws
    // ReadFailure; lines pruned while they were read, Resync.
    void Fill(std::vector<Row> *rows, long long after, std::string *stop);

    // A follower goes on through rotations, and stops (Refusal) when the file
    // it reads is cut back before the `shipped` lines shipped from it.
    void CheckSameFile(long long shipped);

    // The number of the last line read.
    long long Number() const { return reader_->Number(); }
    // Why the files do not go on yet although something is there ("" for
    // the ordinary wait for the next line).
    std::string Waiting() const { return reader_->Waiting(); }
    // Whether the current file ends in a line without its line end yet.
    bool EndsUnfinished() const { return reader_->Unfinished() > 0; }

private:
    bool Next(std::string *line, long long n);

    const std::string file_;
    const std::string machine_;
    const bool follow_;
    std::unique_ptr<TrailSetReader> reader_;
    Sha256 hasher_;
    std::string line_, why_;
};

}  // namespace qz45trail
