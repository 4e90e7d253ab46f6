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

struct LoadResult {
    // Rows loaded; 0 on every failure and when the database is missing.
    int rows = 0;
    // No database file at the path: the table then holds the missing-database entry alone, and the
    // caller tells the technician.
    bool databaseMissing = false;
    // The database could not be opened or read; `errText` has the reason.
    bool failed = false;
    // A write that a crashed program left half done was rolled back before the read.
    bool recoveredInterruptedWrite = false;
    // One text per row that could not be read whole, naming its operation file: left out (a task id seen
    // before) or shown without what could not be read (its reschedule date). The other rows load as usual.
    QStringList rowProblems;
};

// Fills `table` with one entry per row of `sql` (the load query) run on the database at `dbPath`.
// When the query fails `errText` receives its description and nothing is added; otherwise `errText` is left
// as it was. One connection per call, closed on every path.
LoadResult loadOperations(TaskTable& table, const QString& dbPath, const QString& sql, QString& errText);

// The task id in an operation file name: "SDClientTask." and ".xml" removed, then the last "."-piece.
QString taskIdFromOperationFile(const QString& operationFile);

} // namespace corvane
