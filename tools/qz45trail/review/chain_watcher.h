// The review page's background check of every machine's stored trail, on a
// thread and a connection of its own: full passes over every stored row that
// never stop (each row's columns against its line, the numbers without
// gaps, the chain and the shipment log, as `verify --odbc` judges them), a
// pause between them, and a fresh pass on demand.
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "page_database.h"
#include "review_data.h"
#include "watch_status.h"
#include "win_handle.h"

namespace qz45trail {

class ChainWatcher {
public:
    // Starts the passes, on a connection of its own made with connection.
    ChainWatcher(std::string connection, WatchOptions options);
    // Stops the pass under way and returns once the thread has ended.
    ~ChainWatcher();
    ChainWatcher(const ChainWatcher &) = delete;
    ChainWatcher &operator=(const ChainWatcher &) = delete;

    // Reads the shipment log again (each machine's lines and last shipment),
    // in the connection's transaction of the moment.
    void Refresh(const OdbcConnection &connection);

    // Each machine as its last full check found it, by name.
    std::vector<MachineStatus> Machines() const;

    // A full pass that starts after this call, waited for up to waitSeconds:
    // true and its statuses, else false (*why says what happened).
    bool FreshCheck(long long waitSeconds, std::vector<MachineStatus> *machines,
                    std::string *why);

private:
    static unsigned __stdcall RunOnThread(void *self);
    void Run();
    void Pass(PageDatabase *database);
    void Publish(MachineStatus status);
    void PauseBetweenPasses(PageDatabase *database);
    bool NewLinesShipped(PageDatabase *database);
    void TakeShipped(const std::vector<MachineStatus> &shipped);
    std::vector<MachineStatus> MachinesLocked() const;

    const WatchOptions options_;
    const std::string connection_;

    mutable SRWLOCK lock_ = SRWLOCK_INIT;  // guards what follows
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    std::map<std::string, MachineStatus> machines_;
    PassCount passes_;
    bool freshWanted_ = false;
    std::atomic<bool> stop_{false};
    std::string lastFailure_;

    UniqueHandle thread_;  // last: started once the rest is there
};

}  // namespace qz45trail
