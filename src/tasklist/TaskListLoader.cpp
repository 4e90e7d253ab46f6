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

TaskListSnapshot loadTaskList(const AgentPaths& paths, Feedback& feedback) {
    TaskListSnapshot snapshot = loadTaskTable(paths, feedback);
    snapshot.rows = buildTaskRows(snapshot.table, paths.descriptorFolder());
    return snapshot;
}

TaskListSnapshot loadTaskTable(const AgentPaths& paths, Feedback& feedback) {
    TaskListSnapshot snapshot;
    snapshot.table.setLimit(kMaxListedTasks);
    feedback.setStatus(kLoadingDatabaseStatus);
    snapshot.databaseRead = loadOperations(snapshot.table, paths.database(), kLoadOperationsQuery,
                                           snapshot.database, snapshot.databaseError);
    feedback.setStatus(QString());

    feedback.setStatus(kLoadingScheduledTasksStatus);
    QString scheduledTasksError;
    if (!mergeScheduledTasks(snapshot.table, paths.scheduledTasks(), scheduledTasksError))
        snapshot.scheduledTasksError = scheduledTasksError;
    feedback.setStatus(QString());
    return snapshot;
}

QStringList readProblems(const TaskListSnapshot& snapshot) {
    QStringList problems;
    if (snapshot.database.recoveredInterruptedWrite)
        problems << kRecoveredWriteNotice;
    if (snapshot.databaseRead == DatabaseRead::Failed)
        problems << QStringLiteral("Can't read the agent database: ") + snapshot.databaseError;
    if (!snapshot.database.rowProblems.isEmpty())
        problems << QStringLiteral("Rows not read whole: ") +
                        snapshot.database.rowProblems.join(QStringLiteral("; "));
    if (!snapshot.scheduledTasksError.isEmpty())
        problems << QStringLiteral("Can't read the scheduled-task file: ") + snapshot.scheduledTasksError;
    if (snapshot.table.overflow() > 0)
        problems << leftOutNotice(snapshot.table.overflow());
    const QString descriptors = descriptorNotice(snapshot.rows);
    if (!descriptors.isEmpty())
        problems << descriptors;
    return problems;
}

} // namespace corvane
