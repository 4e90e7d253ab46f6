#include "tasklist/TaskListLoader.h"

#include "agent/AgentPaths.h"
#include "agent/ScheduledTasks.h"
#include "tasklist/Feedback.h"
#include "tasklist/TaskList.h"

namespace corvane {

QString leftOutNotice(int leftOut) {
    return QStringLiteral("Only the first %1 tasks are listed: %2 more were left out")
        .arg(kMaxListedTasks)
        .arg(leftOut);
}

TaskListSnapshot loadTaskList(const AgentPaths& paths, QString& dbErrorText, Feedback& feedback) {
    TaskListSnapshot snapshot = loadTaskTable(paths, dbErrorText, feedback);
    snapshot.rows = buildTaskRows(snapshot.table, paths.descriptorFolder());
    return snapshot;
}

TaskListSnapshot loadTaskTable(const AgentPaths& paths, QString& dbErrorText, Feedback& feedback) {
    TaskListSnapshot snapshot;
    snapshot.table.setLimit(kMaxListedTasks);
    feedback.setStatus(kLoadingDatabaseStatus);
    snapshot.database = loadOperations(snapshot.table, paths.database(), kLoadOperationsQuery, dbErrorText);
    feedback.setStatus(QString());

    feedback.setStatus(kLoadingScheduledTasksStatus);
    snapshot.scheduledTasksRead =
        mergeScheduledTasks(snapshot.table, paths.scheduledTasks(), snapshot.scheduledTasksError);
    feedback.setStatus(QString());
    return snapshot;
}

} // namespace corvane
