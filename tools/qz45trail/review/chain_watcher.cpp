// The review page's background check of every machine's stored trail.
#include "chain_watcher.h"

#include <process.h>

#include <algorithm>
#include <utility>

#include "check_queries.h"
#include "local_time.h"
#include "review_queries.h"
#include "transaction.h"
#include "watch_check.h"

namespace qz45trail {
namespace {

// The shipment log is read again this often between passes (ms).
constexpr DWORD kLogPoll = 1000;

// A lock held for a scope.
class Locked {
public:
    explicit Locked(SRWLOCK *lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
    ~Locked() { ReleaseSRWLockExclusive(lock_); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

private:
    SRWLOCK *lock_;
};

}  // namespace

ChainWatcher::ChainWatcher(std::string connection, WatchOptions options)
    : options_(options), connection_(std::move(connection)) {
    thread_ = UniqueHandle(
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RunOnThread, this, 0, nullptr)));
}

ChainWatcher::~ChainWatcher() {
    {
        const Locked held(&lock_);
        stop_ = true;
    }
    WakeAllConditionVariable(&changed_);
    if (thread_.Valid()) WaitForSingleObject(thread_.Get(), INFINITE);
}

unsigned __stdcall ChainWatcher::RunOnThread(void *self) {
    static_cast<ChainWatcher *>(self)->Run();
    return 0;
}

void ChainWatcher::Run() {
    PageDatabase database(connection_, 0);  // a pass is many short statements; none is cut short
    while (!stop_.load()) {
        {
            const Locked held(&lock_);
            passes_.Start();
            freshWanted_ = false;
        }
        std::string failure;
        try {
            Pass(&database);
        } catch (const OdbcError &e) {
            failure = e.what();
            database.Drop();  // made again by the next pass
        }
        {
            const Locked held(&lock_);
            lastFailure_ = failure;
            passes_.End(failure.empty());
        }
        WakeAllConditionVariable(&changed_);
        PauseBetweenPasses(&database);
    }
}

// Every machine stored or logged, one after the other; each published as
// soon as it is checked.
void ChainWatcher::Pass(PageDatabase *database) {
    Database &db = database->Get();
    std::vector<std::string> names = MachinesStoredOrLogged(db, "");
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        if (stop_.load()) return;
        const MachineCheck c = CheckStoredMachine(db, name, options_.acceptUnchained, &stop_);
        MachineStatus status = StatusOfCheck(name, c.census, c.found, c.badLine, NowUtc());
        status.archivedIn = c.archivedIn;
        Publish(status);
    }
    {
        const Transaction read(db.connection);
        Refresh(db.connection);
    }
    const Locked held(&lock_);
    for (auto it = machines_.begin(); it != machines_.end();)
        it = std::binary_search(names.begin(), names.end(), it->first) ? std::next(it)
                                                                        : machines_.erase(it);
}

void ChainWatcher::Publish(MachineStatus status) {
    const Locked held(&lock_);
    const auto known = machines_.find(status.machine);
    if (known != machines_.end()) {
        status.lines = known->second.lines;
        status.hasLastShipped = known->second.hasLastShipped;
        status.lastShipped = known->second.lastShipped;
    }
    machines_[status.machine] = std::move(status);
}

// Until the next pass is due, a fresh one is wanted, new lines were
// shipped (the shipment log read every second), or the watcher stops.
void ChainWatcher::PauseBetweenPasses(PageDatabase *database) {
    const ULONGLONG due =
        GetTickCount64() + static_cast<ULONGLONG>(options_.checkIntervalSeconds) * 1000;
    for (;;) {
        {
            Locked held(&lock_);
            const ULONGLONG now = GetTickCount64();
            if (stop_.load() || freshWanted_ || now >= due) return;
            SleepConditionVariableSRW(&changed_, &lock_,
                                      static_cast<DWORD>(std::min<ULONGLONG>(due - now, kLogPoll)),
                                      0);
            if (stop_.load() || freshWanted_) return;
        }
        if (NewLinesShipped(database)) return;
    }
}

// Whether the shipment log names lines (or a machine) the last pass did not
// see; each machine's last line shipped and its time are taken meanwhile.
bool ChainWatcher::NewLinesShipped(PageDatabase *database) {
    try {
        Database &db = database->Get();
        const Transaction read(db.connection);
        const std::vector<MachineStatus> shipped = ShipmentLogStatus(db.connection);
        bool more = false;
        {
            const Locked held(&lock_);
            for (const MachineStatus &s : shipped) {
                const auto known = machines_.find(s.machine);
                more = more || known == machines_.end() || !known->second.checked ||
                       known->second.lastLine < s.lines;
            }
        }
        TakeShipped(shipped);
        return more;
    } catch (const OdbcError &) {
        database->Drop();  // the next pass says why
        return false;
    }
}

void ChainWatcher::Refresh(const OdbcConnection &connection) {
    TakeShipped(ShipmentLogStatus(connection));
}

void ChainWatcher::TakeShipped(const std::vector<MachineStatus> &shipped) {
    const Locked held(&lock_);
    for (const MachineStatus &s : shipped) {
        MachineStatus &st = machines_[s.machine];
        st.machine = s.machine;
        st.lines = s.lines;
        st.hasLastShipped = s.hasLastShipped;
        if (s.hasLastShipped) st.lastShipped = s.lastShipped;
    }
}

std::vector<MachineStatus> ChainWatcher::MachinesLocked() const {
    std::vector<MachineStatus> machines;
    const UtcTime now = NowUtc();
    for (const auto &entry : machines_) {
        machines.push_back(entry.second);
        MachineStatus &st = machines.back();
        st.silent = IsSilent(st, now, options_.silentAfterHours);
        if (!st.checked && st.failure.empty()) st.failure = lastFailure_;
    }
    return machines;
}

std::vector<MachineStatus> ChainWatcher::Machines() const {
    const Locked held(&lock_);
    return MachinesLocked();
}

bool ChainWatcher::FreshCheck(long long waitSeconds, std::vector<MachineStatus> *machines,
                              std::string *why) {
    const ULONGLONG due = GetTickCount64() + static_cast<ULONGLONG>(waitSeconds) * 1000;
    Locked held(&lock_);
    const long long pass = passes_.Fresh();
    freshWanted_ = true;
    WakeAllConditionVariable(&changed_);
    while (!passes_.Finished(pass)) {
        const ULONGLONG now = GetTickCount64();
        if (stop_.load() || now >= due || passes_.Failed(pass)) {
            *why = lastFailure_.empty()
                       ? "the check did not finish within " + std::to_string(waitSeconds) + " s"
                       : "the check could not finish: " + lastFailure_;
            return false;
        }
        SleepConditionVariableSRW(&changed_, &lock_, static_cast<DWORD>(due - now), 0);
    }
    *machines = MachinesLocked();
    return true;
}

}  // namespace qz45trail
