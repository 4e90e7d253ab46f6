#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace corvane {

class Feedback;
class TaskTable;

inline const QString kTaskNotFoundMessage = QStringLiteral("Error: Can't find TaskId in the Dictionary");
inline const QString kNothingCheckedMessage =
    QStringLiteral("You must have, at least, one application checked");
inline const QString kTaskActiveMessage =
    QStringLiteral("Can't prevent installation where package is Active");

// What an action needs of one list row: its key ("k" + task id) and whether it is checked.
struct CheckedRow {
    QString key;
    bool checked = false;
};

enum class TaskAction { StopInstall, Reinstall };

struct WalkResult {
    int messages = 0;    // messages shown to the technician
    int failedTasks = 0; // tasks whose statements the database refused
    QString lastTaskId;  // the last checked row's task id; empty when no row was checked
};

// Walks the rows in order and applies `action` to each checked row's task, with the status texts and
// messages of the action on `feedback`. Every statement goes to the database at `dbPath`; its error text
// lands in `dbErrorText`, and a task whose statements failed is reported by a message.
WalkResult runCheckedRowWalk(const QList<CheckedRow>& rows, const TaskTable& table, TaskAction action,
                             const QString& dbPath, QString& dbErrorText, Feedback& feedback);

// The statements of one task, in the order they run, with the status text shown around each.
struct Statement {
    QString status;
    QString sql;
};
// Stop Install: nothing when the task is Resume or Active (the caller refuses it).
QList<Statement> stopStatements(const QStringList& fields);
QList<Statement> reinstallStatements(const QStringList& fields);
bool stopRefused(const QStringList& fields);

// The name under which the agent records a package's state.
QString packageStateTask(const QString& operationFile);

} // namespace corvane
