// Policy Sync: the passes over the synchroniser's log, and real runs against the stand-in synchroniser.
#include "PolicySyncRun.h"
#include "SyncLog.h"
#include "TestAgent.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

using namespace corvane;
using corvane::test::TestAgent;

namespace {

const QByteArray kEarlierRun = "Mon 09:00 policy.sync: Starting\r\n"
                               "Mon 09:01 policy.sync: Download information for old.xml\r\n"
                               "Mon 09:02 policy.sync: finished [STOP]\r\n";

PolicySyncRun::Timing fastTiming(int timeoutMs = 20000) {
    PolicySyncRun::Timing timing;
    timing.passIntervalMs = 50;
    timing.summaryHoldMs = 100;
    timing.timeoutMs = timeoutMs;
    return timing;
}

// An agent whose synchroniser log ends with an earlier run, and the stand-in synchroniser with `options`.
void prepareAgent(TestAgent& agent, fake::SyncOptions options, bool earlierRun = true) {
    QVERIFY(agent.createDatabase());
    if (earlierRun)
        QVERIFY(agent.writeFile(agent.paths().syncLog(), kEarlierRun));
    QVERIFY(agent.installSynchroniser(QStringLiteral(FAKE_AGENT_PATH), options));
}

fake::SyncOptions delayed(int delayMs) {
    fake::SyncOptions options;
    options.delayMs = delayMs;
    return options;
}

// Runs a sync to its end and returns how it ended.
struct Finished {
    PolicySyncRun::Outcome outcome;
    QString message;
    SyncPass pass;
    QStringList statuses;
    int passes = 0;
};

Finished runToEnd(const TestAgent& agent, const PolicySyncRun::Timing& timing) {
    PolicySyncRun run(agent.paths(), timing);
    Finished result{PolicySyncRun::Outcome::Abandoned, {}, {}, {}, 0};
    QObject::connect(&run, &PolicySyncRun::statusChanged, &run,
                     [&](const QString& text) { result.statuses << text; });
    QObject::connect(&run, &PolicySyncRun::passed, &run, [&](const SyncPass&) { ++result.passes; });
    QSignalSpy finished(&run, &PolicySyncRun::finished);
    if (!run.start()) {
        result.message = run.error();
        return result;
    }
    if (!finished.wait(timing.timeoutMs + 10000))
        return result;
    result.outcome = finished.first().at(0).value<PolicySyncRun::Outcome>();
    result.message = finished.first().at(1).toString();
    result.pass = run.lastPass();
    return result;
}

} // namespace

class TestSync : public QObject {
    Q_OBJECT

private slots:
    void pass_data() {
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<QString>("marker");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<int>("policies");
        QTest::addColumn<int>("xmls");
        QTest::addColumn<QString>("last");
        QTest::newRow("three new lines after a stop marker")
            << kEarlierRun +
                   "a: Download information for p1\r\nb: The remote operation file p1.xml was downloaded\r\n"
                   "c: done [STOP]\r\n"
            << "Mon 09:02 policy.sync: finished [STOP]"
            << QStringList{QStringLiteral("a: Download information for p1"),
                           QStringLiteral("b: The remote operation file p1.xml was downloaded"),
                           QStringLiteral("c: done [STOP]")}
            << 1 << 1 << "c: done [STOP]";
        QTest::newRow("the marker line itself counts but is not shown")
            << QByteArray("m: Download information for x\r\nn: next\r\n") << "m: Download information for x"
            << QStringList{QStringLiteral("n: next")} << 1 << 0 << "n: next";
        QTest::newRow("unstamped lines neither shown nor counted")
            << QByteArray(
                   "m: marker\nDownload information for x\nThe remote operation file y was downloaded\n"
                   "z: was downloaded, no file phrase\n")
            << "m: marker" << QStringList{QStringLiteral("z: was downloaded, no file phrase")} << 0 << 0
            << "z: was downloaded, no file phrase";
        QTest::newRow("phrases in either order")
            << QByteArray("m: x\nq: was downloaded: The remote operation file r\n") << "m: x"
            << QStringList{QStringLiteral("q: was downloaded: The remote operation file r")} << 0 << 1
            << "q: was downloaded: The remote operation file r";
        QTest::newRow("a later copy of the marker is hidden but counted")
            << QByteArray("m: Download information for a\nn: b\nm: Download information for a\n")
            << "m: Download information for a" << QStringList{QStringLiteral("n: b")} << 2 << 0
            << "m: Download information for a";
        QTest::newRow("no marker: nothing shown or counted")
            << QByteArray("a: Download information for p\nb: [STOP]\n") << "" << QStringList{} << 0 << 0
            << "b: [STOP]";
        QTest::newRow("marker gone, log started afresh")
            << QByteArray("a: Download information for p\nb: [STOP]\n")
            << "Mon 09:02 policy.sync: finished [STOP]" << QStringList{} << 0 << 0 << "b: [STOP]";
        QTest::newRow("empty log") << QByteArray() << "m: x" << QStringList{} << 0 << 0 << "(none)";
    }
    void pass() {
        QFETCH(QByteArray, log);
        QFETCH(QString, marker);
        QFETCH(QStringList, shown);
        QFETCH(int, policies);
        QFETCH(int, xmls);
        QFETCH(QString, last);
        const SyncPass pass = readSyncPass(log, marker);
        QCOMPARE(pass.shownLines, shown);
        QCOMPARE(pass.policyCount, policies);
        QCOMPARE(pass.xmlCount, xmls);
        QCOMPARE(pass.lastStamped.value_or(QStringLiteral("(none)")), last);
    }

    void markerAndEnd() {
        QCOMPARE(syncMarkerLine(kEarlierRun + "no colon here\n"),
                 QStringLiteral("Mon 09:02 policy.sync: finished [STOP]"));
        QCOMPARE(syncMarkerLine("no stamped line\n"), QString());
        QVERIFY(syncEnded(QStringLiteral("x: [STOP]"), QStringLiteral("m: [STOP]")));
        QVERIFY(!syncEnded(QStringLiteral("m: [STOP]"), QStringLiteral("m: [STOP]"))); // the old run's end
        QVERIFY(!syncEnded(QStringLiteral("x: [stop]"), QString()));                   // case matters
        QVERIFY(!syncEnded(QString(), QString()));
        QCOMPARE(syncSummary(2, 1), QStringLiteral("Synchronized: 2 (1 xml downloaded)"));
    }

    // Random appends (finished and unfinished lines), truncations, replacements and deletions: after every
    // step the follower's pass and the backward marker search equal a full pass over the whole log.
    void followerMatchesAFullPass() {
        const QByteArray pieces[] = {"m: marker line\r\n",
                                     "a: Download information for p\n",
                                     "b: The remote operation file q was downloaded\r\n",
                                     "no colon\n",
                                     "\r\n",
                                     "c: half",
                                     " of a line [STOP]\n",
                                     "d: [STOP]\n",
                                     "e: was downloaded\n",
                                     ":",
                                     "\n"};
        const QString marker = QStringLiteral("m: marker line");
        for (quint32 seed = 1; seed <= 40; ++seed) {
            QRandomGenerator random(seed);
            TestAgent agent;
            const QString path = agent.paths().syncLog();
            SyncLogFollower follower(marker);
            for (int step = 0; step < 60; ++step) {
                const int op = random.bounded(10);
                QFile file(path);
                if (op < 6) {
                    QByteArray text;
                    for (int i = random.bounded(1, 5); i > 0; --i)
                        text += pieces[random.bounded(int(std::size(pieces)))];
                    QVERIFY(agent.appendFile(path, text));
                } else if (op == 6 && file.exists()) {
                    QVERIFY(file.resize(random.bounded(file.size() + 1)));
                } else if (op == 7) {
                    QByteArray text;
                    for (int i = random.bounded(0, 6); i > 0; --i)
                        text += pieces[random.bounded(int(std::size(pieces)))];
                    QVERIFY(agent.writeFile(path, text));
                } else if (op == 8 && random.bounded(3) == 0) {
                    QFile::remove(path);
                }
                const QByteArray content = readWholeFile(path);
                const SyncPass expected = readSyncPass(content, marker);
                const SyncPass pass = follower.pass(path);
                const QString where = QStringLiteral("seed %1 step %2 op %3").arg(seed).arg(step).arg(op);
                QVERIFY2(pass.shownLines == expected.shownLines, qPrintable(where));
                QVERIFY2(pass.policyCount == expected.policyCount && pass.xmlCount == expected.xmlCount,
                         qPrintable(where));
                QVERIFY2(pass.lastStamped == expected.lastStamped, qPrintable(where));
                QVERIFY2(lastStampedLine(path, 1 + random.bounded(9)) == syncMarkerLine(content),
                         qPrintable(where));
            }
        }
    }

    void completedRun() {
        TestAgent agent;
        prepareAgent(agent, delayed(30));
        const Finished result = runToEnd(agent, fastTiming());
        QCOMPARE(result.outcome, PolicySyncRun::Outcome::Completed);
        QCOMPARE(result.pass.policyCount, 2);
        QCOMPARE(result.pass.xmlCount, 1);
        QCOMPARE(result.pass.shownLines.size(), 6);
        QVERIFY(result.pass.shownLines.last().endsWith(QLatin1String("[STOP]")));
        QVERIFY(result.passes >= 2);
        QCOMPARE(result.statuses,
                 QStringList({QStringLiteral("Call PolicySync"), QStringLiteral("Synchronizing policies..."),
                              QStringLiteral("Synchronized: 2 (1 xml downloaded)")}));
        QCOMPARE(agent.dump(QStringLiteral("ClientOperations")).size(), 1); // the new operation
    }

    void freshLogMeansNoMarker() {
        TestAgent agent;
        fake::SyncOptions options = delayed(30);
        options.freshLog = true;
        prepareAgent(agent, options);
        const Finished result = runToEnd(agent, fastTiming());
        QCOMPARE(result.outcome, PolicySyncRun::Outcome::Completed);
        QCOMPARE(result.pass.shownLines, QStringList());
        QCOMPARE(result.statuses.last(), QStringLiteral("Synchronized: 0 (0 xml downloaded)"));
    }

    void missingLogBeforeTheRun() {
        TestAgent agent;
        prepareAgent(agent, delayed(30), false);
        const Finished result = runToEnd(agent, fastTiming());
        QCOMPARE(result.outcome, PolicySyncRun::Outcome::Completed);
        QCOMPARE(result.statuses.last(), QStringLiteral("Synchronized: 0 (0 xml downloaded)"));
    }

    void runsWithoutAnEndLineTimeOut_data() {
        QTest::addColumn<bool>("neverStop");
        QTest::addColumn<bool>("failAtOnce");
        QTest::newRow("never writes [STOP]") << true << false;
        QTest::newRow("exits at once") << false << true;
    }
    void runsWithoutAnEndLineTimeOut() {
        QFETCH(bool, neverStop);
        QFETCH(bool, failAtOnce);
        TestAgent agent;
        fake::SyncOptions options = delayed(10);
        options.neverStop = neverStop;
        options.failAtOnce = failAtOnce;
        prepareAgent(agent, options);
        const Finished result = runToEnd(agent, fastTiming(1500));
        QCOMPARE(result.outcome, PolicySyncRun::Outcome::TimedOut);
        QVERIFY2(result.message.contains(QLatin1String("no end line")), qPrintable(result.message));
        QCOMPARE(result.statuses.last(), result.message);
    }

    void synchroniserThatCannotStart() {
        TestAgent agent;
        PolicySyncRun run(agent.paths(), fastTiming());
        QVERIFY(!run.start());
        QVERIFY(run.error().contains(agent.paths().synchroniser()));
        QVERIFY(!run.isRunning());

        QVERIFY(agent.writeFile(agent.paths().synchroniser(), "not a program")); // present, not executable
        QVERIFY(!run.start());
        QVERIFY2(run.error().contains(agent.paths().synchroniser()), qPrintable(run.error()));
    }

    void abandonEndsAtOnce() {
        TestAgent agent;
        fake::SyncOptions options = delayed(10);
        options.neverStop = true;
        prepareAgent(agent, options, false);
        PolicySyncRun run(agent.paths(), fastTiming());
        QSignalSpy finished(&run, &PolicySyncRun::finished);
        QVERIFY(run.start());
        QTest::qWait(200);
        run.abandon();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().at(0).value<PolicySyncRun::Outcome>(), PolicySyncRun::Outcome::Abandoned);
        QVERIFY(!run.isRunning());
        QTest::qWait(200);
        QCOMPARE(finished.size(), 1); // no pass after the end
    }
};

QTEST_GUILESS_MAIN(TestSync)
#include "tst_sync.moc"
