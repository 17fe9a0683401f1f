// Reading the trail into batches of rows for the shipper.
#include "trail_batches.h"

#include "ship_errors.h"
#include "trail_file.h"

namespace qz45trail {

TrailBatches::TrailBatches(const std::string &file, const std::string &machine, bool follow)
    : file_(file), machine_(machine), follow_(follow) {}

bool TrailBatches::WaitUntilThere(const std::function<void(const std::string &)> &say,
                                  std::string *failure) const {
    std::string said;
    for (;;) {
        std::vector<TrailPart> parts;
        std::string error;
        FileIdentity id;
        const TrailFile::OpenResult named = TrailFile::IdentityOf(file_, &id, &error);
        if (named == TrailFile::OpenResult::kOpened) return true;
        if (named == TrailFile::OpenResult::kMissing && ListTrailSet(file_, &parts, &error) &&
            parts.size() > 1)
            return true;  // rotated a moment ago: the new file comes with the next line
        if (!follow_) {
            *failure = "cannot read " + file_ + ": " + error;
            return false;
        }
        // A follower waits for a trail to appear, or to be readable.
        const std::string now = named == TrailFile::OpenResult::kMissing
                                    ? "waiting for " + file_ + " to appear"
                                    : "cannot read " + file_ + ": " + error +
                                          "; looking again every second";
        if (now != said) {
            say(now);
            said = now;
        }
        PauseMs(1000);
    }
}

long long TrailBatches::Reposition(long long through) {
    reader_ = std::make_unique<TrailSetReader>(file_, false, follow_);
    std::string error;
    if (!reader_->Open(&error)) throw ReadFailure(error);
    // The lines before the files' first were pruned: the database must hold
    // them (which the caller checks before anything is shipped).
    if (through < reader_->FirstLine() - 1) through = reader_->FirstLine() - 1;
    while (reader_->Number() < through) {
        const long long n = reader_->Number() + 1;
        if (!NextStored(&line_, n))
            throw Refusal(file_ + " has fewer lines than the " + std::to_string(through) +
                          " shipped from it: it was cut off or replaced; stopped");
    }
    return through;
}

// The next whole line, false at the end; a read failure, a line too long
// for a trail or files that do not follow on from one another throw.
bool TrailBatches::Next(std::string *line, long long n) {
    switch (reader_->Next(line)) {
    case LineResult::kLine: return true;
    case LineResult::kEnd: return false;
    case LineResult::kTooLong:
        throw Refusal(file_ + " line " + std::to_string(n) +
                      " is longer than any trail line: shipping stops there, the " +
                      std::to_string(n - 1) + " line(s) before it are in the database");
    case LineResult::kBroken:
        if (reader_->PrunedMeanwhile()) throw Resync(reader_->Error());
        throw Refusal(file_ + ": " + reader_->Error() + "; shipping stops at line " +
                      std::to_string(n));
    case LineResult::kError: break;
    }
    throw ReadFailure("cannot read " + file_ + " line " + std::to_string(n) + ": " +
                      reader_->Error());
}

bool TrailBatches::NextStored(std::string *line, long long n) {
    for (int tries = 0;; ++tries) {
        if (Next(line, n)) return true;
        if (!follow_ || tries >= 50) return false;
        PauseMs(100);
    }
}

void TrailBatches::Fill(std::vector<Row> *rows, long long after, std::string *stop) {
    rows->clear();
    stop->clear();
    while (rows->size() < static_cast<std::size_t>(kBatchLines)) {
        const long long n = after + static_cast<long long>(rows->size()) + 1;
        try {
            if (!Next(&line_, n)) break;
        } catch (const Refusal &e) {
            *stop = e.what();
            break;
        }
        rows->emplace_back();
        if (!RowFromLine(machine_, n, line_, &rows->back(), &why_, &hasher_)) {
            rows->pop_back();
            *stop = file_ + " line " + std::to_string(n) + " is not a trail line (" + why_ +
                    "): shipping stops there, the " + std::to_string(n - 1) +
                    " line(s) before it are in the database";
            break;
        }
    }
}

void TrailBatches::CheckSameFile(long long shipped) {
    if (reader_->CutShort())
        throw Refusal(file_ + " is shorter than the " + std::to_string(shipped) +
                      " line(s) shipped from it: it was cut off or replaced; stopped");
}

}  // namespace qz45trail
