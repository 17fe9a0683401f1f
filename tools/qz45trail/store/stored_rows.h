// One machine's stored rows in line order, read by a thread of its own
// while the caller checks the rows read before.
#pragma once

#include <windows.h>

#include <process.h>

#include <string>
#include <vector>

#include "database.h"
#include "trail_row.h"
#include "win_handle.h"

namespace qz45trail {

// Rows per fetch, line numbers per query (the driver may hold a query's
// whole result in memory), rows handed over at a time, and the most handed
// over and not yet checked.
constexpr std::size_t kBlockRows = 64;
constexpr long long kRangeLines = 2000;
constexpr std::size_t kBatchRows = 256;
constexpr std::size_t kBatches = 10;

// A stored row: its stored columns (the others null).
struct StoredRow {
    Row row;
};

// One machine's stored rows in the order of their line numbers, read by a
// thread of its own while the caller checks the rows read before: reading
// (the server's work, the driver's, the texts' conversion)
// costs about as much as checking, and the two go side by side. The reading
// takes next to nothing from the process's heap once its rows have room for
// their texts: two threads that both allocate much wait for each other there.
class StoredRows {
public:
    StoredRows(const Database &db, const std::string &machine)
        : db_(db), machine_(machine), batches_(kBatches) {
        for (Batch &b : batches_) b.rows.resize(kBatchRows);
        thread_ = UniqueHandle(reinterpret_cast<HANDLE>(
            _beginthreadex(nullptr, 0, ReadOnThread, this, 0, nullptr)));
        if (!thread_.Valid())
            throw OdbcError("cannot start reading the rows: " + ErrorText(GetLastError()), "");
    }

    // Stops the reading, and returns once the connection is the caller's again.
    ~StoredRows() {
        AcquireSRWLockExclusive(&lock_);
        stop_ = true;
        ReleaseSRWLockExclusive(&lock_);
        WakeAllConditionVariable(&changed_);
        WaitForSingleObject(thread_.Get(), INFINITE);
    }

    StoredRows(const StoredRows &) = delete;
    StoredRows &operator=(const StoredRows &) = delete;

    // The next row, null after the last; a failure of the reading throws in
    // its place, once the rows read before it are taken.
    const StoredRow *Next() {
        if (taking_ != nullptr && taken_ < taking_->count) return &taking_->rows[taken_++];
        AcquireSRWLockExclusive(&lock_);
        if (taking_ != nullptr) {
            taking_ = nullptr;
            head_ = (head_ + 1) % kBatches;
            --ready_;
            WakeAllConditionVariable(&changed_);
        }
        while (ready_ == 0 && !done_) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
        if (ready_ > 0) {
            taking_ = &batches_[head_];
            taken_ = 0;
        }
        ReleaseSRWLockExclusive(&lock_);
        if (taking_ == nullptr) {
            if (failed_) throw OdbcError(failure_, failureState_);
            return nullptr;
        }
        return &taking_->rows[taken_++];  // a batch is handed over with a row at least
    }

private:
    struct Batch {
        std::vector<StoredRow> rows;
        std::size_t count = 0;
    };

    static unsigned __stdcall ReadOnThread(void *self) {
        static_cast<StoredRows *>(self)->Read();
        return 0;
    }

    // A batch to fill, waiting while every one is full; null once stopped.
    Batch *BatchToFill() {
        AcquireSRWLockExclusive(&lock_);
        while (ready_ == kBatches && !stop_)
            SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
        Batch *b = stop_ ? nullptr : &batches_[tail_];
        ReleaseSRWLockExclusive(&lock_);
        if (b != nullptr) b->count = 0;
        return b;
    }

    // The batch filled last, to be taken.
    void HandOverFilled() {
        AcquireSRWLockExclusive(&lock_);
        tail_ = (tail_ + 1) % kBatches;
        ++ready_;
        ReleaseSRWLockExclusive(&lock_);
        WakeAllConditionVariable(&changed_);
    }

    // No more batches: the reading is over, failed with failure (and its
    // SQLSTATE) when failed.
    void EndReading(const std::string &failure, const std::string &state, bool failed) {
        AcquireSRWLockExclusive(&lock_);
        done_ = true;
        failed_ = failed;
        failure_ = failure;
        failureState_ = state;
        ReleaseSRWLockExclusive(&lock_);
        WakeAllConditionVariable(&changed_);
    }

    // The thread's work: the rows read in a transaction of its own, which
    // is over (rolled back) before the reading is said to be.
    void Read();
    // A range of line numbers per query, a block of rows per fetch; past a
    // range without rows, on from the next stored line. False when stopped.
    bool ReadAll();

    const Database &db_;
    const std::string machine_;
    std::vector<Batch> batches_;  // a ring: head_ to be taken, tail_ to be filled
    UniqueHandle thread_;

    SRWLOCK lock_ = SRWLOCK_INIT;  // guards what follows
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    std::size_t head_ = 0, tail_ = 0, ready_ = 0;
    bool stop_ = false, done_ = false, failed_ = false;
    std::string failure_, failureState_;

    Batch *taking_ = nullptr;  // the caller's, at head_
    std::size_t taken_ = 0;
};

}  // namespace qz45trail
