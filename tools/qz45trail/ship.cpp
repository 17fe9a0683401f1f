#include "ship.h"

#include <io.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "database.h"
#include "trail_chain.h"

namespace qz45trail {
namespace {

// Refusing to go on: the file and the database disagree, or a line is not a
// trail line. Never retried.
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct FileHandle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~FileHandle() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

// Whole lines of a trail that writers may still be appending to; an
// unfinished last line is left until its line end is there.
class TrailReader {
public:
    explicit TrailReader(const std::string &path) {
        file_.h = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file_.h == INVALID_HANDLE_VALUE)
            throw std::runtime_error("cannot read " + path + " (error " +
                                     std::to_string(GetLastError()) + ")");
    }

    bool Next(std::string *line) {
        for (;;) {
            const std::size_t end = buffer_.find('\n', at_);
            if (end != std::string::npos) {
                line->assign(buffer_, at_, end - at_);
                offset_ += end + 1 - at_;
                at_ = end + 1;
                return true;
            }
            if (!ReadMore()) return false;
        }
    }

    // File offset of the next line.
    unsigned long long Offset() const { return offset_; }
    void Seek(unsigned long long offset) {
        offset_ = offset;
        buffer_.clear();
        at_ = 0;
    }
    // Bytes after the last whole line (a line still being written).
    bool Unfinished() { return at_ < buffer_.size() || ReadMore(); }
    unsigned long long Size() const {
        LARGE_INTEGER size{};
        return GetFileSizeEx(file_.h, &size) ? static_cast<unsigned long long>(size.QuadPart) : 0;
    }

private:
    bool ReadMore() {
        buffer_.erase(0, at_);
        at_ = 0;
        char chunk[1 << 16];
        const unsigned long long from = offset_ + buffer_.size();
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(from);
        at.OffsetHigh = static_cast<DWORD>(from >> 32);
        DWORD got = 0;
        if (!ReadFile(file_.h, chunk, sizeof chunk, &got, &at) || got == 0) return false;
        buffer_.append(chunk, got);
        return true;
    }

    FileHandle file_;
    std::string buffer_;          // bytes from offset_ - at_ on
    std::size_t at_ = 0;          // start of the next line in buffer_
    unsigned long long offset_ = 0;
};

std::string ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &length)) return "unknown";
    return Utf8(name, length);
}

// A failure that waiting does not mend: the driver manager's own (no such
// driver or data source, a driver it cannot load: IM, or only a warning),
// refused authorisation (28).
bool Fatal(const OdbcError &e) {
    const std::string &s = e.State();
    return s.empty() || s.compare(0, 2, "IM") == 0 || s.compare(0, 2, "01") == 0 ||
           s.compare(0, 2, "28") == 0;
}

class Shipper {
public:
    explicit Shipper(const ShipOptions &o)
        : o_(o), machine_(o.machine.empty() ? ComputerName() : o.machine), reader_(o.file),
          terminal_(_isatty(_fileno(stdout)) != 0), start_(GetTickCount64()) {}

    int Run() {
        DWORD backoff = 1000;
        for (bool first = true;; first = false) {
            try {
                Database db(o_.connection);
                connected_ = true;
                EnsureTable(db);
                reader_.Seek(committedOffset_);
                Sync(db);
                if (o_.follow) {
                    std::printf("%s %s as machine %s: %lld line(s) in the database\n",
                                first ? "following" : "reconnected; following", o_.file.c_str(),
                                machine_.c_str(), committedLines_);
                    std::fflush(stdout);
                }
                backoff = 1000;
                ShipAll(db);
                return 0;
            } catch (const Refusal &e) {
                Summary();
                std::fprintf(stderr, "qz45trail: %s\n", e.what());
                return 1;
            } catch (const OdbcError &e) {
                if (!o_.follow || Fatal(e)) {
                    Summary();
                    std::fprintf(stderr, "qz45trail: %s\n", e.what());
                    return 1;
                }
                std::fprintf(stderr, "qz45trail: %s; trying again in %lu s\n", e.what(),
                             backoff / 1000);
                std::fflush(stderr);
                Sleep(backoff);
                backoff = backoff * 2 > 30000 ? 30000 : backoff * 2;
            }
        }
    }

private:
    // Reads what the database holds for this machine past the lines known to
    // be there, checks each against the file, and moves past them.
    void Sync(const Database &db) {
        OdbcStatement select(db.connection);
        select.Prepare("SELECT line_no, line_sha256 FROM audit_trail WHERE machine = ? AND "
                       "line_no > ? ORDER BY line_no");
        select.BindText(1, &machine_);
        select.BindInteger(2, &committedLines_);
        select.Execute();
        std::string line, stored, sha;
        long long n = 0;
        while (select.Fetch()) {
            select.GetInteger(1, &n);
            select.GetText(2, &stored);
            const long long expected = committedLines_ + 1;
            if (n != expected)
                throw Refusal("the database holds line " + std::to_string(n) + " of machine " +
                              machine_ + " but not line " + std::to_string(expected) +
                              ": its rows were changed; nothing shipped");
            if (!reader_.Next(&line))
                throw Refusal("the database holds more lines of machine " + machine_ + " than " +
                              o_.file + " has (" + std::to_string(committedLines_) +
                              "): it is not the trail shipped from " + machine_ +
                              " (--machine names another machine); nothing shipped");
            if (FAILED(Sha256Hex(line, &sha))) throw Refusal("cannot compute SHA-256");
            if (sha != stored)
                throw Refusal("line " + std::to_string(n) + " of " + o_.file +
                              " differs from the line stored for machine " + machine_ +
                              ": the file is not the trail shipped from " + machine_ +
                              ", or it was changed after shipping; nothing shipped");
            committedLines_ = n;
            committedOffset_ = reader_.Offset();
            ++present_;
        }
        db.connection.Rollback();
    }

    // Ships batch after batch; returns when done (without follow), never
    // with it. Failures throw.
    void ShipAll(const Database &db) {
        OdbcStatement insert(db.connection);
        insert.Prepare(InsertSql(db));
        std::vector<Row> batch;
        std::string line, why;
        for (;;) {
            batch.clear();
            bool bad = false;
            while (batch.size() < static_cast<std::size_t>(kBatchLines) && reader_.Next(&line)) {
                batch.emplace_back();
                const long long n = committedLines_ + static_cast<long long>(batch.size());
                if (!RowFromLine(machine_, n, line, &batch.back(), &why)) {
                    batch.pop_back();
                    bad = true;
                    why = o_.file + " line " + std::to_string(n) + " is not a trail line (" + why +
                          "): shipping stops there, the " + std::to_string(n - 1) +
                          " line(s) before it are in the database";
                    break;
                }
            }
            for (const Row &row : batch) {
                BindRow(&insert, row);
                insert.Execute();
            }
            if (!batch.empty()) {
                db.connection.Commit();
                committedLines_ += static_cast<long long>(batch.size());
                committedOffset_ = reader_.Offset();
                shipped_ += static_cast<long long>(batch.size());
                Progress();
            }
            if (bad) throw Refusal(why);
            if (batch.size() == static_cast<std::size_t>(kBatchLines)) continue;
            if (!o_.follow) {
                Summary();
                if (reader_.Unfinished())
                    std::printf("the last line of %s has no line end yet: left for the next run\n",
                                o_.file.c_str());
                return;
            }
            if (reader_.Size() < committedOffset_)
                throw Refusal(o_.file + " is shorter than the " + std::to_string(committedLines_) +
                              " line(s) shipped from it: it was cut off or replaced; stopped");
            Sleep(250);
        }
    }

    double Seconds() const { return static_cast<double>(GetTickCount64() - start_) / 1000.0; }

    void Progress() {
        if (!terminal_) return;
        const ULONGLONG now = GetTickCount64();
        if (now - shown_ < 500) return;
        shown_ = now;
        std::printf("\rshipping %s: %lld line(s) shipped, %lld already present, %.0f s ",
                    o_.file.c_str(), shipped_, present_, Seconds());
        std::fflush(stdout);
    }

    void Summary() {
        if (!connected_) return;
        if (terminal_ && shown_ != 0) std::printf("\n");
        const double s = Seconds();
        std::printf("%s -> machine %s: %lld line(s) shipped, %lld already present, %.1f s "
                    "(%.0f lines/s)\n",
                    o_.file.c_str(), machine_.c_str(), shipped_, present_, s,
                    s > 0 ? static_cast<double>(shipped_) / s : 0.0);
        std::fflush(stdout);
    }

    const ShipOptions &o_;
    const std::string machine_;
    TrailReader reader_;
    const bool terminal_;
    const ULONGLONG start_;
    ULONGLONG shown_ = 0;
    bool connected_ = false;
    long long committedLines_ = 0;          // lines known to be in the database
    unsigned long long committedOffset_ = 0;  // where the line after them starts
    long long shipped_ = 0, present_ = 0;
};

}  // namespace

int Ship(const ShipOptions &options) {
    try {
        Shipper shipper(options);
        return shipper.Run();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qz45trail: %s\n", e.what());
        return 1;
    }
}

}  // namespace qz45trail
