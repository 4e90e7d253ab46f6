#include "TaskListLoader.h"

#include "AgentPaths.h"
#include "Feedback.h"
#include "ScheduledTasks.h"
#include "TaskList.h"

namespace corvane {

TaskListSnapshot loadTaskList(const AgentPaths& paths, QString& dbErrorText, Feedback& feedback,
                              const std::function<void()>& onDatabaseMissing) {
    TaskListSnapshot snapshot = loadTaskTable(paths, dbErrorText, feedback, onDatabaseMissing);
    snapshot.rows = buildTaskRows(snapshot.table, paths.descriptorFolder());
    return snapshot;
}

TaskListSnapshot loadTaskTable(const AgentPaths& paths, QString& dbErrorText, Feedback& feedback,
                               const std::function<void()>& onDatabaseMissing) {
    TaskListSnapshot snapshot;
    feedback.setStatus(kLoadingDatabaseStatus);
    snapshot.database = loadOperations(snapshot.table, paths.database(), kLoadOperationsQuery, dbErrorText);
    if (snapshot.database.databaseMissing && onDatabaseMissing)
        onDatabaseMissing();
    feedback.setStatus(QString());

    feedback.setStatus(kLoadingScheduledTasksStatus);
    snapshot.scheduledTasksRead =
        mergeScheduledTasks(snapshot.table, paths.scheduledTasks(), snapshot.scheduledTasksError);
    feedback.setStatus(QString());
    return snapshot;
}

} // namespace corvane
