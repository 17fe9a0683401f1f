#include "trail_space.h"

#include <cmath>
#include <cstdio>
#include <cwchar>
#include <string>

#include <nlohmann/json.hpp>

#include "win_event_log.h"
#include "win_handle.h"
#include "win_text.h"

namespace qz45trail {

namespace {

constexpr unsigned long long kMiB = 1024 * 1024;
constexpr unsigned long long kDefaultWarnMb = 1024;
constexpr unsigned long long kDefaultFloorMb = 64;

// How long a process trusts what the system last said, and how close to a
// level it stops trusting it.
constexpr ULONGLONG kRecheckMs = 10 * 1000;
constexpr unsigned long long kNearBytes = 8 * kMiB;

constexpr long long kWarnEverySeconds = 60 * 60;
// Samples closer together than this say little about a rate.
constexpr long long kSampleGapSeconds = 60;
// An older rate counts half as much for every this many seconds of its age.
constexpr double kRateHalfLifeSeconds = 60 * 60;

constexpr wchar_t kEventSourceName[] = L"QZ45 audit trail";
constexpr DWORD kLowSpaceEventId = 1;
constexpr DWORD kFloorLoweredEventId = 2;

// The shared record is a few dozen bytes; more is not one of ours.
constexpr DWORD kRecordCapacity = 1024;

struct Levels {
    unsigned long long warn;   // bytes; 0: off
    unsigned long long floor;  // bytes; 0: off
    unsigned long long askedFloor;  // the floor set, before it was lowered to warn
};

// How fast the volume's free space shrinks, from successive samples.
struct Rate {
    long long sampled;           // seconds since 1970, 0: no sample yet
    unsigned long long free;     // free bytes then
    long long bytesPerHour;      // negative while space is being freed
    bool known;
};

// What this process last learned about one trail's volume.
constexpr std::size_t kTrailCapacity = 520;
struct Cache {
    wchar_t trail[kTrailCapacity];
    std::size_t trailLength;  // 0: nothing cached
    ULONGLONG checkedMs;      // GetTickCount64 at the last look
    unsigned long long free;  // free bytes then
    unsigned long long writtenSince;
    long long warned;  // the last warning this process knows of, 0: none
    Rate rate;
};

SRWLOCK g_cacheLock = SRWLOCK_INIT;
Cache g_cache;
bool g_floorLoweredReported = false;  // under g_cacheLock

class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK *lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
    ExclusiveLock(const ExclusiveLock &) = delete;
    ExclusiveLock &operator=(const ExclusiveLock &) = delete;
    ~ExclusiveLock() { ReleaseSRWLockExclusive(lock_); }

private:
    SRWLOCK *lock_;
};

unsigned long long AddCapped(unsigned long long a, unsigned long long b) {
    return a > ~0ULL - b ? ~0ULL : a + b;
}

unsigned long long Less(unsigned long long a, unsigned long long b) { return a > b ? a - b : 0; }

// A level in MiB from the environment, in bytes.
unsigned long long LevelFromEnvironment(const wchar_t *name, unsigned long long defaultMb) {
    wchar_t value[32];
    const DWORD n = GetEnvironmentVariableW(name, value, 32);
    if (n == 0 || n >= 32 || value[0] < L'0' || value[0] > L'9') return defaultMb * kMiB;
    wchar_t *end = nullptr;
    const unsigned long long mb = wcstoull(value, &end, 10);
    if (end == value || *end != L'\0' || mb > (~0ULL >> 20)) return defaultMb * kMiB;
    return mb * kMiB;
}

Levels LevelsFromEnvironment() {
    Levels l;
    l.warn = LevelFromEnvironment(L"QZ45_AUDIT_TRAIL_WARN_MB", kDefaultWarnMb);
    l.floor = LevelFromEnvironment(L"QZ45_AUDIT_TRAIL_FLOOR_MB", kDefaultFloorMb);
    l.askedFloor = l.floor;
    if (l.warn > 0 && l.floor > l.warn) l.floor = l.warn;
    return l;
}

long long SecondsSince1970() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    return static_cast<long long>((t.QuadPart - 116444736000000000ULL) / 10000000ULL);
}

bool WarnedLately(long long warned, long long now) {
    // A clock set back by more than the interval does not silence warnings.
    return warned != 0 && now - warned < kWarnEverySeconds && warned - now < kWarnEverySeconds;
}

// The bytes the caller may still use on the volume that holds the trail.
bool FreeBytes(const std::wstring &trail, unsigned long long *free) {
    const DWORD need = GetFullPathNameW(trail.c_str(), 0, nullptr, nullptr);
    if (need == 0) return false;
    std::wstring folder(need, L'\0');
    const DWORD got = GetFullPathNameW(trail.c_str(), need, &folder[0], nullptr);
    if (got == 0 || got >= need) return false;
    folder.resize(got);
    const std::size_t slash = folder.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return false;
    folder.resize(slash + 1);
    ULARGE_INTEGER available, total, totalFree;
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, &total, &totalFree)) return false;
    *free = available.QuadPart;
    return true;
}

// Takes a sample into the rate: the rate since the last sample, weighed
// against the one before by the time between them.
void AddSample(Rate *rate, long long now, unsigned long long free) {
    if (rate->sampled == 0 || now < rate->sampled) {
        // The first sample, or the clock was set back: start from here.
        rate->sampled = now;
        rate->free = free;
        return;
    }
    const long long seconds = now - rate->sampled;
    if (seconds < kSampleGapSeconds) return;
    const double latest = (static_cast<double>(rate->free) - static_cast<double>(free)) * 3600.0 /
                          static_cast<double>(seconds);
    double mean = latest;
    if (rate->known) {
        const double older = std::exp2(-static_cast<double>(seconds) / kRateHalfLifeSeconds);
        mean = older * static_cast<double>(rate->bytesPerHour) + (1.0 - older) * latest;
    }
    constexpr double kLimit = 9.0e18;
    mean = mean > kLimit ? kLimit : mean < -kLimit ? -kLimit : mean;
    rate->bytesPerHour = std::llround(mean);
    rate->known = true;
    rate->sampled = now;
    rate->free = free;
}

// Of two views of the rate, the one with the later sample, keeping a known
// rate if only the other one has it.
Rate Newer(const Rate &a, const Rate &b) {
    Rate r = a.sampled >= b.sampled ? a : b;
    const Rate &other = a.sampled >= b.sampled ? b : a;
    if (!r.known && other.known) {
        r.bytesPerHour = other.bytesPerHour;
        r.known = true;
    }
    return r;
}

// "812.5 MB", "12.3 GB".
std::string Size(unsigned long long bytes) {
    const bool gb = bytes >= 10 * 1024 * kMiB;
    const unsigned long long unit = gb ? 1024 * kMiB : kMiB;
    char text[48];
    std::snprintf(text, sizeof text, "%llu.%llu %s", bytes / unit, bytes % unit * 10 / unit,
                  gb ? "GB" : "MB");
    return text;
}

// "about 17 minutes", "about 5 hours", "about 3 days".
std::string Duration(double seconds) {
    const double minutes = seconds / 60.0, hours = minutes / 60.0;
    char text[48];
    if (minutes < 1.5)
        std::snprintf(text, sizeof text, "about a minute");
    else if (minutes < 120.0)
        std::snprintf(text, sizeof text, "about %.0f minutes", minutes);
    else if (hours < 48.0)
        std::snprintf(text, sizeof text, "about %.0f hours", hours);
    else
        std::snprintf(text, sizeof text, "about %.0f days", hours / 24.0);
    return text;
}

std::string Warning(unsigned long long free, bool refused, const Levels &levels,
                    const Rate &rate) {
    std::string text = "The audit trail's volume is low on space: " + Size(free) + " free (";
    if (refused)
        return text + "events refused below " + Size(levels.floor) +
               "). Events are refused until space is freed.";
    text += "warning below " + Size(levels.warn);
    if (levels.floor == 0) text += ", nothing refused). ";
    else text += ", events refused below " + Size(levels.floor) + "). ";
    if (!rate.known) return text + "No rate yet: how long it lasts is not known.";
    if (rate.bytesPerHour <= 0) return text + "It is not shrinking at present.";
    text += "At the recent rate of " + Size(static_cast<unsigned long long>(rate.bytesPerHour)) +
            " an hour, ";
    const double hours = static_cast<double>(Less(free, levels.floor)) /
                         static_cast<double>(rate.bytesPerHour);
    return text + (levels.floor > 0 ? "events are refused in " : "the volume is full in ") +
           Duration(hours * 3600.0) + ".";
}

bool ReportLowSpace(const std::wstring &trail, const std::string &text) {
    return ReportToEventLog(kEventSourceName, EVENTLOG_WARNING_TYPE, kLowSpaceEventId,
                            Wide(text) + L" Trail: " + trail);
}

// What the writers of a trail share.
struct Shared {
    long long warned;
    Rate rate;
};

long long Member(const nlohmann::json &j, const char *name) {
    const auto it = j.find(name);
    return it != j.end() && it->is_number_integer() ? it->get<long long>() : 0;
}

Shared ReadShared(HANDLE file) {
    Shared s{};
    char bytes[kRecordCapacity];
    DWORD n = 0;
    if (!ReadFile(file, bytes, kRecordCapacity, &n, nullptr) || n == 0 || n == kRecordCapacity)
        return s;
    const nlohmann::json j = nlohmann::json::parse(bytes, bytes + n, nullptr, false);
    if (!j.is_object()) return s;
    s.warned = Member(j, "warned");
    s.rate.sampled = Member(j, "sampled");
    const long long free = Member(j, "free");
    s.rate.free = free > 0 ? static_cast<unsigned long long>(free) : 0;
    const auto rate = j.find("bytes_per_hour");
    if (rate != j.end() && rate->is_number_integer()) {
        s.rate.bytesPerHour = rate->get<long long>();
        s.rate.known = true;
    }
    if (s.rate.sampled < 0) s.rate = Rate{};
    return s;
}

void WriteShared(HANDLE file, const Shared &s) {
    nlohmann::json j{{"warned", s.warned}, {"sampled", s.rate.sampled}, {"free", s.rate.free}};
    if (s.rate.known) j["bytes_per_hour"] = s.rate.bytesPerHour;
    const std::string text = j.dump() + "\n";
    LARGE_INTEGER start{};
    DWORD written = 0;
    if (SetFilePointerEx(file, start, nullptr, FILE_BEGIN) &&
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        SetEndOfFile(file);
}

// Below the warning level: the sample goes into the rate all writers share,
// and the warning out when none went out within the hour. *known holds this
// process's view on entry and the shared one on return.
void LowSpace(const std::wstring &trail, long long now, unsigned long long free, bool refused,
              const Levels &levels, Shared *known) {
    const UniqueHandle file(CreateFileW((trail + L".space").c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    Shared s = file.Valid() ? ReadShared(file.Get()) : *known;
    s.rate = Newer(s.rate, known->rate);
    AddSample(&s.rate, now, free);
    if (levels.warn > 0 && !WarnedLately(s.warned, now) &&
        ReportLowSpace(trail, Warning(free, refused, levels, s.rate)))
        s.warned = now;
    if (file.Valid()) WriteShared(file.Get(), s);
    *known = s;
}

// A floor set above the warning level is lowered to it; the event log hears
// of that once per process, at its first check.
void ReportLoweredFloor(const std::wstring &trail, const Levels &levels) {
    if (levels.askedFloor == levels.floor) return;
    {
        const ExclusiveLock lock(&g_cacheLock);
        if (g_floorLoweredReported) return;
        g_floorLoweredReported = true;
    }
    const std::string text =
        "QZ45_AUDIT_TRAIL_FLOOR_MB (" + Size(levels.askedFloor) +
        ") is above QZ45_AUDIT_TRAIL_WARN_MB (" + Size(levels.warn) +
        "): the floor is lowered to the warning level. Events are refused once less than " +
        Size(levels.warn) + " is free, and the low-space warning comes with the first refusal, "
        "not before it. Set the floor below the warning level.";
    ReportToEventLog(kEventSourceName, EVENTLOG_WARNING_TYPE, kFloorLoweredEventId,
                     Wide(text) + L" Trail: " + trail);
}

bool IsCached(const std::wstring &trail) {
    return g_cache.trailLength != 0 && g_cache.trailLength == trail.size() &&
           std::wmemcmp(g_cache.trail, trail.data(), trail.size()) == 0;
}

}  // namespace

HRESULT CheckSpace(const std::wstring &trail, std::size_t bytes) {
    const Levels levels = LevelsFromEnvironment();
    if (levels.warn == 0 && levels.floor == 0) return S_OK;
    ReportLoweredFloor(trail, levels);
    const ULONGLONG tick = GetTickCount64();
    const long long now = SecondsSince1970();

    Shared known{};
    {
        const ExclusiveLock lock(&g_cacheLock);
        if (IsCached(trail)) {
            const unsigned long long left =
                Less(g_cache.free, AddCapped(g_cache.writtenSince, bytes));
            const bool fresh = tick - g_cache.checkedMs < kRecheckMs;
            const bool clear = left >= AddCapped(levels.floor, kNearBytes) &&
                               (left >= AddCapped(levels.warn, kNearBytes) ||
                                WarnedLately(g_cache.warned, now));
            if (fresh && clear) {
                g_cache.writtenSince = AddCapped(g_cache.writtenSince, bytes);
                return S_OK;
            }
            known.warned = g_cache.warned;
            known.rate = g_cache.rate;
        }
    }

    unsigned long long free = 0;
    if (!FreeBytes(trail, &free)) return S_OK;
    const unsigned long long left = Less(free, bytes);
    const bool refused = left < levels.floor;
    if (left < levels.warn)
        LowSpace(trail, now, free, refused, levels, &known);
    else
        AddSample(&known.rate, now, free);

    const ExclusiveLock lock(&g_cacheLock);
    if (trail.size() < kTrailCapacity) {
        std::wmemcpy(g_cache.trail, trail.data(), trail.size());
        g_cache.trailLength = trail.size();
        g_cache.checkedMs = tick;
        g_cache.free = free;
        g_cache.writtenSince = refused ? 0 : bytes;
        g_cache.warned = known.warned;
        g_cache.rate = known.rate;
    }
    return refused ? HRESULT_FROM_WIN32(ERROR_DISK_FULL) : S_OK;
}

}  // namespace qz45trail
