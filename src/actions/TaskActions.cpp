#include "TaskActions.h"

#include "ClientDatabase.h"
#include "Feedback.h"
#include "TaskRecord.h"
#include "TaskTable.h"

namespace corvane {

namespace {

const QString kReschedulePolicyStatus = QStringLiteral("Updating SQLite : ReschedulePolicy");
const QString kInvokerStateStatus = QStringLiteral("Updating SQLite : InvokerState");
const QString kPackageStateStatus = QStringLiteral("Updating SQLite : PackageState");

const QString kStopReschedule = QStringLiteral("DELETE FROM ReschedulePolicy WHERE operationId=XXXXX");
const QString kStopInvoker = QStringLiteral(
    "UPDATE InvokerState SET state=6 WHERE ClientOperations_IDN IN ( SELECT c.ClientOperations_IDN FROM "
    "ClientOperations c WHERE c.filename = XXXXX )");
const QString kReinstallPackageState = QStringLiteral("DELETE FROM PackageState WHERE Task = ");
const QString kReinstallReschedule =
    QStringLiteral("UPDATE ReschedulePolicy SET rescheduleTimeT = 1 WHERE operationId=XXXXX");
const QString kReinstallInvoker = QStringLiteral(
    "UPDATE InvokerState SET state=0 WHERE ClientOperations_IDN IN ( SELECT c.ClientOperations_IDN FROM "
    "ClientOperations c LEFT JOIN ReschedulePolicy r ON c.filename=r.operationId WHERE c.filename = XXXXX )");

// The templates hold the placeholder where the quoted value goes; quotes inside the value are doubled so
// the statement touches exactly the named operation.
QString fill(const QString& sqlTemplate, const QString& value) {
    QString sql = sqlTemplate;
    return sql.replace(QStringLiteral("XXXXX"), sqlQuoted(value));
}

bool hasReschedulePolicy(const QStringList& fields) {
    return TaskRecord::field(fields, TaskRecord::kReschedule) != QLatin1String("No");
}

} // namespace

QString packageStateTask(const QString& operationFile) {
    QString task = operationFile;
    task.remove(QStringLiteral(".xml"));
    task.replace(QStringLiteral("SDClientTask"), QStringLiteral("SWD.MultipleTaskProtection"));
    return task;
}

bool stopRefused(const QStringList& fields) {
    bool ok = false;
    const int state = TaskRecord::field(fields, TaskRecord::kInvokerState).trimmed().toInt(&ok);
    return ok && (state == 0 || state == 4);
}

QList<Statement> stopStatements(const QStringList& fields) {
    const QString operationFile = TaskRecord::field(fields, TaskRecord::kOperationFile);
    QList<Statement> statements;
    if (hasReschedulePolicy(fields))
        statements.append({kReschedulePolicyStatus, fill(kStopReschedule, operationFile)});
    statements.append({kInvokerStateStatus, fill(kStopInvoker, operationFile)});
    return statements;
}

QList<Statement> reinstallStatements(const QStringList& fields) {
    const QString operationFile = TaskRecord::field(fields, TaskRecord::kOperationFile);
    QList<Statement> statements;
    statements.append(
        {kPackageStateStatus, kReinstallPackageState + sqlQuoted(packageStateTask(operationFile))});
    if (hasReschedulePolicy(fields))
        statements.append({kReschedulePolicyStatus, fill(kReinstallReschedule, operationFile)});
    statements.append({kInvokerStateStatus, fill(kReinstallInvoker, operationFile)});
    return statements;
}

WalkResult runCheckedRowWalk(const QList<CheckedRow>& rows, const TaskTable& table, TaskAction action,
                             const QString& dbPath, QString& dbErrorText, Feedback& feedback) {
    WalkResult result;
    auto tell = [&](const QString& text) {
        ++result.messages;
        feedback.showMessage(text);
    };
    for (const CheckedRow& row : rows) {
        if (!row.checked)
            continue;
        const QString taskId = row.key.mid(1);
        result.lastTaskId = taskId;
        if (!table.exists(taskId)) {
            tell(kTaskNotFoundMessage);
            continue;
        }
        const QStringList fields = TaskRecord::split(table.item(taskId));
        if (action == TaskAction::StopInstall && stopRefused(fields)) {
            tell(kTaskActiveMessage);
            continue;
        }
        const QList<Statement> statements =
            action == TaskAction::StopInstall ? stopStatements(fields) : reinstallStatements(fields);
        // Every statement runs even after one fails, as each stands alone; the technician hears of it once.
        QString firstError;
        for (const Statement& statement : statements) {
            feedback.setStatus(statement.status);
            QString errText;
            if (!execStatement(dbPath, statement.sql, errText)) {
                dbErrorText = errText;
                if (firstError.isEmpty())
                    firstError = errText;
            }
            feedback.setStatus(QString());
        }
        if (!firstError.isEmpty()) {
            ++result.failedTasks;
            tell(QStringLiteral("Task %1 was not changed, the agent database answered: %2")
                     .arg(taskId, firstError));
        }
    }
    if (result.lastTaskId.isEmpty())
        tell(kNothingCheckedMessage);
    return result;
}

} // namespace corvane
