#include "ClientDatabase.h"

#include "AgentTime.h"
#include "SqliteConnection.h"
#include "TaskRecord.h"
#include "TaskTable.h"

#include <QFileInfo>
#include <QList>

#include <optional>

namespace corvane {

namespace {

const QString kNoInvokerState = QStringLiteral("7");

// The reschedule text and date of one row, or nothing when the reschedule time cannot be read.
std::optional<QString> rescheduleFields(const QString& periodic, const QString& timeT, QString& failure) {
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
        failure = QStringLiteral("Reschedule time is not a valid time: '%1'").arg(timeT);
        return std::nullopt;
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

QString sqlQuoted(const QString& value) {
    QString doubled = value;
    doubled.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + doubled + QLatin1Char('\'');
}

LoadResult loadOperations(TaskTable& table, const QString& dbPath, const QString& sql, QString& errText) {
    LoadResult result;
    if (dbPath.isEmpty() || sql.isEmpty())
        return result;
    if (!QFileInfo(dbPath).isFile()) {
        table.add(TaskRecord::kMissingDatabaseKey, TaskRecord::kMissingDatabaseRecord);
        result.databaseMissing = true;
        return result;
    }

    QList<QStringList> rows;
    QString error;
    SqliteConnection db(dbPath, SqliteConnection::Access::ReadOnly);
    if (!db.run(sql, rows, error)) {
        errText = error;
        result.failed = true;
        return result;
    }
    // A row that breaks a rule the list relies on stops the load; the entries before it stay.
    for (const QStringList& row : rows) {
        const QString operationFile = row.value(0);
        const QString state = TaskRecord::escaped(row.value(1));
        const QString taskId = taskIdFromOperationFile(operationFile);
        QString failure;
        const std::optional<QString> reschedule = rescheduleFields(row.value(2), row.value(3), failure);
        if (!reschedule) {
            errText = failure;
            result.failed = true;
            return result;
        }
        const QString record = TaskRecord::escaped(operationFile) + QLatin1Char(';') +
                               (state.isEmpty() ? kNoInvokerState : state) + QLatin1Char(';') + *reschedule +
                               TaskRecord::kUnmergedTail;
        if (!table.add(taskId, record)) {
            errText =
                QStringLiteral("Task id '%1' appears twice (operation file '%2')").arg(taskId, operationFile);
            result.failed = true;
            return result;
        }
    }
    result.rows = int(rows.size());
    return result;
}

bool execStatement(const QString& dbPath, const QString& sql, QString& errText) {
    if (dbPath.isEmpty() || sql.isEmpty())
        return false;
    QList<QStringList> rows;
    QString error;
    SqliteConnection db(dbPath);
    if (!db.run(sql, rows, error)) {
        errText = error;
        return false;
    }
    return true;
}

} // namespace corvane
