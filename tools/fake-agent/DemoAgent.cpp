#include "AgentTree.h"

#include "agent/InvokerLog.h"

namespace corvane::fake {

namespace {

struct DemoTask {
    QString id;
    std::optional<QString> state;
    std::optional<QString> periodic;
    std::optional<qint64> rescheduleIn; // seconds from now; 1 is stored as is ("now")
    QString packageName;                // empty: no descriptor
    QString scheduledState;             // empty: not in the scheduled-task file
    qint64 scheduledIn = 0;
};

QString operationFile(const QString& id) {
    return QStringLiteral("SDClientTask.CORE01_%1.xml").arg(id);
}

QByteArray demoInvokerLog(const QDateTime& now) {
    const QDateTime today(now.date(), QTime(8, 0));
    const QDateTime yesterday = today.addDays(-1);
    QByteArray log;
    log += stampedLine(yesterday.addSecs(3600),
                       QStringLiteral("policy.client.invoker: Starting, 11 policies known"));
    log += stampedLine(yesterday.addSecs(3605),
                       QStringLiteral("policy.client.invoker: SDClientTask.CORE01_1201.xml completed"));
    log += stampedLine(yesterday.addSecs(7200),
                       QStringLiteral("policy.client.invoker: Nothing to do, sleeping"));
    log += stampedLine(today, QStringLiteral("policy.client.invoker: Starting, 12 policies known"));
    log += stampedLine(today.addSecs(12),
                       QStringLiteral("policy.client.invoker: SDClientTask.CORE01_1203.xml is active"));
    log += stampedLine(today.addSecs(47),
                       QStringLiteral("policy.client.invoker: SDClientTask.CORE01_1204.xml failed, "
                                      "error reschedule"));
    log += "    return code 1603, see the package log\r\n";
    log += stampedLine(today.addSecs(95), QStringLiteral("policy.client.invoker: Waiting for the next run"));
    return log;
}

} // namespace

bool writeDemoAgent(const QString& root, const QDateTime& now, QString& error,
                    const QString& synchroniserProgram, const SyncOptions& syncOptions) {
    const qint64 t = AgentTree::agentTime(now);
    const QList<DemoTask> tasks = {
        {QStringLiteral("1201"),
         QStringLiteral("6"),
         {},
         {},
         QStringLiteral("Office Tools 2"),
         QStringLiteral("completed"),
         -86400},
        {QStringLiteral("1202"), QStringLiteral("2"), QStringLiteral("1"), 3 * 3600,
         QStringLiteral("Archive Manager 9.2"), QStringLiteral("pending"), 3600},
        {QStringLiteral("1203"), QStringLiteral("4"), QStringLiteral("1"), 1,
         QStringLiteral("Print Drivers Pack"), QStringLiteral("active"), -300},
        {QStringLiteral("1204"), QStringLiteral("2"), QStringLiteral("0"), 1800,
         QStringLiteral("Finance Suite 2026"), QStringLiteral("failed"), -7200},
        {QStringLiteral("1205"),
         QStringLiteral("0"),
         {},
         {},
         QStringLiteral("Gestionnaire de th\u00e8mes \u00e9l\u00e9gants"),
         QStringLiteral("pending"),
         600},
        {QStringLiteral("1206"), QStringLiteral("1"), {}, {}, QString(), QStringLiteral("pending"), 900},
        {QStringLiteral("1207"), {}, {}, {}, QString(), QStringLiteral("completed"), -3 * 86400},
        {QStringLiteral("1208"),
         QStringLiteral("5"),
         {},
         {},
         QStringLiteral("VPN Client 5.1"),
         QStringLiteral("undoing"),
         -60},
        {QStringLiteral("1209"), QStringLiteral("3"), QStringLiteral("1"), 86400,
         QStringLiteral("Team Chat 4"), QString(), 0},
        {QStringLiteral("1210"), QStringLiteral("6"), QStringLiteral("1"), 7 * 86400,
         QStringLiteral("Web Browser 128"), QStringLiteral("completed"), -2 * 86400},
    };

    AgentTree tree(root);
    bool ok = tree.createDatabase();
    QList<ScheduledTask> scheduled;
    for (const DemoTask& task : tasks) {
        const QString file = operationFile(task.id);
        std::optional<QString> timeT;
        if (task.rescheduleIn)
            timeT = QString::number(*task.rescheduleIn == 1 ? 1 : t + *task.rescheduleIn);
        ok = ok && tree.addOperation({file, task.state, task.periodic, timeT});
        if (!task.packageName.isEmpty())
            ok = ok && tree.writeDescriptor(file, task.packageName);
        if (!task.scheduledState.isEmpty())
            scheduled.append({QStringLiteral("CORE01_") + task.id, task.scheduledState,
                              QString::number(t + task.scheduledIn)});
    }
    // Task 1207's descriptor is a shortcut of another kind, not a package.
    ok = ok && tree.writeFile(tree.paths().descriptor(operationFile(QStringLiteral("1207"))),
                              "<?xml version=\"1.0\"?>\r\n<Shortcut><Target>portal.exe</Target>"
                              "<Name>Self-service portal</Name></Shortcut>\r\n");
    ok = ok && tree.addPackageState(QStringLiteral("SWD.MultipleTaskProtection.CORE01_1204"),
                                    QStringLiteral("Finance Suite 2026"), 3);
    ok = ok && tree.addPackageState(QStringLiteral("SWD.MultipleTaskProtection.CORE01_1201"),
                                    QStringLiteral("Office Tools 2"), 6);
    // Two tasks that only the scheduler knows.
    scheduled.append({QStringLiteral("1311"), QStringLiteral("pending"), QString::number(t + 5400)});
    scheduled.append({QStringLiteral("1312"), QStringLiteral("active"), QString::number(t - 120)});
    ok = ok && tree.writeScheduledTasks(scheduled);
    ok = ok && tree.writeInvokerLog(demoInvokerLog(now));
    // The synchroniser's log of an earlier run.
    const QDateTime lastSync = now.addSecs(-3 * 3600);
    ok =
        ok && tree.writeFile(
                  tree.paths().syncLog(),
                  stampedLine(lastSync,
                              QStringLiteral("policy.sync: Starting policy synchronisation with CORE01")) +
                      stampedLine(lastSync.addSecs(2), QStringLiteral("policy.sync: Download information for "
                                                                      "SDClientTask.CORE01_1210.xml")) +
                      stampedLine(lastSync.addSecs(4), QStringLiteral("policy.sync: Policy synchronisation "
                                                                      "finished [STOP]")));
    if (!synchroniserProgram.isEmpty())
        ok = ok && tree.installSynchroniser(synchroniserProgram, syncOptions);
    if (!ok)
        error = tree.error();
    return ok;
}

} // namespace corvane::fake
