// Rows into the trail table, many to a statement, on a thread of their own.
#include "row_inserter.h"

#include <process.h>

#include <algorithm>
#include <stdexcept>

#include "line_range.h"
#include "schema.h"
#include "tables.h"
#include "transaction.h"

namespace qz45trail {
namespace {

// The INSERT of one row, parameters in column order.
std::string InsertSql() {
    std::string values;
    for (const Column &c : kColumns)
        if (c.stored) values += values.empty() ? "?" : ", ?";
    return std::string("INSERT INTO ") + kTrailTable + " (" + ColumnList() + ") VALUES (" + values +
           ")";
}

// The row's stored values as the parameters from number first on.
void BindRowAt(OdbcStatement *insert, const Row &row, std::size_t first) {
    SQLUSMALLINT n = static_cast<SQLUSMALLINT>(first - 1);
    for (int i = 0; i < kColumnCount; ++i) {
        const Field &f = row[i];
        if (!kColumns[i].stored) continue;
        ++n;
        switch (kColumns[i].kind) {
        case ColumnKind::kInteger:
        case ColumnKind::kBigInt: insert->BindInteger(n, f.null ? nullptr : &f.number); break;
        case ColumnKind::kTime: {
            const SQL_TIMESTAMP_STRUCT t = Timestamp(f.time);
            insert->BindTimestamp(n, f.null ? nullptr : &t);
            break;
        }
        default: insert->BindText(n, f.null ? nullptr : &f.text); break;
        }
    }
}

std::string RowsRange(const std::vector<Row> &rows, std::size_t first, std::size_t end) {
    return LineRange(rows[first][kLineNo].number, rows[end - 1][kLineNo].number);
}

}  // namespace

RowInserter::RowInserter(const Database &db)
    : db_(db), manyRowsInsert_(db.connection), oneRowInsert_(db.connection) {}

RowInserter::~RowInserter() { Wait(); }

void RowInserter::Wait() const {
    if (thread_.Valid()) WaitForSingleObject(thread_.Get(), INFINITE);
}

void RowInserter::Start(const std::vector<Row> &rows) {
    if (started_ != nullptr) throw std::logic_error("rows started before the last were finished");
    started_ = &rows;
    failed_ = false;
    if (rows.empty()) return;
    thread_ = UniqueHandle(reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, InsertOnThread, this, 0, nullptr)));
    // Without a thread of their own they go in here and now.
    if (!thread_.Valid()) InsertAll();
}

void RowInserter::Finish() {
    if (started_ == nullptr) return;
    Wait();
    thread_ = UniqueHandle();
    const std::vector<Row> &rows = *started_;
    started_ = nullptr;
    if (!failed_) return;
    if (!odbcFailure_) throw std::runtime_error(failure_);
    const OdbcError e(failure_, failureState_);
    const std::string words = RowsRange(rows, 0, failedEnd_) + ": " + e.what();
    if (e.Transient()) throw OdbcError(words, e.State());
    throw RowsRefused(words, e.State(), failedEnd_);
}

unsigned __stdcall RowInserter::InsertOnThread(void *self) {
    static_cast<RowInserter *>(self)->InsertAll();
    return 0;
}

// The rows started, an INSERT for each kRowsPerInsert of them; how it ended
// is left for Finish.
void RowInserter::InsertAll() {
    const std::vector<Row> &rows = *started_;
    for (std::size_t at = 0; at < rows.size(); at += kRowsPerInsert) {
        const std::size_t n = std::min(kRowsPerInsert, rows.size() - at);
        try {
            InsertMany(rows, at, n);
        } catch (const OdbcError &e) {
            failed_ = odbcFailure_ = true;
            failure_ = e.what();
            failureState_ = e.State();
            failedEnd_ = at + n;
            return;
        } catch (const std::exception &e) {
            failed_ = true;
            odbcFailure_ = false;
            failure_ = e.what();
            return;
        }
    }
}

void RowInserter::InsertMany(const std::vector<Row> &rows, std::size_t first, std::size_t count) {
    if (count != manyRows_) {
        const std::string one = InsertSql();
        const std::string values = one.substr(one.find(" VALUES ") + 8);
        std::string sql = one;
        for (std::size_t i = 1; i < count; ++i) sql += ", " + values;
        manyRows_ = 0;
        manyRowsInsert_.Prepare(sql);
        manyRows_ = count;
    }
    manyRowsInsert_.ClearParameters();
    for (std::size_t i = 0; i < count; ++i)
        BindRowAt(&manyRowsInsert_, rows[first + i], 1 + i * StoredColumnCount());
    manyRowsInsert_.Execute();
}

void RowInserter::NameRefused(const std::vector<Row> &rows, const RowsRefused &refused) {
    // The rows that went in with the refused INSERT, again, one INSERT each:
    // the first refused is the line to name. Nothing of it stays.
    const Transaction trying(db_.connection);
    std::size_t at = 0;
    try {
        if (!oneRowPrepared_) {
            oneRowInsert_.Prepare(InsertSql());
            oneRowPrepared_ = true;
        }
        for (; at < refused.End(); ++at) {
            oneRowInsert_.ClearParameters();
            BindRowAt(&oneRowInsert_, rows[at], 1);
            oneRowInsert_.Execute();
        }
    } catch (const OdbcError &e) {
        throw OdbcError(RowsRange(rows, at, at + 1) + ": " + e.what(), e.State());
    }
    throw OdbcError(refused.what(), refused.State());
}

}  // namespace qz45trail
