// Lines of a trail file that writers may be appending to while it is read:
// only lines whose line end is there are lines; what follows the last line
// end is an unfinished line (a writer at work, or one that died mid-line).
// A line is its bytes up to the line feed, without one carriage return
// before it, so a trail whose line ends were converted to CR LF reads alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qz45trail {

// No line the service writes comes near this; a longer one is not a trail line.
constexpr std::size_t kLongestLine = 1u << 20;

// Bytes to read by position: a file, or memory in the tests.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads n bytes at offset, fewer only where the end comes first (as a
    // file's read does); *got = 0 at the end. False, with the reason in
    // *error, when the read failed.
    virtual bool ReadAt(uint64_t offset, char *buffer, std::size_t n, std::size_t *got,
                        std::string *error) = 0;
    // The current size; false, with the reason, when it cannot be read.
    virtual bool Size(uint64_t *size, std::string *error) = 0;
};

// Lines one after another, from one file or from a trail's files in turn.
enum class LineResult {
    kLine,     // *line holds the next line
    kEnd,      // no further complete line (yet)
    kError,    // a read failed: Error() says why
    kTooLong,  // the next line is longer than kLongestLine
    kBroken,   // a trail's files do not follow on from one another: Error() says how
};

class LineSource {
public:
    virtual ~LineSource() = default;
    virtual LineResult Next(std::string *line) = 0;
    virtual std::string Error() const = 0;
};

// Reads complete lines from a position on. A line is taken from one read
// that holds all of it; bytes without a line end are never kept to be joined
// to later ones, but read again from the line's first byte. So a line that
// was unfinished is read whole once its line end is there, whatever happened
// to its first bytes meanwhile (a writer that cut it off and wrote another).
class TrailReader : public LineSource {
public:
    // kEnd: Unfinished() tells what follows the last line.
    using Result = LineResult;

    explicit TrailReader(ByteSource &source, uint64_t from = 0) : source_(source), offset_(from) {}
    TrailReader(const TrailReader &) = delete;
    TrailReader &operator=(const TrailReader &) = delete;

    Result Next(std::string *line) override;
    std::string Error() const override { return error_; }
    // Where the next line starts: just after the last line yielded.
    uint64_t Offset() const { return offset_; }
    void Seek(uint64_t offset);
    // Bytes after Offset() without a line end, as seen at the last kEnd.
    uint64_t Unfinished() const { return unfinished_; }

private:
    bool Refill(std::size_t want);

    ByteSource &source_;
    uint64_t offset_;         // file offset of buffer_[at_]
    std::string buffer_;      // bytes read ahead, from offset_ - at_ on
    std::size_t at_ = 0;      // start of the next line in buffer_
    uint64_t unfinished_ = 0;
    std::string error_;
};

// The end of a trail as a writer sees it before appending.
struct TrailEnd {
    uint64_t lineEnd = 0;    // just after the last complete line's line feed (0: none)
    bool hasLast = false;    // the last complete line is in `last`
    std::string last;        // that line, without its line end
    std::string tail;        // the bytes after lineEnd: an unfinished line, or nothing
};

enum class EndResult {
    kOk,
    kError,        // a read failed
    kTailTooLong,  // more than kLongestLine bytes without a line end at the end
};

// Reads the trail backwards from size to find its last complete line and what
// follows it. A last line longer than kLongestLine is not kept (hasLast false).
EndResult FindTrailEnd(ByteSource &source, uint64_t size, TrailEnd *end, std::string *error);

// The first line of a trail: *complete tells whether its line end is there
// within the first kLongestLine + 1 bytes, which are all that is looked at.
// False when a read failed.
bool ReadFirstLine(ByteSource &source, std::string *line, bool *complete, std::string *error);

// A line without one carriage return at its end.
void DropCarriageReturn(std::string *line);

}  // namespace qz45trail
