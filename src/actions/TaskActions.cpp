#include "actions/TaskActions.h"

#include "actions/Journal.h"
#include "agent/ClientDatabase.h"
#include "agent/TaskRecord.h"
#include "agent/TaskTable.h"
#include "base/SqliteConnection.h"
#include "tasklist/Feedback.h"
#include "tasklist/TaskRow.h"

#include <algorithm>

namespace corvane {

namespace {

const QString kReschedulePolicyStatus = QStringLiteral("Updating SQLite : ReschedulePolicy");
const QString kInvokerStateStatus = QStringLiteral("Updating SQLite : InvokerState");
const QString kPackageStateStatus = QStringLiteral("Updating SQLite : PackageState");

// Every change names its row by rowid: the rows the task's own transaction read, and no other, whatever
// collation or trigger the agent's schema has.
const QString kStopReschedule = QStringLiteral("DELETE FROM ReschedulePolicy WHERE rowid = ?1");
const QString kStopInvoker = QStringLiteral("UPDATE InvokerState SET state=6 WHERE rowid = ?1");
const QString kReinstallPackageState = QStringLiteral("DELETE FROM PackageState WHERE rowid = ?1");
const QString kReinstallReschedule =
    QStringLiteral("UPDATE ReschedulePolicy SET rescheduleTimeT = 1 WHERE rowid = ?1");
const QString kReinstallInvoker = QStringLiteral("UPDATE InvokerState SET state=0 WHERE rowid = ?1");

// Where the rows are: one pass over each table, then each row read again by rowid inside the task's own
// transaction.
const QString kDataVersion = QStringLiteral("PRAGMA data_version");
const QString kAllOperations = QStringLiteral("SELECT ClientOperations_IDN, filename FROM ClientOperations");
const QString kAllInvokerStates = QStringLiteral("SELECT rowid, ClientOperations_IDN FROM InvokerState");
const QString kAllPolicies = QStringLiteral("SELECT rowid, operationId FROM ReschedulePolicy");
const QString kAllPackageStates = QStringLiteral("SELECT rowid, Task FROM PackageState");
const QString kOperationRow = QStringLiteral(
    "SELECT ClientOperations_IDN, filename FROM ClientOperations WHERE ClientOperations_IDN = ?1");
const QString kInvokerStateRow =
    QStringLiteral("SELECT rowid, state, ClientOperations_IDN FROM InvokerState WHERE rowid = ?1");
const QString kPolicyRow = QStringLiteral(
    "SELECT rowid, periodicReschedule, rescheduleTimeT, operationId FROM ReschedulePolicy WHERE rowid = ?1");
const QString kPackageStateRow = QStringLiteral("SELECT rowid, Task FROM PackageState WHERE rowid = ?1");

// A stored value as a hash key that tells storage classes apart, as SQLite's comparison does.
QByteArray valueKey(const SqlValue& value) {
    return char('0' + int(value.type)) + value.bytes;
}

// Which rows belong to which operation, read in one pass per table and trusted only while no other
// connection has committed to the database since (SQLite's data version). A task then costs a few lookups
// by rowid instead of a pass over every table, which is what makes thousands of tasks among tens of
// thousands of operations quick. Every row it names is read again inside the task's transaction.
class RowIndex {
public:
    bool update(SqliteConnection& db, QString& error) {
        QList<QList<SqlValue>> rows;
        if (!db.query(kDataVersion, {}, rows, error))
            return false;
        const SqlValue version = rows.value(0).value(0);
        if (m_built && version == m_version)
            return true;
        m_operations.clear();
        m_invokerStates.clear();
        m_policies.clear();
        m_packageStates.clear();
        if (!db.query(kAllOperations, {}, rows, error))
            return false;
        for (const QList<SqlValue>& row : rows)
            m_operations[row.value(1).text()].append(row.value(0));
        if (!index(db, kAllInvokerStates, m_invokerStates, error) ||
            !index(db, kAllPolicies, m_policies, error))
            return false;
        // Stop Install works on a database without a PackageState table, as it never reads it.
        m_packageStatesError.clear();
        if (!index(db, kAllPackageStates, m_packageStates, m_packageStatesError) && db.lastFailureWasBusy()) {
            error = m_packageStatesError;
            return false;
        }
        m_version = version;
        m_built = true;
        return true;
    }
    QList<SqlValue> operations(const QString& filename) const { return m_operations.value(filename); }
    QList<SqlValue> invokerStates(const SqlValue& operation) const {
        return m_invokerStates.value(valueKey(operation));
    }
    QList<SqlValue> policies(const SqlValue& filename) const { return m_policies.value(valueKey(filename)); }
    bool packageStates(const SqlValue& task, QList<SqlValue>& rowids, QString& error) const {
        error = m_packageStatesError;
        rowids = m_packageStates.value(valueKey(task));
        return error.isEmpty();
    }

private:
    static bool index(SqliteConnection& db, const QString& sql, QHash<QByteArray, QList<SqlValue>>& into,
                      QString& error) {
        QList<QList<SqlValue>> rows;
        if (!db.query(sql, {}, rows, error))
            return false;
        for (const QList<SqlValue>& row : rows)
            into[valueKey(row.value(1))].append(row.value(0));
        return true;
    }

    bool m_built = false;
    SqlValue m_version;
    QHash<QString, QList<SqlValue>> m_operations;       // ClientOperations_IDN by file name as read
    QHash<QByteArray, QList<SqlValue>> m_invokerStates; // rowids by ClientOperations_IDN
    QHash<QByteArray, QList<SqlValue>> m_policies;      // rowids by operationId
    QHash<QByteArray, QList<SqlValue>> m_packageStates; // rowids by Task
    QString m_packageStatesError;
};

// The statements of one table, under one status text, each run once per row.
struct Statement {
    QString status;
    QString table;
    QString sql;
    QList<SqlValue> rowids;
};

// One task's outcome and, when it is to be changed, the statements that change it.
struct TaskStep {
    TaskOutcome outcome;
    TaskRows rows;
    bool read = true; // false when the database could not be read: the outcome says why
    QList<Statement> statements;

    int plannedRows() const {
        int rows = 0;
        for (const Statement& statement : statements)
            rows += int(statement.rowids.size());
        return rows;
    }
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
    outcome.note.clear();
    outcome.warning.clear();
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
    step.outcome = {kind, target.taskId, target.packageName, {}, {}, {}, reason, false};
    return step;
}

// A task that could not be read: when the agent held the lock, reading again later may succeed.
TaskStep unread(SqliteConnection& db, const ActionTarget& target, const QString& error) {
    TaskStep step = decided(target, TaskOutcome::Kind::NotChanged, notChanged(target, databaseAnswer(error)));
    step.outcome.unread = db.lastFailureWasBusy();
    step.read = false;
    return step;
}

// Reads again, by rowid, the rows the index names, keeping those that still belong to the task.
bool readRows(SqliteConnection& db, const QString& sql, const QList<SqlValue>& rowids, int ownerColumn,
              const SqlValue& owner, QList<QList<SqlValue>>& into, QString& error) {
    for (const SqlValue& rowid : rowids) {
        QList<QList<SqlValue>> rows;
        if (!db.query(sql, {rowid}, rows, error))
            return false;
        for (QList<SqlValue>& row : rows) {
            if (ownerColumn < 0 || row.value(ownerColumn) == owner) {
                if (ownerColumn >= 0)
                    row.removeAt(ownerColumn);
                into.append(row);
            }
        }
    }
    return true;
}

// The package-state name is derived from the stored bytes and stored the way the file name is.
SqlValue packageStateTask(const SqlValue& filename) {
    SqlValue task = filename;
    task.type = filename.type == SqlValue::Type::Blob ? SqlValue::Type::Blob : SqlValue::Type::Text;
    task.bytes.replace(".xml", "").replace("SDClientTask", "SWD.MultipleTaskProtection");
    return task;
}

// Reads the task's rows as the database holds them now, inside the caller's transaction.
std::optional<TaskStep> readTask(SqliteConnection& db, RowIndex& index, TaskAction action,
                                 const ActionTarget& target, TaskRows& rows) {
    using Kind = TaskOutcome::Kind;
    QString error;
    if (!index.update(db, error))
        return unread(db, target, error);
    // The operation the row was read from: its file name reads as the record's, however it is stored.
    const QString operationFile = TaskRecord::firstField(*target.record);
    QList<QList<SqlValue>> operations;
    for (const SqlValue& operation : index.operations(operationFile)) {
        QList<QList<SqlValue>> found;
        if (!db.query(kOperationRow, {operation}, found, error))
            return unread(db, target, error);
        for (const QList<SqlValue>& row : found) {
            if (row.value(1).text() == operationFile)
                operations.append(row);
        }
    }
    if (operations.isEmpty())
        return decided(target, Kind::NotChanged,
                       notChanged(target, QStringLiteral(": it is no longer in the agent database")));
    if (operations.size() > 1)
        return decided(target, Kind::NotChanged,
                       notChanged(target, QStringLiteral(": %1 operations in the agent database carry its "
                                                         "file name")
                                              .arg(operations.size())));
    rows.found = true;
    rows.operation = operations.first().value(0);
    rows.filename = operations.first().value(1);
    if (!readRows(db, kInvokerStateRow, index.invokerStates(rows.operation), 2, rows.operation,
                  rows.invokerStates, error) ||
        !readRows(db, kPolicyRow, index.policies(rows.filename), 3, rows.filename, rows.policies, error))
        return unread(db, target, error);
    if (action == TaskAction::Reinstall) {
        const SqlValue task = packageStateTask(rows.filename);
        QList<SqlValue> rowids;
        if (!index.packageStates(task, rowids, error) ||
            !readRows(db, kPackageStateRow, rowids, 1, task, rows.packageStates, error))
            return unread(db, target, error);
    }
    return std::nullopt;
}

// Decides, from the rows read, what the action does to the task. Shared by the preview and the action,
// so that the preview shows what the action then does.
TaskStep decide(TaskAction action, const ActionTarget& target, const TaskRows& rows) {
    using Kind = TaskOutcome::Kind;
    TaskStep step = decided(target, Kind::Change, QString());
    bool hasPolicy = false;
    QList<SqlValue> policyRows;
    for (const QList<SqlValue>& policy : rows.policies) {
        hasPolicy = hasPolicy || !policy.value(1).text().isEmpty();
        policyRows.append(policy.value(0));
    }
    QList<SqlValue> stateRows;
    for (const QList<SqlValue>& state : rows.invokerStates)
        stateRows.append(state.value(0));
    const QString noInvokerState = QStringLiteral("no invoker state to set");

    if (action == TaskAction::StopInstall) {
        QList<SqlValue> toComplete;
        for (const QList<SqlValue>& row : rows.invokerStates) {
            bool readable = false;
            const int code = row.value(1).text().trimmed().toInt(&readable);
            if (!readable)
                return decided(target, Kind::Refused,
                               QStringLiteral("Can't stop %1: its invoker state '%2' can't be read")
                                   .arg(taskName(target), row.value(1).text()));
            if (code == 0 || code == 4)
                return decided(target, Kind::Refused,
                               QStringLiteral("%1: %2 is %3")
                                   .arg(kTaskActiveMessage, taskName(target), stateText(row.value(1))));
            if (code != 6)
                toComplete.append(row.value(0));
        }
        if (hasPolicy) {
            step.statements.append(
                {kReschedulePolicyStatus, QStringLiteral("ReschedulePolicy"), kStopReschedule, policyRows});
            step.outcome.changes << QStringLiteral("reschedule policy deleted");
        }
        if (!toComplete.isEmpty()) {
            step.statements.append(
                {kInvokerStateStatus, QStringLiteral("InvokerState"), kStopInvoker, toComplete});
            step.outcome.changes << QStringLiteral("invoker state %1 -> Completed")
                                        .arg(stateText(rows.invokerStates.first().value(1)));
        }
        if (rows.invokerStates.isEmpty())
            step.outcome.note = noInvokerState;
        if (step.statements.isEmpty()) {
            step.outcome.note.clear();
            if (!rows.invokerStates.isEmpty()) {
                step.outcome.kind = Kind::AlreadyDone;
                step.outcome.reason = QStringLiteral("already stopped");
            } else {
                markNotChanged(step.outcome,
                               QStringLiteral(": it has no invoker state and no reschedule policy"));
            }
        }
        return step;
    }

    QList<SqlValue> packageRows;
    for (const QList<SqlValue>& row : rows.packageStates)
        packageRows.append(row.value(0));
    if (!packageRows.isEmpty()) {
        step.statements.append(
            {kPackageStateStatus, QStringLiteral("PackageState"), kReinstallPackageState, packageRows});
        step.outcome.changes << QStringLiteral("%1 package state row(s) deleted").arg(packageRows.size());
    }
    if (hasPolicy) {
        step.statements.append(
            {kReschedulePolicyStatus, QStringLiteral("ReschedulePolicy"), kReinstallReschedule, policyRows});
        step.outcome.changes << QStringLiteral("reschedule time -> Now");
    }
    if (!stateRows.isEmpty()) {
        step.statements.append(
            {kInvokerStateStatus, QStringLiteral("InvokerState"), kReinstallInvoker, stateRows});
        const SqlValue& state = rows.invokerStates.first().value(1);
        step.outcome.changes << QStringLiteral("invoker state %1 -> Resume").arg(stateText(state));
        for (const QList<SqlValue>& row : rows.invokerStates) {
            if (row.value(1).text().trimmed() == QLatin1String("4"))
                step.outcome.warning = QStringLiteral("it restarts an installation in progress");
        }
    } else {
        step.outcome.note = noInvokerState;
    }
    if (step.statements.isEmpty())
        markNotChanged(
            step.outcome,
            QStringLiteral(": it has no invoker state, no reschedule policy and no package state"));
    return step;
}

// What the rows hold now, for a task that changed since its preview.
QString describeRows(const TaskRows& rows) {
    if (!rows.found)
        return QStringLiteral("it is no longer in the agent database");
    QStringList parts;
    parts << (rows.invokerStates.isEmpty()
                  ? QStringLiteral("no invoker state")
                  : QStringLiteral("invoker state %1").arg(stateText(rows.invokerStates.first().value(1))));
    parts << (rows.policies.isEmpty()
                  ? QStringLiteral("no reschedule policy")
                  : QStringLiteral("%1 reschedule policy row(s)").arg(rows.policies.size()));
    if (!rows.packageStates.isEmpty())
        parts << QStringLiteral("%1 package state row(s)").arg(rows.packageStates.size());
    return parts.join(QStringLiteral(", "));
}

// The outcome of a target that needs no database: not in the table, or the missing-database entry.
std::optional<TaskOutcome> outcomeWithoutDatabase(const ActionTarget& target, const QString& dbPath) {
    const auto refused = [&target](const QString& reason) {
        return TaskOutcome{
            TaskOutcome::Kind::Refused, target.taskId, target.packageName, {}, {}, {}, reason, false};
    };
    if (!target.record)
        return refused(QStringLiteral("%1 (task %2)").arg(kTaskNotFoundMessage, cappedCell(target.taskId)));
    if (target.taskId == TaskRecord::kMissingDatabaseKey &&
        *target.record == TaskRecord::kMissingDatabaseRecord)
        return refused(kDatabaseMissingMessage + dbPath);
    return std::nullopt;
}

// Runs the step's statements and commits them when they changed exactly the rows planned, triggers
// included, writing the journal first; otherwise the transaction is left for the caller to roll back.
void apply(SqliteConnection& db, TaskStep& step, TaskAction action, const ActionTarget& target,
           Feedback& status, Journal* journal) {
    QString error;
    JournalEntry entry =
        newEntry(actionName(action), target.taskId, step.rows.filename.text(), target.packageName);
    const qint64 before = db.totalChanges();
    for (const Statement& statement : step.statements) {
        status.setStatus(statement.status);
        for (const SqlValue& rowid : statement.rowids) {
            RowChange change{statement.table, rowid.bytes.toLongLong(), {}, {}, {}};
            QStringList columns;
            const bool ran =
                Journal::readRow(db, statement.table, change.rowid, change.columns, change.before, error) &&
                db.exec(statement.sql, {rowid}, error) &&
                Journal::readRow(db, statement.table, change.rowid, columns, change.after, error);
            if (!ran) {
                status.setStatus(QString());
                return markNotChanged(step.outcome, databaseAnswer(error));
            }
            entry.rows << change;
        }
        status.setStatus(QString());
    }
    const qint64 changed = db.totalChanges() - before;
    if (changed != step.plannedRows())
        return markNotChanged(step.outcome,
                              QStringLiteral(": the agent database changed %1 rows where %2 were "
                                             "planned")
                                  .arg(changed)
                                  .arg(step.plannedRows()));
    if (!commitJournaled(db, journal, entry, error))
        markNotChanged(step.outcome, QStringLiteral(": ") + error);
    else
        step.outcome.journalEntry = entry.id;
}

// Shows the wait for the agent's lock on the status line while it lasts.
void noticeWaits(SqliteConnection& db, Feedback* status) {
    if (status)
        db.setWaitNotice([status] { status->setStatus(kWaitingForDatabaseStatus); });
}

// Every way through a task's transaction: read and decide inside it, then `act` on the decision (apply
// it, or leave it for a preview). A task's transaction always ends before the next task's begins.
template <typename Act>
ActionReport walk(TaskAction action, const QList<ActionTarget>& targets, const QString& dbPath, bool preview,
                  Feedback* status, Journal* journal, Act act) {
    ActionReport report;
    report.action = action;
    report.preview = preview;
    std::optional<SqliteConnection> db;
    RowIndex index;
    for (int t = 0; t < targets.size(); ++t) {
        const ActionTarget& target = targets.at(t);
        TaskStep step;
        if (const std::optional<TaskOutcome> outcome = outcomeWithoutDatabase(target, dbPath)) {
            step.outcome = *outcome;
        } else {
            if (!db) { // the preview only reads: it opens the database as the list does
                db.emplace(dbPath, preview ? SqliteConnection::Access::ReadOnly
                                           : SqliteConnection::Access::ReadWrite);
                noticeWaits(*db, status);
                // What a Corvane stopped between its journal and the agent's commit left pending.
                QString ignored;
                if (journal)
                    journal->settle(*db, ignored);
            }
            QString error;
            // Waits once for a lock the agent holds, then owns the task until COMMIT or ROLLBACK.
            if (!db->exec(preview ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"), error)) {
                step = unread(*db, target, error);
            } else {
                TaskRows rows;
                if (std::optional<TaskStep> failed = readTask(*db, index, action, target, rows))
                    step = *failed;
                else
                    step = decide(action, target, rows);
                step.rows = rows;
                act(*db, step, t);
                // Ends whatever was not committed; after a COMMIT there is nothing left to roll back.
                QString ignored;
                db->exec(QStringLiteral("ROLLBACK"), ignored);
            }
        }
        report.tasks.append(step.outcome);
        report.targets.append(target);
        report.rows.append(step.rows);
    }
    return report;
}

} // namespace

QString actionName(TaskAction action) {
    switch (action) {
    case TaskAction::StopInstall:
        return QStringLiteral("Stop Install");
    case TaskAction::Reinstall:
        return QStringLiteral("Reinstall");
    case TaskAction::Undo:
        break;
    }
    return QStringLiteral("Undo");
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

QList<qint64> ActionReport::journalEntries() const {
    QList<qint64> ids;
    for (const TaskOutcome& task : tasks) {
        if (task.kind == TaskOutcome::Kind::Change && task.journalEntry)
            ids << task.journalEntry;
    }
    return ids;
}

bool ActionReport::anyUnread() const {
    return std::any_of(tasks.cbegin(), tasks.cend(), [](const TaskOutcome& task) { return task.unread; });
}

QString TaskOutcome::what() const {
    switch (kind) {
    case Kind::Change:
        return changes.join(QStringLiteral(", ")) +
               (note.isEmpty() ? QString() : QStringLiteral("; ") + note);
    case Kind::AlreadyDone:
        return reason;
    case Kind::Refused:
        return QStringLiteral("refused: ") + reason;
    case Kind::NotChanged:
        break;
    }
    return QStringLiteral("unchanged: ") + reason;
}

QString ActionReport::summary() const {
    const QString done = action == TaskAction::StopInstall
                             ? (preview ? QStringLiteral("to stop") : QStringLiteral("stopped"))
                         : action == TaskAction::Reinstall
                             ? (preview ? QStringLiteral("to reinstall") : QStringLiteral("reinstalled"))
                             : (preview ? QStringLiteral("to undo") : QStringLiteral("undone"));
    QString text =
        QStringLiteral("%1: %2 %3").arg(actionName(action)).arg(count(TaskOutcome::Kind::Change)).arg(done);
    if (const int already = count(TaskOutcome::Kind::AlreadyDone))
        text += QStringLiteral(", %1 already stopped").arg(already);
    if (const int refused = count(TaskOutcome::Kind::Refused))
        text += QStringLiteral(", %1 refused").arg(refused);
    if (const int failed = count(TaskOutcome::Kind::NotChanged))
        text += QStringLiteral(", %1 not changed").arg(failed);
    return text;
}

QString ActionReport::problems() const {
    QStringList lines;
    for (const TaskOutcome& task : tasks) {
        if (task.kind == TaskOutcome::Kind::Refused || task.kind == TaskOutcome::Kind::NotChanged)
            lines << task.reason;
    }
    return lines.join(QLatin1Char('\n'));
}

ActionReport planAction(TaskAction action, const QList<ActionTarget>& targets, const QString& dbPath,
                        Feedback* status) {
    // A read transaction per task: the same reads as the action's, nothing written.
    return walk(action, targets, dbPath, true, status, nullptr, [](SqliteConnection&, TaskStep&, int) {});
}

// Every task refused, before anything is written: a change that cannot be journaled is not made.
ActionReport journalRefused(TaskAction action, const QList<ActionTarget>& targets, const QString& why,
                            const TaskDone& done) {
    ActionReport report;
    report.action = action;
    for (const ActionTarget& target : targets) {
        report.tasks.append(
            {TaskOutcome::Kind::Refused, target.taskId, target.packageName, {}, {}, {}, why, false});
        report.targets.append(target);
        report.rows.append(TaskRows());
        if (done)
            done(report.tasks.last());
    }
    return report;
}

bool openJournal(Journal& journal, const QString& path, QString& refusal) {
    QString error;
    if (journal.open(path, error))
        return true;
    refusal = QStringLiteral("Nothing was changed: the journal of changes can't be written: ") + error;
    return false;
}

ActionReport runAction(TaskAction action, const QList<ActionTarget>& targets, const QString& dbPath,
                       const QString& journalPath, Feedback& status, const TaskDone& done) {
    Journal journal;
    QString refusal;
    if (!journalPath.isEmpty() && !openJournal(journal, journalPath, refusal))
        return journalRefused(action, targets, refusal, done);
    Journal* journaled = journalPath.isEmpty() ? nullptr : &journal;
    return walk(action, targets, dbPath, false, &status, journaled,
                [&](SqliteConnection& db, TaskStep& step, int t) {
                    if (step.outcome.kind == TaskOutcome::Kind::Change)
                        apply(db, step, action, targets.at(t), status, journaled);
                    if (done)
                        done(step.outcome);
                });
}

ActionReport applyPreview(const ActionReport& preview, const QString& dbPath, const QString& journalPath,
                          Feedback& status, const TaskDone& done) {
    Journal journal;
    QString refusal;
    if (!journalPath.isEmpty() && !openJournal(journal, journalPath, refusal))
        return journalRefused(preview.action, preview.targets, refusal, done);
    Journal* journaled = journalPath.isEmpty() ? nullptr : &journal;
    // Only the tasks the preview showed changing are read again; the others keep what the preview said.
    QList<ActionTarget> changing;
    QList<int> changingAt;
    for (int t = 0; t < preview.tasks.size(); ++t) {
        if (preview.tasks.at(t).kind == TaskOutcome::Kind::Change) {
            changing.append(preview.targets.at(t));
            changingAt.append(t);
        }
    }
    ActionReport report = preview;
    report.preview = false;
    walk(preview.action, changing, dbPath, false, &status, journaled,
         [&](SqliteConnection& db, TaskStep& step, int t) {
             const int at = changingAt.at(t);
             // A task that could not be read keeps the database's answer.
             if (step.read && !(step.rows == preview.rows.at(at)))
                 markNotChanged(step.outcome,
                                QStringLiteral(": changed since the preview: ") + describeRows(step.rows));
             else if (step.outcome.kind == TaskOutcome::Kind::Change)
                 apply(db, step, preview.action, changing.at(t), status, journaled);
             report.tasks[at] = step.outcome;
             if (done)
                 done(step.outcome);
         });
    return report;
}

} // namespace corvane
