// Policy Sync: following the synchroniser's log, and real runs against the stand-in synchroniser.
#include "DemoAgent.h"
#include "TestAgent.h"
#include "base/TextLines.h"
#include "sync/PolicySyncRun.h"
#include "sync/SyncLog.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace corvane;
using corvane::test::TestAgent;

namespace {

const QByteArray kEarlierRun = "Mon 09:00 policy.sync: Starting\r\n"
                               "Mon 09:01 policy.sync: Download information for old.xml\r\n"
                               "Mon 09:02 policy.sync: finished [STOP]\r\n";

// The tests' quick timing, the summary held shorter still.
PolicySyncRun::Timing fastTiming(int timeoutMs = 20000) {
    PolicySyncRun::Timing timing = test::quickSyncTiming(timeoutMs);
    timing.summaryHoldMs = 100;
    return timing;
}

// An agent whose synchroniser log holds `log` (none when null), and the stand-in synchroniser with `options`.
bool prepareAgent(TestAgent& agent, fake::SyncOptions options, const QByteArray& log = kEarlierRun) {
    if (!agent.createDatabase())
        return false;
    if (!log.isNull() && !agent.writeFile(agent.paths().syncLog(), log))
        return false;
    return agent.installSynchroniser(QStringLiteral(FAKE_AGENT_PATH), options);
}

fake::SyncOptions delayed(int delayMs) {
    fake::SyncOptions options;
    options.delayMs = delayMs;
    return options;
}

// Rewrites the file at `path` in place: the same file, truncated and written again.
void rewriteInPlace(const QString& path, const QByteArray& content) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

// The stamped lines of `bytes`, as the log's reader splits lines, an unfinished last one included.
QStringList stampedLines(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QStringList lines;
    readLinesFrom(buffer, 0, [&](QByteArrayView line, bool) {
        if (SyncTally::isStamped(line))
            lines << QString::fromLatin1(line);
    });
    return lines;
}

// What a full pass over a run's own bytes finds, an unfinished last line included.
SyncTally tallyOf(const QByteArray& runBytes) {
    SyncTally tally;
    for (const QString& line : stampedLines(runBytes))
        tally.add(line);
    return tally;
}

// The stamped lines among the finished lines of a run's bytes: what the window shows.
QStringList finishedStampedLines(const QByteArray& runBytes) {
    return stampedLines(runBytes.left(runBytes.lastIndexOf('\n') + 1));
}

// How a run ended, and what it showed on the way.
struct Finished {
    PolicySyncRun::Outcome outcome = PolicySyncRun::Outcome::Abandoned;
    QString message;
    SyncTally tally;
    QStringList lines;
    QStringList statuses;
    int passes = 0;
    qint64 elapsedMs = 0;
};

// Every synchroniser a run started, and whatever it handed its work to, has ended.
void waitForSynchronisers(const TestAgent& agent) {
    QTRY_VERIFY_WITH_TIMEOUT(findSynchronisers(agent.paths().synchroniser()).isEmpty(),
                             test::scaledMs(15000));
}

int runsInLog(const TestAgent& agent) {
    QFile log(agent.paths().syncLog());
    return log.open(QIODevice::ReadOnly) ? int(log.readAll().count("Starting policy synchronisation")) : -1;
}

Finished runToEnd(const TestAgent& agent, const PolicySyncRun::Timing& timing) {
    PolicySyncRun run(agent.paths(), timing);
    Finished result;
    QObject::connect(&run, &PolicySyncRun::statusChanged, &run,
                     [&](const QString& text) { result.statuses << text; });
    QObject::connect(&run, &PolicySyncRun::passed, &run, [&](const SyncPass& pass) {
        ++result.passes;
        if (pass.fromStart)
            result.lines.clear();
        result.lines += pass.lines.toList();
    });
    QSignalSpy finished(&run, &PolicySyncRun::finished);
    QElapsedTimer clock;
    clock.start();
    if (!run.start(result.message))
        return result;
    if (!finished.wait(timing.timeoutMs + 10000))
        return result;
    result.elapsedMs = clock.elapsed();
    result.outcome = finished.first().at(0).value<PolicySyncRun::Outcome>();
    result.message = finished.first().at(1).toString();
    result.tally = run.tally();
    return result;
}

} // namespace

class TestSync : public QObject {
    Q_OBJECT

private slots:
    // The log before the run, one pass, a change, another pass: the second pass finds the run's own lines.
    void followerFindsTheRunsOwnLines_data() {
        QTest::addColumn<QByteArray>("before"); // null: no log when the run starts
        QTest::addColumn<QString>("change");    // append, rewrite (in place), replace (another file)
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<int>("policies");
        QTest::addColumn<int>("xmls");
        QTest::addColumn<bool>("ended");
        const QByteArray threeLines =
            "a: Download information for p1\r\nb: The remote operation file p1.xml was "
            "downloaded\r\nc: done [STOP]\r\n";
        const QStringList threeShown{QStringLiteral("a: Download information for p1"),
                                     QStringLiteral("b: The remote operation file p1.xml was downloaded"),
                                     QStringLiteral("c: done [STOP]")};
        QTest::newRow("three lines after an earlier run")
            << kEarlierRun << "append" << threeLines << threeShown << 1 << 1 << true;
        QTest::newRow("the last line before the run is not counted")
            << QByteArray("m: Download information for x\n") << "append" << QByteArray("n: next\n")
            << QStringList{QStringLiteral("n: next")} << 0 << 0 << false;
        QTest::newRow("an earlier copy of the last line does not bring older lines in")
            << QByteArray("m: marker\nx: Download information for old\nm: marker\n") << "append"
            << QByteArray("z: done [STOP]\n") << QStringList{QStringLiteral("z: done [STOP]")} << 0 << 0
            << true;
        QTest::newRow("no stamped line before the run")
            << QByteArray("no colon here\n") << "append" << threeLines << threeShown << 1 << 1 << true;
        QTest::newRow("no log before the run")
            << QByteArray() << "append" << threeLines << threeShown << 1 << 1 << true;
        QTest::newRow("an end line equal to the earlier run's")
            << kEarlierRun << "append"
            << QByteArray("Mon 09:00 policy.sync: Starting\r\nMon 09:02 policy.sync: finished [STOP]\r\n")
            << QStringList{QStringLiteral("Mon 09:00 policy.sync: Starting"),
                           QStringLiteral("Mon 09:02 policy.sync: finished [STOP]")}
            << 0 << 0 << true;
        QByteArray twenty;
        for (int i = 1; i <= 20; ++i)
            twenty += "policy.sync: The remote operation file f" + QByteArray::number(i) +
                      ".xml was downloaded\r\n";
        QTest::newRow("log rewritten in place, longer than before")
            << kEarlierRun << "rewrite" << twenty
            << QString::fromLatin1(twenty).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts) << 0 << 20
            << false;
        QTest::newRow("unstamped lines neither shown nor counted")
            << kEarlierRun << "append"
            << QByteArray(
                   "Download information for x\nThe remote operation file y was downloaded\n"
                   "z: was downloaded, no file phrase\nq: was downloaded: The remote operation file r\n")
            << QStringList{QStringLiteral("z: was downloaded, no file phrase"),
                           QStringLiteral("q: was downloaded: The remote operation file r")}
            << 0 << 1 << false;
        QTest::newRow("the end phrase in lower case")
            << kEarlierRun << "append" << QByteArray("x: [stop]\n")
            << QStringList{QStringLiteral("x: [stop]")} << 0 << 0 << false;
        QTest::newRow("an end line without its line break yet")
            << kEarlierRun << "append" << QByteArray("a: one\nb: done [STOP]")
            << QStringList{QStringLiteral("a: one")} << 0 << 0 << true;
    }
    void followerFindsTheRunsOwnLines() {
        QFETCH(QByteArray, before);
        QFETCH(QString, change);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, shown);
        QFETCH(int, policies);
        QFETCH(int, xmls);
        QFETCH(bool, ended);
        TestAgent agent;
        const QString path = agent.paths().syncLog();
        if (!before.isNull())
            QVERIFY(agent.writeFile(path, before));
        SyncLogFollower follower(path);
        const SyncPass first = follower.pass();
        QCOMPARE(first.lines.toList(), QStringList());
        QVERIFY(!syncEnded(first.tally));
        if (change == QLatin1String("append"))
            QVERIFY(agent.appendFile(path, bytes));
        else if (change == QLatin1String("rewrite"))
            rewriteInPlace(path, bytes);
        else
            QVERIFY(agent.writeFile(path, bytes));
        const SyncPass pass = follower.pass();
        QCOMPARE(pass.lines.toList(), shown);
        QCOMPARE(pass.tally.policyCount, policies);
        QCOMPARE(pass.tally.xmlCount, xmls);
        QCOMPARE(syncEnded(pass.tally), ended);
        QCOMPARE(follower.pass().lines.toList(), QStringList()); // each line once
    }

    void summaryText() {
        SyncTally tally;
        tally.add(QStringLiteral("a: Download information for x"));
        tally.add(QStringLiteral("b: Download information for y"));
        tally.add(QStringLiteral("c: The remote operation file y was downloaded"));
        QCOMPARE(syncSummary(tally), QStringLiteral("Synchronized: 2 (1 xml downloaded)"));
    }

    // A synchroniser that writes far more than anyone reads: a pass hands on its last lines only, and counts
    // them all.
    void passesKeepABoundedNumberOfLines() {
        TestAgent agent;
        const QString path = agent.paths().syncLog();
        QVERIFY(agent.writeFile(path, kEarlierRun));
        SyncLogFollower follower(path);
        QByteArray many;
        for (int i = 0; i < kSyncLogLines + 5000; ++i)
            many += "x: Download information for p" + QByteArray::number(i) + "\n";
        QVERIFY(agent.appendFile(path, many));
        const SyncPass pass = follower.pass();
        QCOMPARE(pass.lines.size(), kSyncLogLines);
        QCOMPARE(pass.linesLeftOut, 5000);
        QCOMPARE(pass.lines.last(),
                 QStringLiteral("x: Download information for p%1").arg(kSyncLogLines + 4999));
        QCOMPARE(pass.tally.policyCount, kSyncLogLines + 5000);
    }

    // Random appends (finished and unfinished lines), truncations, replacements, rewrites in place that grow
    // the log, and deletions: after every step the follower finds what a full pass over the run's own bytes
    // finds, those after the log's end when the run began, or all of them once the log was started again.
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
        auto someText = [&](QRandomGenerator& random, int from, int to) {
            QByteArray text;
            for (int i = random.bounded(from, to); i > 0; --i)
                text += pieces[random.bounded(int(std::size(pieces)))];
            return text;
        };
        for (quint32 seed = 1; seed <= 40; ++seed) {
            QRandomGenerator random(seed);
            TestAgent agent;
            const QString path = agent.paths().syncLog();
            if (random.bounded(4) != 0)
                QVERIFY(agent.writeFile(path, someText(random, 0, 8)));
            SyncLogFollower follower(path);
            qint64 runStart = QFileInfo(path).size(); // where the run's bytes begin
            QStringList shown;
            for (int step = 0; step < 60; ++step) {
                const int op = random.bounded(10);
                QFile file(path);
                const qint64 size = file.exists() ? file.size() : -1;
                if (op < 5) {
                    QVERIFY(agent.appendFile(path, someText(random, 1, 5)));
                } else if (op == 5 && size >= 0) {
                    const qint64 newSize = random.bounded(size + 1);
                    QVERIFY(file.resize(newSize));
                    if (newSize < size)
                        runStart = 0;
                } else if (op == 6) { // replaced by another file
                    QVERIFY(agent.writeFile(path, someText(random, 0, 6)));
                    runStart = 0;
                } else if (op == 7 && size >= 0) { // rewritten in place, longer, from its first byte on
                    QByteArray text = "R";
                    while (text.size() <= size)
                        text += someText(random, 1, 3);
                    rewriteInPlace(path, text);
                    runStart = 0;
                } else if (op == 8 && random.bounded(3) == 0) {
                    QFile::remove(path);
                    runStart = 0;
                }
                QFile whole(path);
                const QByteArray content = whole.open(QIODevice::ReadOnly) ? whole.readAll() : QByteArray();
                const QByteArray runBytes = content.mid(runStart);
                const SyncTally expected = tallyOf(runBytes);
                const SyncPass pass = follower.pass();
                if (pass.fromStart)
                    shown.clear();
                shown += pass.lines.toList();
                const QString where = QStringLiteral("seed %1 step %2 op %3").arg(seed).arg(step).arg(op);
                QVERIFY2(shown == finishedStampedLines(runBytes), qPrintable(where));
                QVERIFY2(pass.tally.policyCount == expected.policyCount &&
                             pass.tally.xmlCount == expected.xmlCount,
                         qPrintable(where));
                QVERIFY2(pass.tally.lastStamped == expected.lastStamped, qPrintable(where));
            }
        }
    }

    void completedRun() {
        TestAgent agent;
        QVERIFY(prepareAgent(agent, delayed(30)));
        const Finished result = runToEnd(agent, fastTiming());
        QCOMPARE(result.outcome, PolicySyncRun::Outcome::Completed);
        QCOMPARE(result.tally.policyCount, 2);
        QCOMPARE(result.tally.xmlCount, 1);
        QCOMPARE(result.lines.size(), 6);
        QVERIFY(result.lines.last().endsWith(QLatin1String("[STOP]")));
        QVERIFY(result.passes >= 2);
        QCOMPARE(result.statuses,
                 QStringList({QStringLiteral("Call PolicySync"), QStringLiteral("Synchronizing policies..."),
                              QStringLiteral("Synchronized: 2 (1 xml downloaded)")}));
        QCOMPARE(agent.dump(QStringLiteral("ClientOperations")).size(), 1); // the new operation
    }

    // However the log stood before the run, the run counts what its synchroniser wrote.
    void runCountsItsOwnLines_data() {
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<bool>("freshLog");
        QTest::newRow("log started afresh by the synchroniser") << kEarlierRun << true;
        QTest::newRow("no log before the run") << QByteArray() << false;
        QTest::newRow("no stamped line before the run") << QByteArray("no colon here\r\n") << false;
    }
    void runCountsItsOwnLines() {
        QFETCH(QByteArray, log);
        QFETCH(bool, freshLog);
        TestAgent agent;
        fake::SyncOptions options = delayed(30);
        options.freshLog = freshLog;
        QVERIFY(prepareAgent(agent, options, log));
        const Finished result = runToEnd(agent, fastTiming());
        QCOMPARE(result.outcome, PolicySyncRun::Outcome::Completed);
        QCOMPARE(result.lines.size(), 6);
        QCOMPARE(result.statuses.last(), QStringLiteral("Synchronized: 2 (1 xml downloaded)"));
    }

    // How a run ends when its synchroniser exits: a failure ends it at once with the status; an exit with
    // status 0 may have handed the work to a child, followed to its end line, or to the end of the last
    // synchroniser process and a quiet log, counting what was written.
    void howARunEnds_data() {
        QTest::addColumn<bool>("failAtOnce");
        QTest::addColumn<bool>("handOver");
        QTest::addColumn<bool>("neverStop");
        QTest::addColumn<PolicySyncRun::Outcome>("outcome");
        QTest::addColumn<QString>("expected");
        QTest::newRow("fails at once")
            << true << false << true << PolicySyncRun::Outcome::Failed
            << "exited with status 1 without writing its end line. Its last error output: policy.sync: "
               "cannot reach the core server";
        QTest::newRow("exits 0 after its lines")
            << false << false << true << PolicySyncRun::Outcome::NoEndLine
            << "The policy synchroniser ended without its end line. Synchronized: 2 (1 xml downloaded)";
        QTest::newRow("hands over to a child that ends the run")
            << false << true << false << PolicySyncRun::Outcome::Completed
            << "Synchronized: 2 (1 xml downloaded)";
        QTest::newRow("hands over to a child that ends without its end line")
            << false << true << true << PolicySyncRun::Outcome::NoEndLine
            << "The policy synchroniser ended without its end line. Synchronized: 2 (1 xml downloaded)";
    }
    void howARunEnds() {
        QFETCH(bool, failAtOnce);
        QFETCH(bool, handOver);
        QFETCH(bool, neverStop);
        QFETCH(PolicySyncRun::Outcome, outcome);
        QFETCH(QString, expected);
        TestAgent agent;
        fake::SyncOptions options = delayed(60);
        options.failAtOnce = failAtOnce;
        options.handOver = handOver;
        options.neverStop = neverStop;
        QVERIFY(prepareAgent(agent, options));
        const Finished result = runToEnd(agent, fastTiming(test::scaledMs(8000)));
        waitForSynchronisers(agent);
        QCOMPARE(result.outcome, outcome);
        QVERIFY2(result.statuses.last().contains(expected), qPrintable(result.statuses.last()));
        if (failAtOnce)
            QVERIFY2(result.elapsedMs < test::scaledMs(5000), qPrintable(QString::number(result.elapsedMs)));
        else
            QCOMPARE(result.lines.size(), neverStop ? 5 : 6); // all it wrote, seen to the end
    }

    // One holder at a time on the machine; a holder that lets go, or ends, frees it.
    void machineWideLock() {
        TestAgent agent;
        QString error;
        auto first = std::make_unique<PolicySyncLock>(agent.paths());
        PolicySyncLock second(agent.paths());
        QCOMPARE(first->tryTake(error), PolicySyncLock::Result::Taken);
        QCOMPARE(second.tryTake(error), PolicySyncLock::Result::HeldElsewhere);
        first.reset();
        QCOMPARE(second.tryTake(error), PolicySyncLock::Result::Taken);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    // A synchroniser started outside the run, by anyone: a start is refused naming it, and starts nothing;
    // following joins it from then on, to its end line.
    void synchroniserRunningElsewhere() {
        TestAgent agent;
        QVERIFY(prepareAgent(agent, delayed(150)));
        QProcess elsewhere;
        elsewhere.start(agent.paths().synchroniser(), QStringList());
        QVERIFY(elsewhere.waitForStarted());
        PolicySyncRun run(agent.paths(), fastTiming());
        QSignalSpy finished(&run, &PolicySyncRun::finished);
        QString error;
        QVERIFY2(run.start(error), qPrintable(error));
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.last().at(0).value<PolicySyncRun::Outcome>(), PolicySyncRun::Outcome::Refused);
        const QString refusal = finished.last().at(1).toString();
        const QRegularExpressionMatch named =
            QRegularExpression(QStringLiteral("^A policy synchroniser is already running \\(process (\\d+), "
                                              "started \\d\\d:\\d\\d:\\d\\d\\)$"))
                .match(refusal);
        QVERIFY2(named.hasMatch(), qPrintable(refusal));
        QCOMPARE(named.captured(1).toLongLong(), elsewhere.processId());

        QSignalSpy summaries(&run, &PolicySyncRun::summarised);
        QVERIFY2(run.follow(error), qPrintable(error));
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.last().at(0).value<PolicySyncRun::Outcome>(), PolicySyncRun::Outcome::Completed);
        QCOMPARE(summaries.size(), 1);
        QVERIFY2(summaries.first().at(0).toString().endsWith(QLatin1String(", joined a run in progress")),
                 qPrintable(summaries.first().at(0).toString()));
        QVERIFY(elsewhere.state() == QProcess::NotRunning || elsewhere.waitForFinished(10000));
        QCOMPARE(runsInLog(agent), 1);

        // With none left there is nothing to follow.
        QVERIFY2(run.follow(error), qPrintable(error));
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.last().at(1).toString(), QStringLiteral("No policy synchroniser is running."));
#ifndef Q_OS_WIN
        // A synchroniser that is a script runs as its interpreter, and is known by its script argument.
        QVERIFY(agent.writeFile(agent.paths().synchroniser(), "#!/bin/sh\nsleep 2\n"));
        QProcess script;
        script.start(QStringLiteral("/bin/sh"), {agent.paths().synchroniser()});
        QVERIFY(script.waitForStarted());
        QTRY_COMPARE(findSynchronisers(agent.paths().synchroniser()).size(), 1);
        QCOMPARE(findSynchronisers(agent.paths().synchroniser()).first().pid, script.processId());
        script.kill();
        QVERIFY(script.waitForFinished());
#endif
    }

    void synchroniserWithoutAnEndLineTimesOut() {
        TestAgent agent;
        fake::SyncOptions options = delayed(10);
        options.neverStop = true;
        options.holdMs = 2000;
        QVERIFY(prepareAgent(agent, options));
        const Finished result = runToEnd(agent, fastTiming(1000));
        waitForSynchronisers(agent);
        QCOMPARE(result.outcome, PolicySyncRun::Outcome::TimedOut);
        QVERIFY2(result.message.contains(QLatin1String("no end line")) &&
                     result.message.contains(QLatin1String("still running")),
                 qPrintable(result.message));
    }

    // A synchroniser that is missing, cannot start, or dies with a status of the system: the message names
    // it as the system writes paths, and on Windows gives the status in hexadecimal with the system's text.
    void synchroniserThatCannotStart() {
        TestAgent agent;
        const QString shownPath = QDir::toNativeSeparators(agent.paths().synchroniser());
        PolicySyncRun run(agent.paths(), fastTiming());
        QString error;
        QVERIFY(!run.start(error));
        QVERIFY2(error.contains(shownPath), qPrintable(error));
        QVERIFY(!run.isRunning());

        QSignalSpy finished(&run, &PolicySyncRun::finished);
        auto messageOfARun = [&] {
            QString error;
            return run.start(error) && finished.wait(10000) ? finished.last().at(1).toString() : error;
        };
        QVERIFY(agent.writeFile(agent.paths().synchroniser(), "not a program")); // present, not executable
        QString message = messageOfARun();
        QVERIFY2(message.contains(shownPath), qPrintable(message));
#ifdef Q_OS_WIN
        QVERIFY2(message.contains(QLatin1String(" (error 0x000000C1)")),
                 qPrintable(message)); // not a valid program
#endif
        fake::SyncOptions options;
        options.exitStatus = 0xC0000135; // how Windows ends a program that misses a library
        QVERIFY(agent.installSynchroniser(QStringLiteral(FAKE_AGENT_PATH), options));
        message = messageOfARun();
#ifdef Q_OS_WIN
        QVERIFY2(message.contains(QLatin1String("ended with status 0xC0000135 (")), qPrintable(message));
#else
        QVERIFY2(message.contains(QLatin1String("exited with status 53 ")), qPrintable(message));
#endif
        QVERIFY(!run.isRunning());
    }

    // Abandoning stops following at once and leaves the synchroniser running; no second one starts while
    // it does, and one may start once it has finished.
    void abandonLeavesTheSynchroniserRunning() {
        TestAgent agent;
        fake::SyncOptions options = delayed(10);
        options.neverStop = true;
        options.holdMs = 1500;
        QVERIFY(prepareAgent(agent, options));
        PolicySyncRun run(agent.paths(), fastTiming());
        QSignalSpy finished(&run, &PolicySyncRun::finished);
        QString error;
        QVERIFY2(run.start(error), qPrintable(error));
        QTRY_VERIFY(run.synchroniserRunning());
        run.abandon();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().at(0).value<PolicySyncRun::Outcome>(), PolicySyncRun::Outcome::Abandoned);
        QVERIFY2(finished.first().at(1).toString().contains(QLatin1String("keeps running")),
                 qPrintable(finished.first().at(1).toString()));
        QVERIFY(!run.isRunning());

        QVERIFY2(run.start(error), qPrintable(error));
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.last().at(0).value<PolicySyncRun::Outcome>(), PolicySyncRun::Outcome::Refused);
        QVERIFY2(finished.last().at(1).toString().contains(QLatin1String("already running")),
                 qPrintable(finished.last().at(1).toString()));
        QTRY_VERIFY_WITH_TIMEOUT(!run.synchroniserRunning(), test::scaledMs(15000));
        QCOMPARE(finished.size(), 2); // no pass, no end after each end
        QVERIFY2(run.start(error), qPrintable(error));
        run.abandon();
    }

    // The synchroniser belongs to the agent: it finishes its work after whatever followed it is gone.
    void synchroniserOutlivesItsRun() {
        TestAgent agent;
        QVERIFY(prepareAgent(agent, delayed(150)));
        auto run = std::make_unique<PolicySyncRun>(agent.paths(), fastTiming());
        QString error;
        QVERIFY2(run->start(error), qPrintable(error));
        QTRY_VERIFY(run->synchroniserRunning());
        run.reset();
        auto endLines = [&] {
            QFile log(agent.paths().syncLog());
            return log.open(QIODevice::ReadOnly) ? log.readAll().count("[STOP]") : 0;
        };
        QTRY_COMPARE_WITH_TIMEOUT(endLines(), 2, test::scaledMs(15000)); // the earlier run's, and this one's
        waitForSynchronisers(agent);
    }
};

QTEST_GUILESS_MAIN(TestSync)
#include "tst_sync.moc"
