// Arbitrary bytes as a trail file. Its lines are the bytes up to each line
// feed; what follows the last one is an unfinished line. The trail reader, the
// writer's search for the end and the first-line reader must all see exactly
// those lines. Each line then goes
// through the chain and the row: a line taken apart must join again to
// itself, a chain made of the lines must check intact, the verdict on the
// lines as they are must name lines that are there, and a row must keep the
// line exactly and hold U+0000 nowhere else.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sha256.h"
#include "trail_chain.h"
#include "trail_lines.h"
#include "trail_row.h"

using namespace qz45trail;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// The bytes, at most `most` of them per read.
class MemorySource : public ByteSource {
public:
    MemorySource(const std::string &bytes, std::size_t most) : bytes_(bytes), most_(most) {}
    bool ReadAt(uint64_t offset, char *buffer, std::size_t n, std::size_t *got,
                std::string *) override {
        *got = 0;
        if (offset < bytes_.size()) {
            *got = std::min({n, most_, static_cast<std::size_t>(bytes_.size() - offset)});
            std::memcpy(buffer, bytes_.data() + offset, *got);
        }
        return true;
    }
    bool Size(uint64_t *size, std::string *) override {
        *size = bytes_.size();
        return true;
    }

private:
    const std::string &bytes_;
    std::size_t most_;
};

std::string WithoutCr(std::string s) {
    if (!s.empty() && s.back() == '\r') s.pop_back();
    return s;
}

void CheckReader(const std::string &bytes, std::size_t most, const std::vector<std::string> &lines,
                 const std::vector<std::size_t> &ends) {
    MemorySource source(bytes, most);
    TrailReader reader(source);
    std::string line;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].size() > kLongestLine) {
            Check(reader.Next(&line) == TrailReader::Result::kTooLong);
            return;
        }
        Check(reader.Next(&line) == TrailReader::Result::kLine);
        Check(line == WithoutCr(lines[i]));
        Check(reader.Offset() == ends[i]);
    }
    const std::size_t lineEnd = ends.empty() ? 0 : ends.back();
    for (int again = 0; again < 2; ++again) {
        const TrailReader::Result r = reader.Next(&line);
        if (bytes.size() - lineEnd > kLongestLine) {
            Check(r == TrailReader::Result::kTooLong);
            return;
        }
        Check(r == TrailReader::Result::kEnd);
        Check(reader.Unfinished() == bytes.size() - lineEnd);
        Check(reader.Offset() == lineEnd);
    }
    reader.Seek(0);
    const TrailReader::Result first = reader.Next(&line);
    Check(lines.empty() ? first == TrailReader::Result::kEnd
                        : first == TrailReader::Result::kLine && line == WithoutCr(lines[0]));
}

void CheckEnds(const std::string &bytes, const std::vector<std::string> &lines,
               const std::vector<std::size_t> &ends) {
    MemorySource source(bytes, bytes.size());
    const std::size_t lineEnd = ends.empty() ? 0 : ends.back();
    TrailEnd end;
    std::string error;
    const EndResult r = FindTrailEnd(source, bytes.size(), &end, &error);
    if (bytes.size() - lineEnd > kLongestLine) {
        Check(r == EndResult::kTailTooLong);
    } else {
        Check(r == EndResult::kOk);
        Check(end.lineEnd == lineEnd);
        Check(end.tail == bytes.substr(lineEnd));
        const bool hasLast = !lines.empty() && lines.back().size() <= kLongestLine;
        Check(end.hasLast == hasLast);
        Check(hasLast ? end.last == WithoutCr(lines.back()) : end.last.empty());
    }

    std::string first;
    bool complete = false;
    Check(ReadFirstLine(source, &first, &complete, &error));
    if (bytes.size() <= kLongestLine) {
        Check(complete == !lines.empty());
        Check(first == (complete ? WithoutCr(lines[0]) : bytes));
    }
}

void CheckLine(long long n, const std::string &line) {
    ChainedLine parts;
    if (SplitChainedLine(line, &parts)) {
        Check(parts.content.size() >= 2 && parts.content.back() == '}');
        Check(parts.content.substr(0, parts.content.size() - 1) + ",\"prev\":\"" + parts.prev +
                  "\",\"hash\":\"" + parts.hash + "\"}" ==
              line);
        std::string hash;
        Check(ChainHash(parts.prev, parts.content, &hash));
        Check(ChainsAfter(line, parts.prev) == (hash == parts.hash));
    } else {
        Check(!ChainsAfter(line, kChainStart));
    }

    Row row;
    std::string why;
    const bool trailLine = IsTrailLine(line);
    if (!RowFromLine("m", n, line, &row, &why)) {
        Check(!why.empty());
        return;
    }
    Check(trailLine);
    Check(row[kMachine].text == "m" && row[kLineNo].number == n);
    Check(row[kLineText].text == line);
    for (int i = 0; i < kColumnCount; ++i)
        Check(i == kLineText || row[i].text.find('\0') == std::string::npos);
    std::string sha;
    Check(Sha256Hex(line, &sha) && row[kLineSha256].text == sha);
    Check(FirstDifference(row, row) == nullptr);
    // The chain members are the object's last "prev" and "hash".
    if (SplitChainedLine(line, &parts))
        Check(row[kPrevHash].text == parts.prev && row[kLineHash].text == parts.hash);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> lines;
    std::vector<std::size_t> ends;  // just after each line's line feed
    for (std::size_t at = 0;;) {
        const std::size_t feed = bytes.find('\n', at);
        if (feed == std::string::npos) break;
        lines.push_back(bytes.substr(at, feed - at));
        ends.push_back(feed + 1);
        at = feed + 1;
    }

    CheckReader(bytes, bytes.size() + 1, lines, ends);
    CheckEnds(bytes, lines, ends);

    // The lines as they are, and the same lines as the contents of a chain.
    ChainCheck asTheyAre, remade;
    std::string prev = kChainStart;
    std::size_t chained = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string line = WithoutCr(lines[i]);
        const long long n = static_cast<long long>(i) + 1;
        CheckLine(n, line);
        asTheyAre.Add(n, line);

        std::string made;
        const bool object = line.size() >= 3 && line.front() == '{' && line.back() == '}';
        Check(ChainLine(prev, line, &made) == object);
        if (!object) continue;
        ChainedLine parts;
        Check(SplitChainedLine(made, &parts) && parts.content == line && parts.prev == prev);
        Check(ChainsAfter(made, prev));
        remade.Add(static_cast<long long>(++chained), made);
        prev = parts.hash;
    }
    if (ends.empty() || ends.back() < size) CheckLine(0, bytes.substr(ends.empty() ? 0 : ends.back()));

    const ChainVerdict v = asTheyAre.Finish();
    const long long count = static_cast<long long>(lines.size());
    Check(v.lines == lines.size() && v.unchainedPrefix <= lines.size());
    Check(v.firstChained == (v.unchainedPrefix < lines.size()
                                 ? static_cast<long long>(v.unchainedPrefix) + 1
                                 : 0));
    Check(!v.Describe().empty());
    using Kind = ChainVerdict::Kind;
    if (!v.Intact()) Check(v.firstChained > 0 && v.line >= v.firstChained && v.line <= count);
    if (v.kind == Kind::kRepeats || v.kind == Kind::kInsertedBetween)
        Check(v.other >= v.firstChained && v.other < v.line);
    if (v.kind == Kind::kReordered) Check(v.other > v.line && v.other <= count);

    const ChainVerdict r = remade.Finish();
    Check(r.Intact() && r.lines == chained && r.unchainedPrefix == 0 &&
          r.firstChained == (chained > 0 ? 1 : 0));
    return 0;
}
