// What the trail costs as it grows: one append when the trail holds 10 MB
// and when it holds 1 GB across rotated files (the writer reads the current
// file's first line and its end, never the rotated files, so the two should
// not differ), one rotation, and a chained trail of N lines for timing
// qz45trail verify. Prints figures; not a test.
//
//   trail_bench append FOLDER [APPENDS]   the append and rotation figures
//   trail_bench make FILE LINES           a chained trail of LINES lines
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "trail_append.h"
#include "trail_chain.h"
#include "trail_set.h"
#include "win_handle.h"
#include "win_text.h"

namespace {

using namespace qz45trail;

// A line's content as the service writes it (its members in name order).
std::string Content(long long n) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\"context\":{\"AppName\":\"Oskel Zentrova.45\",\"ApplicationId\":"
                  "\"{00000000-0000-0000-0000-000000000000}\",\"Domain\":\"PLANT\",\"User\":\"op%lld\"},"
                  "\"event\":\"ChangeEvent\",\"properties\":{\"AppKey\":\"bench.exe\",\"AuditTrail\":true,"
                  "\"Category\":301,\"Descriptor\":\"FIC%lld\",\"DescriptorType\":\"RECORD\","
                  "\"EventTime\":{\"date\":46023.5,\"utc\":\"2026-01-01T12:00:00.000Z\"},"
                  "\"Message\":\"bench line %lld\",\"NewValue\":{\"type\":\"VT_R8\",\"value\":2.5},"
                  "\"OldValue\":{\"type\":\"VT_R8\",\"value\":1.5},\"Property\":\"SP\"},"
                  "\"submitted\":\"2026-01-01T12:00:00.000Z\"}",
                  n % 50, n % 2000, n);
    return text;
}

// Writes lines first..first+count-1 to path, chained after prev; returns the
// last hash.
std::string WriteLines(const std::string &path, long long first, long long count, std::string prev) {
    UniqueHandle f(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.Valid()) {
        std::fprintf(stderr, "trail_bench: cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::string buffer, line;
    for (long long n = first; n < first + count; ++n) {
        ChainLine(prev, Content(n), &line);
        ChainedLine parts;
        SplitChainedLine(line, &parts);
        prev = parts.hash;
        buffer += line + "\n";
        if (buffer.size() > (1 << 20) || n + 1 == first + count) {
            DWORD written = 0;
            WriteFile(f.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &written, nullptr);
            buffer.clear();
        }
    }
    return prev;
}

double Now() {
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// The median and the slowest of `appends` appends to the trail at path, in µs.
void TimeAppends(const std::string &path, int appends, const TrailRotation &rotation,
                 double *median, double *slowest) {
    std::vector<double> times;
    for (int i = 0; i < appends; ++i) {
        const double t0 = Now();
        const HRESULT hr = AppendChained(Wide(path), Content(i), rotation);
        times.push_back((Now() - t0) * 1e6);
        if (FAILED(hr)) {
            std::fprintf(stderr, "trail_bench: an append failed: 0x%08lX\n", static_cast<unsigned long>(hr));
            std::exit(1);
        }
    }
    std::sort(times.begin(), times.end());
    *median = times[times.size() / 2];
    *slowest = times.back();
}

int Append(const std::string &folder, int appends) {
    const long long perMb = 1024 * 1024 / static_cast<long long>(Content(1).size() + 150);
    TrailRotation none;
    none.maxBytes = 0;
    double median = 0, slowest = 0;

    // 10 MB in the current file.
    const std::string small = folder + "\\small.jsonl";
    WriteLines(small, 1, 10 * perMb, kChainStart);
    TimeAppends(small, appends, none, &median, &slowest);
    std::printf("append, trail of 10 MB:                  median %7.1f us, slowest %8.1f us\n",
                median, slowest);

    // 1 GB: 31 rotated files of 32 MB and 10 MB in the current one.
    const std::string big = folder + "\\big.jsonl";
    const TrailName name = SplitTrailName(big);
    std::string prev = kChainStart;
    long long first = 1;
    for (int i = 0; i < 31; ++i) {
        UtcTime t;
        ParseUtc("2026-01-01T12:00:00Z", &t);
        prev = WriteLines(name.folder + RotatedName(name, t, first), first, 32 * perMb, prev);
        first += 32 * perMb;
    }
    WriteLines(big, first, 10 * perMb, prev);
    TimeAppends(big, appends, none, &median, &slowest);
    std::printf("append, trail of 1 GB in 32 files:       median %7.1f us, slowest %8.1f us\n",
                median, slowest);

    // One rotation of that trail: its 10 MB current file renamed, the new
    // one begun. The writer counts the lines of the newest rotated file for
    // the name (32 MB) and the new file's first writer those of the one just
    // rotated (10 MB).
    TrailRotation tight;
    tight.maxBytes = 1;
    const double t0 = Now();
    AppendChained(Wide(big), Content(0), tight);
    std::printf("append that rotates the 1 GB trail:      %7.1f ms\n", (Now() - t0) * 1e3);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "append" && argc >= 3) return Append(argv[2], argc > 3 ? std::atoi(argv[3]) : 2000);
    if (verb == "make" && argc == 4) {
        WriteLines(argv[2], 1, std::atoll(argv[3]), kChainStart);
        return 0;
    }
    std::fprintf(stderr, "usage: trail_bench append FOLDER [APPENDS]\n"
                         "       trail_bench make FILE LINES\n");
    return 2;
}
