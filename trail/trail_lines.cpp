#include "trail_lines.h"

#include <algorithm>

namespace qz45trail {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

}  // namespace

void DropCarriageReturn(std::string *line) {
    if (!line->empty() && line->back() == '\r') line->pop_back();
}

void TrailReader::Seek(uint64_t offset) {
    offset_ = offset;
    buffer_.clear();
    at_ = 0;
    unfinished_ = 0;
}

// Reads what follows the last line yielded, from the first byte of the next
// line, in one read of up to want bytes: a line is never made of bytes read
// before a writer cut an unfinished line off and bytes written after.
bool TrailReader::Refill(std::size_t want) {
    buffer_.resize(want);
    at_ = 0;
    std::size_t got = 0;
    const bool ok = source_.ReadAt(offset_, &buffer_[0], want, &got, &error_);
    buffer_.resize(ok ? std::min(got, want) : 0);
    return ok;
}

TrailReader::Result TrailReader::Next(std::string *line) {
    std::size_t want = kChunk;
    for (bool read = false;; read = true) {
        const std::size_t end = buffer_.find('\n', at_);
        if (end != std::string::npos) {
            if (end - at_ > kLongestLine) return Result::kTooLong;
            line->assign(buffer_, at_, end - at_);
            DropCarriageReturn(line);
            offset_ += end + 1 - at_;
            at_ = end + 1;
            return Result::kLine;
        }
        // What is held has no line end. Right after a read that left room,
        // that is all there is for now: an unfinished line, dropped so that
        // the next call reads it again from its first byte.
        const std::size_t held = buffer_.size() - at_;
        if (read && held < want) {
            Seek(offset_);
            unfinished_ = held;
            return Result::kEnd;
        }
        if (held > kLongestLine) return Result::kTooLong;
        while (want <= held) want *= 2;
        want = std::min(want, kLongestLine + 1);
        if (!Refill(want)) {
            Seek(offset_);
            return Result::kError;
        }
    }
}

EndResult FindTrailEnd(ByteSource &source, uint64_t size, TrailEnd *end, std::string *error) {
    *end = TrailEnd{};
    std::string window;  // the file's bytes from `from` to size
    uint64_t from = size;
    for (;;) {
        const std::size_t lastFeed = window.rfind('\n');
        const std::size_t tail = lastFeed == std::string::npos ? window.size()
                                                               : window.size() - lastFeed - 1;
        if (tail > kLongestLine) return EndResult::kTailTooLong;
        if (lastFeed != std::string::npos) {
            const std::size_t before =
                lastFeed == 0 ? std::string::npos : window.rfind('\n', lastFeed - 1);
            const std::size_t start = before == std::string::npos ? 0 : before + 1;
            const bool whole = before != std::string::npos || from == 0;
            if (whole || lastFeed - start > kLongestLine) {
                end->lineEnd = from + lastFeed + 1;
                end->tail.assign(window, lastFeed + 1, std::string::npos);
                // A last line too long to be one of ours: no chain to follow.
                if (whole && lastFeed - start <= kLongestLine) {
                    end->hasLast = true;
                    end->last.assign(window, start, lastFeed - start);
                    DropCarriageReturn(&end->last);
                }
                return EndResult::kOk;
            }
        } else if (from == 0) {
            end->tail = std::move(window);
            return EndResult::kOk;
        }
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(from, kChunk));
        from -= n;
        std::string chunk(n, '\0');
        std::size_t got = 0;
        if (!source.ReadAt(from, &chunk[0], n, &got, error)) return EndResult::kError;
        if (got != n) {
            *error = "the file is shorter than its size";
            return EndResult::kError;
        }
        window.insert(0, chunk);
    }
}

bool ReadFirstLine(ByteSource &source, std::string *line, bool *complete, std::string *error) {
    *complete = false;
    for (std::size_t want = kChunk;; want = std::min(2 * want, kLongestLine + 1)) {
        line->resize(want);
        std::size_t got = 0;
        const bool ok = source.ReadAt(0, &(*line)[0], want, &got, error);
        line->resize(ok ? std::min(got, want) : 0);
        if (!ok) return false;
        const std::size_t feed = line->find('\n');
        if (feed != std::string::npos) {
            line->resize(feed);
            DropCarriageReturn(line);
            *complete = true;
            return true;
        }
        if (line->size() < want || want > kLongestLine) return true;
    }
}

}  // namespace qz45trail
