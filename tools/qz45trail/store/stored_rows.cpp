// One machine's stored rows, read in line order by a thread of its own.
#include "stored_rows.h"

#include <process.h>

#include <climits>

#include "schema.h"
#include "tables.h"
#include "transaction.h"
#include "win_text.h"

namespace qz45trail {
namespace {

// The trail table's columns as a block of rows holds them: room for the
// texts of a trail line the service writes, the few longer ones read again.
std::vector<OdbcRowBlock::Column> BlockColumns() {
    std::vector<OdbcRowBlock::Column> columns;
    for (const Column &c : kColumns) {
        if (!c.stored) continue;
        switch (c.kind) {
        case ColumnKind::kInteger:
        case ColumnKind::kBigInt: columns.push_back({OdbcType::kInteger, 0}); break;
        case ColumnKind::kTime: columns.push_back({OdbcType::kTimestamp, 0}); break;
        case ColumnKind::kLongText: columns.push_back({OdbcType::kText, 2048}); break;
        default: columns.push_back({OdbcType::kText, 256}); break;
        }
    }
    return columns;
}

// Row r of the block: each stored field as a fresh Field would hold it, the
// room of its text kept; the others null.
void ReadRow(OdbcRowBlock *block, std::size_t r, Row *row) {
    SQLUSMALLINT column = 0;
    for (int i = 0; i < kColumnCount; ++i) {
        Field &f = (*row)[i];
        if (!kColumns[i].stored) {
            f.null = true;
            continue;
        }
        ++column;
        switch (kColumns[i].kind) {
        case ColumnKind::kInteger:
        case ColumnKind::kBigInt:
            f.null = !block->Integer(r, column, &f.number);
            if (f.null) f.number = 0;
            break;
        case ColumnKind::kTime: {
            SQL_TIMESTAMP_STRUCT s{};
            f.null = !block->Timestamp(r, column, &s);
            f.time = f.null ? UtcTime{} : FromTimestamp(s);
            break;
        }
        default:
            f.null = !block->Text(r, column, &f.text);
            if (f.null) f.text.clear();
            break;
        }
    }
}


// The first line number after `after` that machine has in the trail table;
// false when there is none.
bool NextStoredLine(const Database &db, const std::string &machine, long long after,
                    long long *n) {
    OdbcStatement next(db.connection);
    next.Run(std::string("SELECT MIN(line_no) FROM ") + kTrailTable +
                 " WHERE machine = ? AND line_no > ?",
             machine, after);
    return next.Fetch() && next.GetInteger(1, n);
}

long long RangeEnd(long long after) {
    return after > LLONG_MAX - kRangeLines ? LLONG_MAX : after + kRangeLines;
}

}  // namespace

void StoredRows::Read() {
    try {
        bool stopped = false;
        {
            const Transaction reading(db_.connection);
            stopped = !ReadAll();
        }
        if (!stopped) EndReading("", "", false);
    } catch (const OdbcError &e) {
        EndReading(e.what(), e.State(), true);
    } catch (const std::exception &e) {
        EndReading(std::string("cannot read the rows: ") + e.what(), "", true);
    }
}

bool StoredRows::ReadAll() {
    OdbcStatement select(db_.connection);
    select.Prepare("SELECT " + ColumnList() + " FROM " + kTrailTable +
                   " WHERE machine = ? AND line_no > ? AND line_no <= ? ORDER BY line_no");
    OdbcRowBlock block(&select, BlockColumns(), kBlockRows);
    Batch *filling = nullptr;
    // The first range from the lowest number on, so that a row numbered
    // below 1 comes first.
    long long after = LLONG_MIN, upTo = kRangeLines;
    for (;;) {
        select.ClearParameters();
        select.BindText(1, &machine_);
        select.BindInteger(2, &after);
        select.BindInteger(3, &upTo);
        select.Execute();
        bool any = false;
        while (block.Fetch()) {
            for (std::size_t r = 0; r < block.Rows(); ++r) {
                if (filling == nullptr && (filling = BatchToFill()) == nullptr) return false;
                StoredRow &stored = filling->rows[filling->count++];
                Row &row = stored.row;
                ReadRow(&block, r, &row);
                any = true;
                after = row[kLineNo].number;
                if (filling->count == kBatchRows) {
                    HandOverFilled();
                    filling = nullptr;
                }
            }
        }
        select.CloseCursor();
        long long next = 0;
        if (!any && (upTo == LLONG_MAX || !NextStoredLine(db_, machine_, upTo, &next))) break;
        if (!any) after = next - 1;
        if (after == LLONG_MAX) break;
        upTo = RangeEnd(after);
    }
    if (filling != nullptr) HandOverFilled();
    return true;
}

}  // namespace qz45trail
