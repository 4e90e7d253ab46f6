#pragma once

#include "ClientDatabase.h"
#include "TaskRow.h"
#include "TaskTable.h"

#include <QList>

#include <functional>

namespace corvane {

class AgentPaths;
class Feedback;

inline const QString kLoadingDatabaseStatus = QStringLiteral("Loading SQLite : InvokerState");
inline const QString kLoadingScheduledTasksStatus = QStringLiteral("Loading Xml : SDClient.Tasks");

// Everything one rebuild of the list reads from the agent.
struct TaskListSnapshot {
    TaskTable table;
    QList<TaskRow> rows;
    LoadResult database;
    bool scheduledTasksRead = true; // false when the file exists but could not be read or parsed
    QString scheduledTasksError;    // why, when it could not
};

// Reads the agent's database and scheduled-task file into a new task table and builds its rows, showing
// the progress texts on `feedback`. `onDatabaseMissing` runs as soon as the database is found missing,
// before the rest is read. Database errors land in `dbErrorText`.
TaskListSnapshot loadTaskList(const AgentPaths& paths, QString& dbErrorText, Feedback& feedback,
                              const std::function<void()>& onDatabaseMissing = {});
// The same without the rows: the table from the database and the scheduled-task file.
TaskListSnapshot loadTaskTable(const AgentPaths& paths, QString& dbErrorText, Feedback& feedback,
                               const std::function<void()>& onDatabaseMissing = {});

} // namespace corvane
