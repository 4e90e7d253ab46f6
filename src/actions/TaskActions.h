#pragma once

#include "base/SqliteConnection.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace corvane {

class Feedback;
class TaskTable;

inline const QString kTaskNotFoundMessage = QStringLiteral("Error: Can't find TaskId in the Dictionary");
inline const QString kNothingCheckedMessage =
    QStringLiteral("You must have, at least, one application checked");
inline const QString kTaskActiveMessage =
    QStringLiteral("Can't prevent installation where package is Active");

// What an action needs of one list row: its key ("k" + task id), whether it is checked, and the package
// name it shows.
struct CheckedRow {
    QString key;
    bool checked = false;
    QString application;
};

// Undo takes back the changes of journal entries (see Undo.h).
enum class TaskAction { StopInstall, Reinstall, Undo };

// "Stop Install", "Reinstall" or "Undo", as the buttons read.
QString actionName(TaskAction action);

// A checked row's task as the window's task table held it when the action was asked for.
struct ActionTarget {
    QString taskId;
    QString packageName;
    std::optional<QString> record; // nothing when the table has no entry under the task id
};

// The checked rows' tasks, in list order.
QList<ActionTarget> checkedTargets(const QList<CheckedRow>& rows, const TaskTable& table);

// What an action does, or would do, to one task.
struct TaskOutcome {
    // AlreadyDone: the task is already as the action would leave it, so nothing is written ("already
    // stopped").
    enum class Kind { Change, Refused, NotChanged, AlreadyDone };
    Kind kind = Kind::NotChanged;
    QString taskId;
    QString packageName;
    QStringList changes; // in the order the statements run, e.g. "invoker state Waiting -> Completed"
    QString note;    // beside the changes: what there was nothing to change in ("no invoker state to set")
    QString warning; // the change goes ahead but deserves a second look ("it restarts ... in progress")
    QString reason;  // for the other kinds: the sentence the technician reads
    bool unread = false;     // not changed because the agent held its database: reading again may succeed
    qint64 journalEntry = 0; // the journal's entry for the change made; not part of the comparison

    // What happens to the task, in one line: the changes, or the reason.
    QString what() const;
    bool operator==(const TaskOutcome& other) const {
        return kind == other.kind && taskId == other.taskId && packageName == other.packageName &&
               changes == other.changes && note == other.note && warning == other.warning &&
               reason == other.reason && unread == other.unread;
    }
};

// The agent's rows of one task as a plan read them, each with its rowid: the rows the plan changes, and what
// must still be there, unchanged, when a previewed plan is applied.
struct TaskRows {
    bool found = false;                   // the task's operation was found, once
    SqlValue operation;                   // its ClientOperations_IDN
    SqlValue filename;                    // its file name as stored
    QList<QList<SqlValue>> invokerStates; // rowid, state
    QList<QList<SqlValue>> policies;      // rowid, periodicReschedule, rescheduleTimeT
    QList<QList<SqlValue>> packageStates; // rowid (Reinstall only)

    bool operator==(const TaskRows& other) const {
        return found == other.found && operation == other.operation && filename == other.filename &&
               invokerStates == other.invokerStates && policies == other.policies &&
               packageStates == other.packageStates;
    }
};

struct ActionReport {
    TaskAction action = TaskAction::StopInstall;
    bool preview = false; // planned only: nothing was changed
    QList<TaskOutcome> tasks;
    // A preview's plan: each task's target and the rows it was decided on, in the order of `tasks`.
    QList<ActionTarget> targets;
    QList<TaskRows> rows;
    // An Undo's journal entries, in the order of `tasks`.
    QList<qint64> entries;
    // The workstation acted on, for the preview; empty for the machine Corvane runs on.
    QString workstation;

    int count(TaskOutcome::Kind kind) const;
    // Every task was (or would be) changed, or was already as the action leaves it.
    bool allChanged() const {
        return count(TaskOutcome::Kind::Change) + count(TaskOutcome::Kind::AlreadyDone) == tasks.size();
    }
    // Some task could not be read because the agent held its database.
    bool anyUnread() const;
    // The journal entries of the tasks changed.
    QList<qint64> journalEntries() const;
    // One line for the status line: "Stop Install: 2 stopped, 1 already stopped, 1 refused".
    QString summary() const;
    // The refusals and failures, one line each, for a single message; empty when there are none.
    QString problems() const;
};

// Called as each task's transaction ends, with what happened to it.
using TaskDone = std::function<void(const TaskOutcome&)>;

// What `action` would do to each target now, read from the agent database at `dbPath` by the same code that
// acts, without changing anything. The status text says so while a read waits for the agent's lock.
ActionReport planAction(TaskAction action, const QList<ActionTarget>& targets, const QString& dbPath,
                        Feedback* status = nullptr);

// Runs `action` on each target in order. Each task gets one transaction that reads the task's rows, decides
// on them and changes exactly those rows, all or nothing. The status texts around each statement go to
// `status`.
// Every change is journaled at `journalPath` before it is committed (an empty path: not journaled); when
// the journal cannot be written, every task is refused and nothing is changed.
ActionReport runAction(TaskAction action, const QList<ActionTarget>& targets, const QString& dbPath,
                       const QString& journalPath, Feedback& status, const TaskDone& done = {});

// Applies the plan a preview showed and nothing else: a task the preview did not show changing is left
// alone, and one whose rows no longer read as the preview read them is reported, not changed.
ActionReport applyPreview(const ActionReport& preview, const QString& dbPath, const QString& journalPath,
                          Feedback& status, const TaskDone& done = {});

// The text the status line shows while an action waits for the agent's lock.
inline const QString kWaitingForDatabaseStatus =
    QStringLiteral("Waiting for the agent database (another program holds it)...");

} // namespace corvane
