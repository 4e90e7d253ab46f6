#include "agent/ClientDatabase.h"

#include "agent/AgentTime.h"
#include "agent/TaskRecord.h"
#include "agent/TaskTable.h"
#include "base/AgentFile.h"
#include "base/SqliteConnection.h"

#include <QFileInfo>
#include <QList>

#include <optional>

namespace corvane {

namespace {

const QString kNoInvokerState = QStringLiteral("7");

// The reschedule text and date of one row. A reschedule time that cannot be read leaves the date empty and
// says why in `problem`: the rest of the row is still worth showing.
QString rescheduleFields(const QString& periodic, const QString& timeT, QString& problem) {
    if (periodic.isEmpty())
        return QStringLiteral("No;");
    QString text;
    if (periodic == QLatin1String("0"))
        text = QStringLiteral("Yes:Error");
    else if (periodic == QLatin1String("1"))
        text = QStringLiteral("Yes:Policy");
    else
        text = QStringLiteral("Yes:") + TaskRecord::escaped(periodic); // a policy kind unknown here: show it
    if (timeT == QLatin1String("1"))
        return text + QStringLiteral(";Now");
    const std::optional<QString> date = agentTimeText(timeT);
    if (!date) {
        problem =
            timeT.isEmpty()
                ? QStringLiteral("no reschedule time, shown without its date")
                : QStringLiteral("reschedule time '%1' is not a time, shown without its date").arg(timeT);
        return text + QLatin1Char(';');
    }
    return text + QLatin1Char(';') + *date;
}

} // namespace

QString taskIdFromOperationFile(const QString& operationFile) {
    QString rest = operationFile;
    rest.remove(QStringLiteral("SDClientTask."));
    rest.remove(QStringLiteral(".xml"));
    return rest.section(QLatin1Char('.'), -1);
}

DatabaseRead loadOperations(TaskTable& table, const QString& dbPath, const QString& sql, LoadResult& result,
                            QString& error) {
    result = LoadResult();
    if (dbPath.isEmpty() || sql.isEmpty())
        return DatabaseRead::Read;
    if (!QFileInfo(dbPath).isFile()) {
        table.add(TaskRecord::kMissingDatabaseKey, TaskRecord::kMissingDatabaseRecord);
        return DatabaseRead::Missing;
    }

    // Opened once as any agent file first: a database that is no regular file, leads out of its folder or may
    // not be read is refused with that reason, where SQLite would only say it is "unable to open" it.
    {
        AgentFile probe;
        QString refused;
        if (openAgentFile(probe, dbPath, refused) == AgentFileStatus::Unreadable) {
            error = refused;
            return DatabaseRead::Failed;
        }
    }
    QList<QStringList> rows;
    QString queryError;
    SqliteConnection db(dbPath, SqliteConnection::Access::ReadOnly);
    const bool read = db.run(sql, rows, queryError);
    result.recoveredInterruptedWrite = db.recoveredInterruptedWrite();
    if (!read) {
        error = queryError;
        return DatabaseRead::Failed;
    }
    // A row that cannot be read whole is named and the load goes on, so one bad row hides no other.
    for (const QStringList& row : rows) {
        const QString operationFile = row.value(0);
        const QString state = TaskRecord::escaped(row.value(1));
        const QString taskId = taskIdFromOperationFile(operationFile);
        if (table.exists(taskId)) {
            result.rowProblems
                << QStringLiteral("%1: task id '%2' appears twice, left out").arg(operationFile, taskId);
            continue;
        }
        QString problem;
        const QString reschedule = rescheduleFields(row.value(2), row.value(3), problem);
        if (!problem.isEmpty())
            result.rowProblems << operationFile + QStringLiteral(": ") + problem;
        const QString record = TaskRecord::escaped(operationFile) + QLatin1Char(';') +
                               (state.isEmpty() ? kNoInvokerState : state) + QLatin1Char(';') + reschedule +
                               TaskRecord::kUnmergedTail;
        if (table.add(taskId, record))
            ++result.rows;
    }
    return DatabaseRead::Read;
}

} // namespace corvane
