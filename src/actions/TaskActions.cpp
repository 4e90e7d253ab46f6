#include "TaskActions.h"

#include "ClientDatabase.h"
#include "Feedback.h"
#include "SqliteConnection.h"
#include "TaskRecord.h"
#include "TaskRow.h"
#include "TaskTable.h"

#include <algorithm>

namespace corvane {

namespace {

const QString kReschedulePolicyStatus = QStringLiteral("Updating SQLite : ReschedulePolicy");
const QString kInvokerStateStatus = QStringLiteral("Updating SQLite : InvokerState");
const QString kPackageStateStatus = QStringLiteral("Updating SQLite : PackageState");

// The statements name the operation by its file name exactly as the database stores it, bound as ?1.
const QString kStopReschedule = QStringLiteral("DELETE FROM ReschedulePolicy WHERE operationId=?1");
const QString kStopInvoker = QStringLiteral(
    "UPDATE InvokerState SET state=6 WHERE ClientOperations_IDN IN ( SELECT c.ClientOperations_IDN FROM "
    "ClientOperations c WHERE c.filename = ?1 )");
const QString kReinstallPackageState = QStringLiteral("DELETE FROM PackageState WHERE Task = ?1");
const QString kReinstallReschedule =
    QStringLiteral("UPDATE ReschedulePolicy SET rescheduleTimeT = 1 WHERE operationId=?1");
const QString kReinstallInvoker = QStringLiteral(
    "UPDATE InvokerState SET state=0 WHERE ClientOperations_IDN IN ( SELECT c.ClientOperations_IDN FROM "
    "ClientOperations c LEFT JOIN ReschedulePolicy r ON c.filename=r.operationId WHERE c.filename = ?1 )");

// What a task's state is read from, inside the transaction that may change it.
const QString kOperationFiles = QStringLiteral("SELECT ClientOperations_IDN, filename FROM ClientOperations");
const QString kInvokerStates =
    QStringLiteral("SELECT state FROM InvokerState WHERE ClientOperations_IDN IN ( SELECT "
                   "c.ClientOperations_IDN FROM ClientOperations c WHERE c.filename = ?1 )");
const QString kReschedulePolicies =
    QStringLiteral("SELECT periodicReschedule FROM ReschedulePolicy WHERE operationId=?1");
const QString kPackageStates = QStringLiteral("SELECT count(*) FROM PackageState WHERE Task = ?1");

struct Statement {
    QString status;
    QString sql;
    SqlValue value;
};

// One task's outcome and, when it is to be changed, the statements that change it.
struct TaskStep {
    TaskOutcome outcome;
    QList<Statement> statements;
    int invokerRows = 0; // rows the state update must change
};

// Messages name a task as the list shows it: a name of megabytes, cut, cannot hang the message box.
QString taskName(const ActionTarget& target) {
    return target.packageName.isEmpty() ? QStringLiteral("task %1").arg(cappedCell(target.taskId))
                                        : QStringLiteral("%1 (task %2)")
                                              .arg(cappedCell(target.packageName), cappedCell(target.taskId));
}

QString notChanged(const QString& taskId, const QString& packageName, const QString& why) {
    return QStringLiteral("Task %1%2 was not changed%3")
        .arg(cappedCell(taskId),
             packageName.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(cappedCell(packageName)), why);
}
QString notChanged(const ActionTarget& target, const QString& why) {
    return notChanged(target.taskId, target.packageName, why);
}

// A task whose change failed on the way: the caller rolls its transaction back.
void markNotChanged(TaskOutcome& outcome, const QString& why) {
    outcome.kind = TaskOutcome::Kind::NotChanged;
    outcome.changes.clear();
    outcome.reason = notChanged(outcome.taskId, outcome.packageName, why);
}

QString databaseAnswer(const QString& error) {
    return QStringLiteral(", the agent database answered: ") + error;
}

// A state as the task list names it, or the stored value when it has no name.
QString stateText(const SqlValue& state) {
    const QString name = StateNames::name(state.text());
    return name.isEmpty() ? QStringLiteral("'%1'").arg(state.text()) : name;
}

TaskStep decided(const ActionTarget& target, TaskOutcome::Kind kind, const QString& reason) {
    TaskStep step;
    step.outcome = {kind, target.taskId, target.packageName, {}, reason};
    return step;
}

// Reads the task's operation as the database holds it now and decides what the action does to it. Shared by
// the preview and the action, so that the preview shows what the action then does.
TaskStep planTask(SqliteConnection& db, TaskAction action, const ActionTarget& target) {
    using Kind = TaskOutcome::Kind;
    const QString operationFile = TaskRecord::firstField(*target.record);

    // The operation the row was read from: its file name reads as the record's, however it is stored.
    QList<QList<SqlValue>> rows;
    QString error;
    if (!db.query(kOperationFiles, {}, rows, error))
        return decided(target, Kind::NotChanged, notChanged(target, databaseAnswer(error)));
    QList<SqlValue> matches;
    for (const QList<SqlValue>& row : rows) {
        if (row.value(1).text() == operationFile)
            matches.append(row.value(1));
    }
    if (matches.isEmpty())
        return decided(target, Kind::NotChanged,
                       notChanged(target, QStringLiteral(": it is no longer in the agent database")));
    if (matches.size() > 1)
        return decided(target, Kind::NotChanged,
                       notChanged(target, QStringLiteral(": %1 operations in the agent database carry its "
                                                         "file name")
                                              .arg(matches.size())));
    const SqlValue filename = matches.first();

    QList<QList<SqlValue>> states;
    QList<QList<SqlValue>> policies;
    if (!db.query(kInvokerStates, {filename}, states, error) ||
        !db.query(kReschedulePolicies, {filename}, policies, error))
        return decided(target, Kind::NotChanged, notChanged(target, databaseAnswer(error)));
    if (states.isEmpty())
        return decided(target, Kind::NotChanged, notChanged(target, QStringLiteral(": no matching row")));
    const SqlValue state = states.first().value(0);
    bool hasPolicy = false;
    for (const QList<SqlValue>& policy : policies)
        hasPolicy = hasPolicy || !policy.value(0).text().isEmpty();

    TaskStep step = decided(target, Kind::Change, QString());
    step.invokerRows = int(states.size());
    if (action == TaskAction::StopInstall) {
        for (const QList<SqlValue>& row : states) {
            bool readable = false;
            const int code = row.value(0).text().trimmed().toInt(&readable);
            if (!readable)
                return decided(target, Kind::Refused,
                               QStringLiteral("Can't stop %1: its invoker state '%2' can't be read")
                                   .arg(taskName(target), row.value(0).text()));
            if (code == 0 || code == 4)
                return decided(target, Kind::Refused,
                               QStringLiteral("%1: %2 is %3")
                                   .arg(kTaskActiveMessage, taskName(target), stateText(row.value(0))));
        }
        if (hasPolicy) {
            step.statements.append({kReschedulePolicyStatus, kStopReschedule, filename});
            step.outcome.changes << QStringLiteral("reschedule policy deleted");
        }
        step.statements.append({kInvokerStateStatus, kStopInvoker, filename});
        step.outcome.changes << QStringLiteral("invoker state %1 -> Completed").arg(stateText(state));
        return step;
    }

    // The package-state name is derived from the stored bytes and stored the way the file name is.
    SqlValue task = filename;
    task.type = filename.type == SqlValue::Type::Blob ? SqlValue::Type::Blob : SqlValue::Type::Text;
    task.bytes.replace(".xml", "").replace("SDClientTask", "SWD.MultipleTaskProtection");
    QList<QList<SqlValue>> packageStates;
    if (!db.query(kPackageStates, {task}, packageStates, error))
        return decided(target, Kind::NotChanged, notChanged(target, databaseAnswer(error)));
    const int packageRows = packageStates.value(0).value(0).text().toInt();
    step.statements.append({kPackageStateStatus, kReinstallPackageState, task});
    if (packageRows > 0)
        step.outcome.changes << QStringLiteral("%1 package state row(s) deleted").arg(packageRows);
    if (hasPolicy) {
        step.statements.append({kReschedulePolicyStatus, kReinstallReschedule, filename});
        step.outcome.changes << QStringLiteral("reschedule time -> Now");
    }
    step.statements.append({kInvokerStateStatus, kReinstallInvoker, filename});
    step.outcome.changes << QStringLiteral("invoker state %1 -> Resume").arg(stateText(state));
    return step;
}

// The outcome of a target that needs no database: not in the table, or the missing-database entry.
std::optional<TaskOutcome> outcomeWithoutDatabase(const ActionTarget& target, const QString& dbPath) {
    if (!target.record)
        return TaskOutcome{
            TaskOutcome::Kind::Refused,
            target.taskId,
            target.packageName,
            {},
            QStringLiteral("%1 (task %2)").arg(kTaskNotFoundMessage, cappedCell(target.taskId))};
    if (target.taskId == TaskRecord::kMissingDatabaseKey &&
        *target.record == TaskRecord::kMissingDatabaseRecord)
        return TaskOutcome{TaskOutcome::Kind::Refused,
                           target.taskId,
                           target.packageName,
                           {},
                           kDatabaseMissingMessage + dbPath};
    return std::nullopt;
}

// Every way through a task's transaction: decide inside it, then apply (or, for a preview, leave it).
template <typename Apply>
ActionReport walk(TaskAction action, const QList<ActionTarget>& targets, const QString& dbPath, bool preview,
                  const QString& begin, Apply apply) {
    ActionReport report;
    report.action = action;
    report.preview = preview;
    std::optional<SqliteConnection> db;
    for (const ActionTarget& target : targets) {
        if (const std::optional<TaskOutcome> outcome = outcomeWithoutDatabase(target, dbPath)) {
            report.tasks.append(*outcome);
            continue;
        }
        if (!db) // the preview only reads: it opens the database as the list does
            db.emplace(dbPath,
                       preview ? SqliteConnection::Access::ReadOnly : SqliteConnection::Access::ReadWrite);
        QString error;
        // Waits once for a lock the agent holds, then owns the task until COMMIT or ROLLBACK.
        if (!db->exec(begin, error)) {
            report.tasks.append(
                decided(target, TaskOutcome::Kind::NotChanged, notChanged(target, databaseAnswer(error)))
                    .outcome);
            continue;
        }
        TaskStep step = planTask(*db, action, target);
        if (step.outcome.kind == TaskOutcome::Kind::Change)
            apply(*db, step);
        QString ignored;
        if (step.outcome.kind != TaskOutcome::Kind::Change || preview)
            db->exec(QStringLiteral("ROLLBACK"), ignored);
        report.tasks.append(step.outcome);
    }
    return report;
}

} // namespace

QString actionName(TaskAction action) {
    return action == TaskAction::StopInstall ? QStringLiteral("Stop Install") : QStringLiteral("Reinstall");
}

QList<ActionTarget> checkedTargets(const QList<CheckedRow>& rows, const TaskTable& table) {
    QList<ActionTarget> targets;
    for (const CheckedRow& row : rows) {
        if (!row.checked)
            continue;
        ActionTarget target{row.key.mid(1), row.application, std::nullopt};
        if (table.exists(target.taskId))
            target.record = table.item(target.taskId);
        targets.append(target);
    }
    return targets;
}

int ActionReport::count(TaskOutcome::Kind kind) const {
    return int(std::count_if(tasks.cbegin(), tasks.cend(),
                             [kind](const TaskOutcome& task) { return task.kind == kind; }));
}

QString ActionReport::summary() const {
    const bool stop = action == TaskAction::StopInstall;
    QString done = preview ? (stop ? QStringLiteral("to stop") : QStringLiteral("to reinstall"))
                           : (stop ? QStringLiteral("stopped") : QStringLiteral("reinstalled"));
    QString text =
        QStringLiteral("%1: %2 %3").arg(actionName(action)).arg(count(TaskOutcome::Kind::Change)).arg(done);
    if (const int refused = count(TaskOutcome::Kind::Refused))
        text += QStringLiteral(", %1 refused").arg(refused);
    if (const int failed = count(TaskOutcome::Kind::NotChanged))
        text += QStringLiteral(", %1 not changed").arg(failed);
    return text;
}

QString ActionReport::problems() const {
    QStringList lines;
    for (const TaskOutcome& task : tasks) {
        if (task.kind != TaskOutcome::Kind::Change)
            lines << task.reason;
    }
    return lines.join(QLatin1Char('\n'));
}

ActionReport planAction(TaskAction action, const QList<ActionTarget>& targets, const QString& dbPath) {
    // A read transaction: the same reads as the action's, nothing written.
    return walk(action, targets, dbPath, true, QStringLiteral("BEGIN"), [](SqliteConnection&, TaskStep&) {});
}

ActionReport runAction(TaskAction action, const QList<ActionTarget>& targets, const QString& dbPath,
                       Feedback& status) {
    return walk(action, targets, dbPath, false, QStringLiteral("BEGIN IMMEDIATE"),
                [&status](SqliteConnection& db, TaskStep& step) {
                    QString error;
                    for (const Statement& statement : step.statements) {
                        status.setStatus(statement.status);
                        const bool ran = db.exec(statement.sql, error, {statement.value});
                        status.setStatus(QString());
                        if (!ran)
                            return markNotChanged(step.outcome, databaseAnswer(error));
                    }
                    // The state update comes last: it changed as many rows as were read, or the task is
                    // left as it was.
                    if (db.changes() != step.invokerRows)
                        return markNotChanged(step.outcome, QStringLiteral(": no matching row"));
                    if (!db.exec(QStringLiteral("COMMIT"), error))
                        markNotChanged(step.outcome, databaseAnswer(error));
                });
}

} // namespace corvane
