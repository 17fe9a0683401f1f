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
    at_ = scanned_ = 0;
    unfinished_ = 0;
}

// Appends the next chunk to what is left of the buffer.
bool TrailReader::Fill(std::string *why) {
    buffer_.erase(0, at_);
    at_ = 0;
    const std::size_t had = buffer_.size();
    buffer_.resize(had + kChunk);
    std::size_t got = 0;
    const bool ok = source_.ReadAt(offset_ + had, &buffer_[had], kChunk, &got, why);
    buffer_.resize(had + (ok ? std::min(got, kChunk) : 0));
    return ok;
}

TrailReader::Result TrailReader::Next(std::string *line) {
    for (;;) {
        const std::size_t end = buffer_.find('\n', at_ + scanned_);
        if (end != std::string::npos) {
            if (end - at_ > kLongestLine) return Result::kTooLong;
            line->assign(buffer_, at_, end - at_);
            DropCarriageReturn(line);
            offset_ += end + 1 - at_;
            at_ = end + 1;
            scanned_ = 0;
            return Result::kLine;
        }
        scanned_ = buffer_.size() - at_;
        if (scanned_ > kLongestLine) return Result::kTooLong;
        if (!Fill(&error_)) {
            // Nothing read is kept: the next call starts at the next line again.
            Seek(offset_);
            return Result::kError;
        }
        if (buffer_.size() == scanned_) {
            // The end: what is left has no line end. Drop it, so that the next
            // call reads it again from its first byte.
            const uint64_t left = scanned_;
            Seek(offset_);
            unfinished_ = left;
            return Result::kEnd;
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
    line->clear();
    *complete = false;
    while (line->size() <= kLongestLine) {
        const std::size_t had = line->size();
        line->resize(had + kChunk);
        std::size_t got = 0;
        const bool ok = source.ReadAt(had, &(*line)[had], kChunk, &got, error);
        line->resize(had + (ok ? std::min(got, kChunk) : 0));
        if (!ok) return false;
        const std::size_t feed = line->find('\n', had);
        if (feed != std::string::npos) {
            line->resize(feed);
            DropCarriageReturn(line);
            *complete = true;
            return true;
        }
        if (got == 0) return true;
    }
    return true;
}

}  // namespace qz45trail
