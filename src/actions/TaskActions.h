#pragma once

#include <QList>
#include <QString>
#include <QStringList>

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

enum class TaskAction { StopInstall, Reinstall };

// "Stop Install" or "Reinstall", as the buttons read.
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
    enum class Kind { Change, Refused, NotChanged };
    Kind kind = Kind::NotChanged;
    QString taskId;
    QString packageName;
    QStringList changes; // in the order the statements run, e.g. "invoker state Waiting -> Completed"
    QString reason;      // for Refused and NotChanged: the sentence the technician reads

    bool operator==(const TaskOutcome& other) const {
        return kind == other.kind && taskId == other.taskId && packageName == other.packageName &&
               changes == other.changes && reason == other.reason;
    }
};

struct ActionReport {
    TaskAction action = TaskAction::StopInstall;
    bool preview = false; // planned only: nothing was changed
    QList<TaskOutcome> tasks;

    int count(TaskOutcome::Kind kind) const;
    bool anyChecked() const { return !tasks.isEmpty(); }
    // Every task was (or would be) changed.
    bool allChanged() const { return count(TaskOutcome::Kind::Change) == tasks.size(); }
    // One line for the status line: "Stop Install: 2 stopped, 1 refused".
    QString summary() const;
    // The refusals and failures, one line each, for a single message; empty when there are none.
    QString problems() const;
};

// What `action` would do to each target now, read from the agent database at `dbPath` by the same code that
// acts, without changing anything.
ActionReport planAction(TaskAction action, const QList<ActionTarget>& targets, const QString& dbPath);

// Runs `action` on each target in order. Each task gets one transaction that reads the task's current state,
// decides on it and changes it, all or nothing; a task whose state update touches no row is left unchanged.
// The status texts around each statement go to `status`.
ActionReport runAction(TaskAction action, const QList<ActionTarget>& targets, const QString& dbPath,
                       Feedback& status);

} // namespace corvane
