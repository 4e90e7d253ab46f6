#pragma once

#include <QString>
#include <QStringList>

namespace corvane {

class TaskTable;

// The query that lists every operation with its invoker state and reschedule policy.
inline const QString kLoadOperationsQuery = QStringLiteral(
    "SELECT c.filename, i.state, r.periodicReschedule, r.rescheduleTimeT FROM ClientOperations c "
    "LEFT JOIN InvokerState i ON c.ClientOperations_IDN=i.ClientOperations_IDN "
    "LEFT JOIN ReschedulePolicy r ON r.operationId=c.filename");

inline const QString kDatabaseMissingMessage = QStringLiteral("Can't find SQLite Database in ");
inline const QString kRecoveredWriteNotice =
    QStringLiteral("Recovered an interrupted write of the agent database");

// How a read of the agent database ended. Its callers tell a missing database (the table then holds the
// missing-database entry alone, and the technician is told where the database was looked for) apart from
// one that could not be read, so the outcome is this small status beside the usual reason in `error`.
enum class DatabaseRead { Read, Missing, Failed };

// What a read of the database found beside its rows.
struct LoadResult {
    // Rows loaded; 0 on every failure and when the database is missing.
    int rows = 0;
    // A write that a crashed program left half done was rolled back before the read.
    bool recoveredInterruptedWrite = false;
    // One text per row that could not be read whole, naming its operation file: left out (a task id seen
    // before) or shown without what could not be read (its reschedule date). The other rows load as usual.
    QStringList rowProblems;
};

// Fills `table` with one entry per row of `sql` (the load query) run on the database at `dbPath`, and
// `result` with what the read found. Failed: nothing is added and `error` says why; otherwise `error` is left
// as it was. One connection per call, closed on every path.
DatabaseRead loadOperations(TaskTable& table, const QString& dbPath, const QString& sql, LoadResult& result,
                            QString& error);

// The task id in an operation file name: "SDClientTask." and ".xml" removed, then the last "."-piece.
QString taskIdFromOperationFile(const QString& operationFile);

} // namespace corvane
