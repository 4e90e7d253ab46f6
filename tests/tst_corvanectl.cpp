// corvanectl run as a technician or a script would run it, against simulated agents.
#include "BlockingFile.h"
#include "CorvanectlRun.h"
#include "TestAgent.h"
#include "TimeBounds.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace corvane;
using corvane::test::CorvanectlRun;
using corvane::test::runCorvanectl;
using corvane::test::TestAgent;

namespace {

QStringList withRoot(const TestAgent& agent, const QStringList& arguments) {
    return QStringList{QStringLiteral("--agent-root"), agent.root()} + arguments;
}

QStringList withRoots(const QStringList& roots, const QStringList& arguments) {
    QStringList all;
    for (const QString& root : roots)
        all << QStringLiteral("--agent-root") << root;
    return all + arguments;
}

bool writeDemo(const TestAgent& agent) {
    QString error;
    return fake::writeDemoAgent(agent.root(), QDateTime(QDate(2026, 3, 14), QTime(12, 0)), error);
}

// The workstations of the rows printed, each once, in the order printed.
QStringList workstationsOf(const QStringList& names) {
    QStringList order = names;
    order.removeDuplicates();
    return order;
}
} // namespace

class TestCorvanectl : public QObject {
    Q_OBJECT

private slots:
    void listJsonOnTheDemoAgent() {
        TestAgent agent;
        QString error;
        QVERIFY2(fake::writeDemoAgent(agent.root(), QDateTime(QDate(2026, 3, 14), QTime(12, 0)), error),
                 qPrintable(error));
        const CorvanectlRun run =
            runCorvanectl(withRoot(agent, {QStringLiteral("list"), QStringLiteral("--json")}));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QString());
        const QJsonArray rows = QJsonDocument::fromJson(run.out.toUtf8()).array();
        QCOMPARE(rows.size(), 12);
        const QStringList members = {
            QStringLiteral("application"),    QStringLiteral("colour"),   QStringLiteral("database"),
            QStringLiteral("icon"),           QStringLiteral("install"),  QStringLiteral("key"),
            QStringLiteral("kind"),           QStringLiteral("record"),   QStringLiteral("reschedule"),
            QStringLiteral("rescheduleDate"), QStringLiteral("sdclient"), QStringLiteral("tag")};
        QCOMPARE(rows.at(0).toObject().keys(), members);
        const QJsonObject accented = rows.at(4).toObject();
        QCOMPARE(accented.value(QStringLiteral("application")).toString(),
                 QStringLiteral("Gestionnaire de th\u00e8mes \u00e9l\u00e9gants"));
        const QJsonObject red = rows.at(3).toObject();
        QCOMPARE(red.value(QStringLiteral("colour")).toString(), QStringLiteral("red"));
        QCOMPARE(red.value(QStringLiteral("reschedule")).toString(), QStringLiteral("Yes:Error"));
        const QJsonObject fileOnly = rows.at(10).toObject();
        QCOMPARE(fileOnly.value(QStringLiteral("record")).toString().section(QLatin1Char(';'), 0, 3),
                 QStringLiteral("1311;7;No;"));
        QCOMPARE(fileOnly.value(QStringLiteral("icon")).toString(), QStringLiteral("push"));
        QCOMPARE(fileOnly.value(QStringLiteral("tag")).toString(), QString());
    }

    void listTableIsAlignedUnderCaptions() {
        TestAgent agent;
        QString error;
        QVERIFY(fake::writeDemoAgent(agent.root(), QDateTime(QDate(2026, 3, 14), QTime(12, 0)), error));
        const CorvanectlRun run = runCorvanectl(withRoot(agent, {QStringLiteral("list")}));
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 13);
        const qsizetype databaseColumn = lines.first().indexOf(QLatin1String("Database"));
        QVERIFY(lines.first().contains(QLatin1String("Reschedule Date")));
        QCOMPARE(lines.at(1).mid(databaseColumn, 9), QStringLiteral("Completed"));
    }

    void missingDatabaseIsReported() {
        TestAgent agent;
        QVERIFY(agent.writeScheduledTasks(
            {{QStringLiteral("55"), QStringLiteral("pending"), QStringLiteral("0")}}));
        const CorvanectlRun run =
            runCorvanectl(withRoot(agent, {QStringLiteral("list"), QStringLiteral("--json")}));
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err.trimmed(),
                 QStringLiteral("Can't find SQLite Database in ") + agent.paths().database());
        QCOMPARE(QJsonDocument::fromJson(run.out.toUtf8()).array().size(), 2); // the rows are still printed
        QVERIFY(!QFile::exists(agent.paths().database()));
    }

    void databaseErrorIsReported() {
        TestAgent agent;
        QVERIFY(agent.createDatabase());
        QVERIFY(agent.execute(QStringLiteral("DROP TABLE ReschedulePolicy")));
        const CorvanectlRun run = runCorvanectl(withRoot(agent, {QStringLiteral("list")}));
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QLatin1String("ReschedulePolicy")), qPrintable(run.err));
    }

    // A writer killed in mid-transaction leaves a journal that a read-only reader cannot roll back: the list
    // rolls it back as the agent would, says so, and shows the rows as they were before that write.
    void interruptedWriteIsRecovered() {
        TestAgent agent;
        QString error;
        QVERIFY2(fake::writeDemoAgent(agent.root(), QDateTime::currentDateTime(), error), qPrintable(error));
        const QStringList before = agent.dumpAll();
        test::DatabaseLock writer(agent, true);
        QVERIFY(writer.isHeld());
        QVERIFY(writer.kill());
        QVERIFY(QFileInfo(agent.paths().database() + QStringLiteral("-journal")).size() > 0);
        const CorvanectlRun run = runCorvanectl(withRoot(agent, {QStringLiteral("list")}));
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains(QLatin1String("Recovered an interrupted write of the agent database")),
                 qPrintable(run.err));
        QVERIFY(run.out.contains(QLatin1String("Waiting")));
        QCOMPARE(agent.dumpAll(), before);
        QCOMPARE(agent.integrityCheck(), QStringLiteral("ok"));
    }

    // A row that cannot be read is named on standard error, worded as the window's notice words it; the rows
    // after it are still printed.
    void unreadableRowIsNamedAndTheRestPrinted() {
        TestAgent agent;
        QVERIFY(agent.createDatabase());
        QVERIFY(agent.addOperation({QStringLiteral("SDClientTask.1.xml"), QStringLiteral("2"), {}, {}}));
        QVERIFY(
            agent.addOperation({QStringLiteral("again.SDClientTask.1.xml"), QStringLiteral("2"), {}, {}}));
        QVERIFY(agent.addOperation({QStringLiteral("SDClientTask.2.xml"), QStringLiteral("6"), {}, {}}));
        const CorvanectlRun run = runCorvanectl(withRoot(agent, {QStringLiteral("list")}));
        QCOMPARE(run.exitCode, 1);
        const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(2).startsWith(QLatin1String("2 ")));
        QCOMPARE(run.err,
                 QStringLiteral("Rows not read whole: again.SDClientTask.1.xml: task id '1' appears twice, "
                                "left out\n"));
    }

    void logOfADay() {
        TestAgent agent;
        QVERIFY(agent.writeInvokerLog("06 Dec 2026 old\r\n07 Dec 2026 a\r\nb\r\n"));
        CorvanectlRun run = runCorvanectl(
            withRoot(agent, {QStringLiteral("log"), QStringLiteral("--date"), QStringLiteral("2026-12-07")}));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QStringLiteral("07 Dec 2026 a\nb\n"));
        run = runCorvanectl(
            withRoot(agent, {QStringLiteral("log"), QStringLiteral("--date"), QStringLiteral("2026-12-08")}));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QString());
    }

    // Output that cannot be written (here: a full disk) is a failure, said on standard error.
    void outputThatCannotBeWritten() {
#ifdef Q_OS_WIN
        QSKIP("/dev/full is a Linux device");
#else
        TestAgent agent;
        QString error;
        QVERIFY2(fake::writeDemoAgent(agent.root(), QDateTime::currentDateTime(), error), qPrintable(error));
        for (const QStringList& arguments : {QStringList{QStringLiteral("list")},
                                             QStringList{QStringLiteral("list"), QStringLiteral("--json")},
                                             QStringList{QStringLiteral("list"), QStringLiteral("--csv")},
                                             QStringList{QStringLiteral("log")}}) {
            QProcess process;
            process.setStandardOutputFile(QStringLiteral("/dev/full"));
            process.start(QStringLiteral(CORVANECTL_PATH), withRoot(agent, arguments));
            QVERIFY(process.waitForFinished(20000));
            const QString err = QString::fromUtf8(process.readAllStandardError());
            QCOMPARE(process.exitCode(), 1);
            QVERIFY2(err.startsWith(QLatin1String("can't write the output: No space left on device")),
                     qPrintable(err));
        }
#endif
    }

    void missingLogIsReported() {
        TestAgent agent;
        const CorvanectlRun run = runCorvanectl(withRoot(agent, {QStringLiteral("log")}));
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err.trimmed(), QStringLiteral("Can't find log file"));
    }

    void syncPrintsNewLinesThenTheSummary_data() {
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<bool>("freshLog");
        QTest::newRow("after an earlier run")
            << QByteArray("Mon 09:00 policy.sync: earlier run [STOP]\r\n") << false;
        QTest::newRow("no stamped line before") << QByteArray("earlier run without a colon\r\n") << false;
        QTest::newRow("log started afresh")
            << QByteArray("Mon 09:00 policy.sync: earlier run [STOP]\r\n") << true;
    }
    void syncPrintsNewLinesThenTheSummary() {
        QFETCH(QByteArray, log);
        QFETCH(bool, freshLog);
        TestAgent agent;
        QVERIFY(agent.createDatabase());
        QVERIFY(agent.writeFile(agent.paths().syncLog(), log));
        fake::SyncOptions options;
        options.delayMs = 30;
        options.freshLog = freshLog;
        QVERIFY(agent.installSynchroniser(QStringLiteral(FAKE_AGENT_PATH), options));
        const CorvanectlRun run = runCorvanectl(withRoot(agent, {QStringLiteral("sync")}));
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 7); // six stamped lines, each once, then the summary
        QCOMPARE(lines.last(), QStringLiteral("Synchronized: 2 (1 xml downloaded)"));
        QVERIFY(lines.at(5).endsWith(QLatin1String("[STOP]")));
        QVERIFY(!run.out.contains(QLatin1String("earlier run")));
        QVERIFY(!run.out.contains(QLatin1String("----"))); // unstamped lines are not shown
    }

    void syncFailures_data() {
        QTest::addColumn<bool>("install");
        QTest::addColumn<int>("holdMs");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no synchroniser") << false << 0 << "Can't find the policy synchroniser";
        QTest::newRow("fails without an end line") << true << -1 << "exited with status 1";
        QTest::newRow("time-out") << true << 5000 << "no end line";
    }
    void syncFailures() {
        QFETCH(bool, install);
        QFETCH(int, holdMs);
        QFETCH(QString, reason);
        TestAgent agent;
        QVERIFY(agent.createDatabase());
        fake::SyncOptions options;
        options.delayMs = 10;
        options.neverStop = true;
        options.failAtOnce = holdMs < 0;
        options.holdMs = std::max(0, holdMs);
        if (install)
            QVERIFY(agent.installSynchroniser(QStringLiteral(FAKE_AGENT_PATH), options));
        const CorvanectlRun run = runCorvanectl(
            withRoot(agent, {QStringLiteral("sync"), QStringLiteral("--timeout"), QStringLiteral("2")}));
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(reason), qPrintable(run.err));
        QVERIFY(!run.out.contains(QLatin1String("Synchronized")));
    }

    // Two starts together, from two processes: exactly one synchroniser runs, the other start is refused
    // naming it; a third joins it with --follow.
    void syncStartsOneSynchroniserPerMachine() {
        TestAgent agent;
        QVERIFY(agent.createDatabase());
        fake::SyncOptions options;
        options.delayMs = 150;
        QVERIFY(agent.installSynchroniser(QStringLiteral(FAKE_AGENT_PATH), options));
        const QStringList sync = withRoot(agent, {QStringLiteral("sync")});
        QProcess first;
        QProcess second;
        first.start(QStringLiteral(CORVANECTL_PATH), sync);
        second.start(QStringLiteral(CORVANECTL_PATH), sync);
        QTest::qWait(500);
        const CorvanectlRun follower = runCorvanectl(sync + QStringList{QStringLiteral("--follow")});
        for (QProcess* process : {&first, &second})
            QVERIFY(process->state() == QProcess::NotRunning || process->waitForFinished(30000));
        QCOMPARE(first.exitCode() + second.exitCode(), 1);
        QProcess& refused = first.exitCode() == 1 ? first : second;
        QProcess& ran = first.exitCode() == 1 ? second : first;
        const QString refusal = QString::fromUtf8(refused.readAllStandardError());
        QVERIFY2(refusal.startsWith(QLatin1String("A policy synchroniser is already running (process ")),
                 qPrintable(refusal));
        QVERIFY(QString::fromUtf8(ran.readAllStandardOutput())
                    .endsWith(QLatin1String("\nSynchronized: 2 (1 xml downloaded)\n")));
        QFile log(agent.paths().syncLog());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll().count("Starting policy synchronisation"), 1);
        QCOMPARE(follower.exitCode, 0);
        QVERIFY2(follower.out.endsWith(QLatin1String(" xml downloaded), joined a run in progress\n")),
                 qPrintable(follower.out));
    }

    // What the synchroniser prints is not Corvane's output: it holds none of corvanectl's streams, so
    // `corvanectl sync | cat` ends with corvanectl, time-out included.
    void syncOutputIsCorvanesOwn_data() {
        QTest::addColumn<int>("holdMs");
        QTest::newRow("completed") << 0;
        QTest::newRow("timed out") << test::scaledMs(6000); // longer than the run may take
    }
    void syncOutputIsCorvanesOwn() {
        QFETCH(int, holdMs);
        TestAgent agent;
        QVERIFY(agent.createDatabase());
        fake::SyncOptions options;
        options.delayMs = 30;
        options.chatter = true;
        options.holdMs = holdMs;
        options.neverStop = holdMs > 0;
        QVERIFY(agent.installSynchroniser(QStringLiteral(FAKE_AGENT_PATH), options));
        QElapsedTimer clock;
        clock.start();
        const CorvanectlRun run = runCorvanectl(
            withRoot(agent, {QStringLiteral("sync"), QStringLiteral("--timeout"), QStringLiteral("2")}));
        QVERIFY2(clock.elapsed() < test::scaledMs(5000), qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(!run.err.contains(QLatin1String("wrote a line")), qPrintable(run.err));
        const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), holdMs > 0 ? 5 : 7); // each stamped line once (and the summary)
        QCOMPARE(run.exitCode, holdMs > 0 ? 1 : 0);
    }

    // --dry-run prints the preview, leaves every byte of the agent's files, and exits as the real run does;
    // the real run then does what the preview said.
    void dryRunThenTheRealRun_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("planned");
        QTest::addColumn<QString>("done");
        QTest::newRow("stop") << "stop" << 1 << "Stop Install: 1 to stop, 1 refused"
                              << "Stop Install: 1 stopped, 1 refused";
        QTest::newRow("reinstall") << "reinstall" << 0 << "Reinstall: 2 to reinstall"
                                   << "Reinstall: 2 reinstalled";
    }
    void dryRunThenTheRealRun() {
        QFETCH(QString, command);
        QFETCH(int, exitCode);
        QFETCH(QString, planned);
        QFETCH(QString, done);
        TestAgent agent;
        QString error;
        QVERIFY2(fake::writeDemoAgent(agent.root(), QDateTime::currentDateTime(), error), qPrintable(error));
        const QStringList tasks = {QStringLiteral("CORE01_1202"), QStringLiteral("CORE01_1203")};
        const QMap<QString, QByteArray> files = agent.snapshot();

        const CorvanectlRun dryRun =
            runCorvanectl(withRoot(agent, QStringList{command, QStringLiteral("--dry-run")} + tasks));
        QCOMPARE(dryRun.exitCode, exitCode);
        QCOMPARE(agent.snapshot(), files);
        const QStringList lines = dryRun.out.trimmed().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines.at(0).startsWith(QLatin1String("CORE01_1202\t")) &&
                     lines.at(0).endsWith(command == QLatin1String("stop")
                                              ? QLatin1String("invoker state Waiting -> Completed")
                                              : QLatin1String("invoker state Waiting -> Resume")),
                 qPrintable(lines.at(0)));
        QVERIFY(lines.at(1).startsWith(QLatin1String("CORE01_1203\t")));
        QCOMPARE(lines.at(2), planned);

        // Each task's line as its transaction ends, then the summary: what the preview said would happen.
        const CorvanectlRun real = runCorvanectl(withRoot(agent, QStringList{command} + tasks));
        QCOMPARE(real.exitCode, exitCode);
        const QStringList realLines = real.out.trimmed().split(QLatin1Char('\n'));
        QCOMPARE(realLines.mid(0, 2), lines.mid(0, 2));
        QCOMPARE(realLines.last(), done);
        QVERIFY(agent.snapshot() != files);
        if (exitCode != 0)
            QVERIFY2(
                real.err.startsWith(QLatin1String("Can't prevent installation where package is Active: ")),
                qPrintable(real.err));
    }

    // Several --agent-root: the rows of each workstation in the order given, although the first ends last
    // (its database is locked: its rows are those of the scheduled-task file, and it says why), with the
    // workstation first in each format; a root that is missing is named with its reason and the others
    // are printed.
    void severalRootsInTheOrderGiven() {
        TestAgent locked;
        TestAgent demo;
        QVERIFY(writeDemo(locked));
        QVERIFY(writeDemo(demo));
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("gone"));
        test::DatabaseLock lock(locked);
        QVERIFY(lock.isHeld());
        const QStringList roots{locked.root(), missing, demo.root()};
        const QStringList expected{locked.root(), demo.root()};
        const auto checkErrors = [&](const CorvanectlRun& run) {
            QVERIFY(run.finished);
            QCOMPARE(run.exitCode, 1);
            const QStringList lines = run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), 2);
            QVERIFY2(lines.at(0).startsWith(QDir::toNativeSeparators(locked.root()) +
                                            QStringLiteral(": Can't read the agent database: ")),
                     qPrintable(run.err));
            QVERIFY2(lines.at(1).startsWith(QDir::toNativeSeparators(missing) + QStringLiteral(": ")),
                     qPrintable(run.err));
        };

        const CorvanectlRun csv =
            runCorvanectl(withRoots(roots, {QStringLiteral("list"), QStringLiteral("--csv")}));
        checkErrors(csv);
        QStringList lines = csv.out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.takeFirst(), QStringLiteral("Workstation,Task,Application,Database,SDClient,Install,"
                                                   "Reschedule,Reschedule Date"));
        QStringList names;
        for (const QString& line : std::as_const(lines))
            names << line.section(QLatin1Char(','), 0, 0);
        QCOMPARE(workstationsOf(names), expected);

        const CorvanectlRun json =
            runCorvanectl(withRoots(roots, {QStringLiteral("list"), QStringLiteral("--json")}));
        checkErrors(json);
        const QJsonArray rows = QJsonDocument::fromJson(json.out.toUtf8()).array();
        QCOMPARE(rows.size(), lines.size());
        names.clear();
        for (const QJsonValue& row : rows)
            names << row.toObject().value(QStringLiteral("workstation")).toString();
        QCOMPARE(workstationsOf(names), expected);

        const CorvanectlRun table = runCorvanectl(withRoots(roots, {QStringLiteral("list")}));
        checkErrors(table);
        lines = table.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(lines.takeFirst().startsWith(QLatin1String("Workstation  ")));
        names.clear();
        for (const QString& line : std::as_const(lines))
            names << line.section(QLatin1Char(' '), 0, 0);
        QCOMPARE(workstationsOf(names), expected);
    }

    // The log and the history of several roots: each line or entry with its workstation.
    void logAndHistoryOfSeveralRoots() {
        TestAgent first;
        TestAgent second;
        QVERIFY(writeDemo(first));
        QVERIFY(first.writeInvokerLog("06 Dec 2026 old\r\n07 Dec 2026 a\r\nb\r\n"));
        QVERIFY(second.writeInvokerLog("07 Dec 2026 c\r\n"));
        const QStringList roots{first.root(), second.root()};
        const CorvanectlRun log = runCorvanectl(withRoots(
            roots, {QStringLiteral("log"), QStringLiteral("--date"), QStringLiteral("2026-12-07")}));
        QCOMPARE(log.exitCode, 0);
        QCOMPARE(
            log.out,
            QStringLiteral("%1\t07 Dec 2026 a\n%1\tb\n%2\t07 Dec 2026 c\n").arg(first.root(), second.root()));

        QCOMPARE(runCorvanectl(withRoot(first, {QStringLiteral("reinstall"), QStringLiteral("CORE01_1201")}))
                     .exitCode,
                 0);
        const CorvanectlRun history =
            runCorvanectl(withRoots(roots, {QStringLiteral("history"), QStringLiteral("--json")}));
        QCOMPARE(history.exitCode, 0);
        const QJsonArray entries = QJsonDocument::fromJson(history.out.toUtf8()).array();
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.at(0).toObject().value(QStringLiteral("workstation")).toString(), first.root());
        QCOMPARE(entries.at(0).toObject().value(QStringLiteral("task")).toString(),
                 QStringLiteral("CORE01_1201"));
    }

    // A root whose reads never return (its scheduled-task file hangs, as on a share that stopped
    // answering): given up after the deadline with that reason, while the others are printed.
    void rootThatHangs() {
        TestAgent hanging;
        TestAgent demo;
        QVERIFY(writeDemo(hanging));
        QVERIFY(writeDemo(demo));
        const test::BlockingFile blocking(hanging.paths().scheduledTasks());
        if (!blocking.isBound())
            QSKIP(test::BlockingFile::kCannotBind);
        QElapsedTimer clock;
        clock.start();
        const CorvanectlRun run = runCorvanectl(
            withRoots({hanging.root(), demo.root()}, {QStringLiteral("--deadline"), QStringLiteral("1"),
                                                      QStringLiteral("list"), QStringLiteral("--csv")}));
        QVERIFY(run.finished);
        QVERIFY2(clock.elapsed() < test::scaledMs(6000), qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, hanging.root() + QStringLiteral(": did not answer within 1 s\n"));
        QCOMPARE(run.out.count(QStringLiteral("\r\n") + demo.root() + QLatin1Char(',')), 12);
    }

    // --computers FILE: a name a line, surrounding space and blank lines left out, a machine named twice
    // read once, each named with its reason when it cannot be read; a line that is no name stops the run.
    void workstationsFromAFile() {
        QTemporaryDir dir;
        const QString names = dir.filePath(QStringLiteral("names.txt"));
        const auto write = [&](const QByteArray& content) {
            QFile file(names);
            return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
        };
        QVERIFY(write("  WS-1 \n\n\tWS2\r\nws-1\n"));
        const CorvanectlRun run =
            runCorvanectl({QStringLiteral("--computers"), names, QStringLiteral("--deadline"),
                           QStringLiteral("1"), QStringLiteral("list"), QStringLiteral("--csv")});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out.count(QLatin1Char('\n')), 1); // the header alone
        const QStringList unread = run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(unread.size(), 2);
        QVERIFY2(unread.at(0).startsWith(QLatin1String("\\\\WS-1\\C$: ")), qPrintable(run.err));
        QVERIFY2(unread.at(1).startsWith(QLatin1String("\\\\WS2\\C$: ")), qPrintable(run.err));

        QVERIFY(write("WS1\nWS1/../other\n"));
        const CorvanectlRun bad =
            runCorvanectl({QStringLiteral("--computers"), names, QStringLiteral("list")});
        QCOMPARE(bad.exitCode, 2);
        QVERIFY2(bad.err.startsWith(QStringLiteral("corvanectl: ") + names + QStringLiteral(": line 2: ")),
                 qPrintable(bad.err));
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no command") << QStringList{};
        QTest::newRow("unknown command") << QStringList{QStringLiteral("frobnicate")};
        QTest::newRow("bad date") << QStringList{QStringLiteral("log"), QStringLiteral("--date"),
                                                 QStringLiteral("7/12/2026")};
        QTest::newRow("unknown option") << QStringList{QStringLiteral("list"), QStringLiteral("--colour")};
        QTest::newRow("extra argument") << QStringList{QStringLiteral("list"), QStringLiteral("more")};
        QTest::newRow("stop without task") << QStringList{QStringLiteral("stop")};
        QTest::newRow("dry run of a list")
            << QStringList{QStringLiteral("list"), QStringLiteral("--dry-run")};
        QTest::newRow("bad timeout") << QStringList{QStringLiteral("sync"), QStringLiteral("--timeout"),
                                                    QStringLiteral("0")};
        // Nothing is changed, nor synchronised, on another workstation from the command line.
        QTest::newRow("stop by name") << QStringList{QStringLiteral("--computer"), QStringLiteral("WS1"),
                                                     QStringLiteral("stop"), QStringLiteral("T1")};
        QTest::newRow("sync on several")
            << QStringList{QStringLiteral("--agent-root"), QStringLiteral("a"),
                           QStringLiteral("--agent-root"), QStringLiteral("b"), QStringLiteral("sync")};
    }
    void usageErrors() {
        QFETCH(QStringList, arguments);
        const CorvanectlRun run = runCorvanectl(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.contains(QLatin1String("Usage:")));
        QCOMPARE(run.out, QString());
    }
};

QTEST_GUILESS_MAIN(TestCorvanectl)
#include "tst_corvanectl.moc"
