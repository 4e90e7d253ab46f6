// Today's part of the invoker log.
#include "TestAgent.h"
#include "TricklingDevice.h"
#include "agent/InvokerLog.h"
#include "agent/InvokerLogFollower.h"
#include "agent/InvokerLogSearch.h"
#include "base/TextLines.h"

#include <QBuffer>
#include <QFile>
#include <QLocale>
#include <QRandomGenerator>
#include <QTest>

#include <limits>

using namespace corvane;
using corvane::test::TestAgent;

class TestInvokerLog : public QObject {
    Q_OBJECT

private slots:
    void dateKey_data() {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("key");
        QTest::newRow("December") << QDate(2026, 12, 7) << "07 Dec 2026";
        QTest::newRow("leading zero kept") << QDate(2027, 1, 1) << "01 Jan 2027";
        QTest::newRow("two-digit day") << QDate(2026, 5, 31) << "31 May 2026";
        QTest::newRow("September") << QDate(2026, 9, 15) << "15 Sep 2026";
    }
    void dateKey() {
        QFETCH(QDate, date);
        QFETCH(QString, key);
        const QLocale saved;
        QLocale::setDefault(
            QLocale(QLocale::French, QLocale::France)); // the key is English whatever the locale
        const QString built = invokerDateKey(date);
        QLocale::setDefault(saved);
        QCOMPARE(built, key);
    }

    void todaysPart_data() {
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("from the first line of today")
            << QByteArray("Sun, 06 Dec 2026 10:00 old\r\nMon, 07 Dec 2026 08:00 first\r\n  detail\r\n"
                          "Mon, 07 Dec 2026 09:00 last\r\n")
            << QStringList{QStringLiteral("Mon, 07 Dec 2026 08:00 first"), QStringLiteral("  detail"),
                           QStringLiteral("Mon, 07 Dec 2026 09:00 last")};
        QTest::newRow("older lines after today's first are kept")
            << QByteArray("x 07 Dec 2026 a\n06 Dec 2026 late writer\nb")
            << QStringList{QStringLiteral("x 07 Dec 2026 a"), QStringLiteral("06 Dec 2026 late writer"),
                           QStringLiteral("b")};
        QTest::newRow("key in lower case does not match")
            << QByteArray("07 dec 2026 a\n7 Dec 2026 b\n") << QStringList{};
        QTest::newRow("a lone CR ends a line")
            << QByteArray("07 Dec 2026 a\rb\r\rc\r\nd\r")
            << QStringList{QStringLiteral("07 Dec 2026 a"), QStringLiteral("b"), QString(),
                           QStringLiteral("c"), QStringLiteral("d")};
        QTest::newRow("no line of today") << QByteArray("06 Dec 2026 a\r\n") << QStringList{};
        QTest::newRow("empty log") << QByteArray() << QStringList{};
        QTest::newRow("blank lines kept, bytes one per character")
            << QByteArray("07 Dec 2026 \xe9t\xe9\n\n\xc3\xa9\n")
            << QStringList{QStringLiteral("07 Dec 2026 \u00e9t\u00e9"), QString(),
                           QStringLiteral("\u00c3\u00a9")};
    }
    void todaysPart() {
        QFETCH(QByteArray, log);
        QFETCH(QStringList, lines);
        TestAgent agent;
        QVERIFY(agent.writeInvokerLog(log));
        QStringList read;
        QString error;
        QCOMPARE(readInvokerLog(agent.paths().invokerLog(), QDate(2026, 12, 7), read, error),
                 AgentFileStatus::Read);
        QCOMPARE(read, lines);
    }

    // Random appends (finished and unfinished lines), truncations, replacements, rewrites in place that grow
    // the log, and day changes: after every step the box that the follower's updates build equals what a
    // full read shows.
    void followerMatchesAFullRead() {
        constexpr int kBoxLines = 6; // small, so the box overflows often
        const QDate days[] = {QDate(2026, 12, 7), QDate(2026, 12, 8)};
        const QByteArray pieces[] = {"Mon, 07 Dec 2026 08:00 a\r\n",
                                     "Tue, 08 Dec 2026 09:00 b\n",
                                     "no date\r\n",
                                     "06 Dec 2026 old\n",
                                     "\r\n",
                                     "half a line",
                                     " and its rest\n",
                                     "07 Dec",
                                     " 2026 split key\n",
                                     "\r",
                                     "\xe9\xff\n"};
        for (quint32 seed = 1; seed <= 40; ++seed) {
            QRandomGenerator random(seed);
            TestAgent agent;
            const QString path = agent.paths().invokerLog();
            InvokerLogFollower follower(kBoxLines);
            QStringList box;
            QDate date = days[0];
            for (int step = 0; step < 60; ++step) {
                const int op = random.bounded(10);
                QFile file(path);
                bool rewritten = false;
                if (op < 5) { // the agent appends, at times more lines than the box holds
                    QByteArray text;
                    for (int i = random.bounded(1, 16); i > 0; --i)
                        text += pieces[random.bounded(int(std::size(pieces)))];
                    QVERIFY(agent.appendFile(path, text));
                } else if (op == 5 && file.exists()) { // cut short
                    QVERIFY(file.resize(random.bounded(file.size() + 1)));
                } else if (op == 6) { // replaced by a new file
                    QByteArray text;
                    for (int i = random.bounded(0, 6); i > 0; --i)
                        text += pieces[random.bounded(int(std::size(pieces)))];
                    QVERIFY(agent.writeFile(path, text));
                } else if (op == 7) { // midnight
                    date = days[random.bounded(2)];
                } else if (op == 8 && random.bounded(4) == 0) {
                    QFile::remove(path);
                } else if (op == 9 && file.exists() && random.bounded(2) == 0) {
                    // rewritten in place, longer than before: the same file, grown, other bytes
                    QByteArray text = "R";
                    while (text.size() <= file.size())
                        text += pieces[random.bounded(int(std::size(pieces)))];
                    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
                    QCOMPARE(file.write(text), text.size());
                    file.close();
                    rewritten = true;
                } // else: a tick with nothing new

                // Half the ticks take only what needs no read on the spot, and leave the rest, unchanged,
                // to a full update (a worker's, in the window).
                const std::optional<InvokerLogUpdate> onTheSpot = follower.update(
                    path, date, random.bounded(2) == 0 ? 0 : std::numeric_limits<qint64>::max());
                const InvokerLogUpdate update = onTheSpot ? *onTheSpot : follower.update(path, date);
                if (op >= 8 && !rewritten && update.kind != InvokerLogUpdate::Kind::Replaced)
                    QVERIFY(onTheSpot); // nothing new: nothing to read
                switch (update.kind) {
                case InvokerLogUpdate::Kind::Unchanged:
                    break;
                case InvokerLogUpdate::Kind::Replaced:
                    if (update.status == AgentFileStatus::Missing)
                        box = QStringList{QStringLiteral("Can't find log file")};
                    else
                        box = (update.truncatedFront ? QStringList() : QStringList{QString()}) +
                              update.lines.toList();
                    break;
                case InvokerLogUpdate::Kind::Appended:
                    if (update.dropLastShown)
                        box.removeLast();
                    box += update.lines.toList();
                    break;
                }
                while (box.size() > kBoxLines)
                    box.removeFirst();

                QStringList full;
                QString error;
                QStringList expected = readInvokerLog(path, date, full, error) == AgentFileStatus::Missing
                                           ? QStringList{QStringLiteral("Can't find log file")}
                                           : QStringList{QString()} + full;
                while (expected.size() > kBoxLines)
                    expected.removeFirst();
                // The box says how many earlier lines it does not show.
                if (update.kind != InvokerLogUpdate::Kind::Unchanged &&
                    update.status == AgentFileStatus::Read)
                    QCOMPARE(update.partLines, full.size());
                if (box != expected)
                    QFAIL(qPrintable(QStringLiteral("seed %1, step %2, op %3:\n box: %4\n full: %5")
                                         .arg(seed)
                                         .arg(step)
                                         .arg(op)
                                         .arg(box.join(QLatin1Char('|')), expected.join(QLatin1Char('|')))));
            }
        }
    }

    // A read that searches the chunks for the day's first line finds the line a read of every line finds,
    // with every line after it, wherever the chunks are cut: through the key, between a CR and its LF, in
    // a line too long to keep whose key lies past what is kept.
    void readSkippingToTheDayMatchesAReadOfEveryLine() {
        const QByteArray key("07 Dec 2026");
        const TextFinder finder(key);
        const QByteArray longLine = QByteArray(kMaxLineBytes - 5, 'y') + key + "\r\n";
        const QByteArray contents[] = {
            "06 Dec 2026 a\r\n06 Dec 2026 b\n" + longLine + "07 Dec\r\n\r07 Dec 2026 c\r\nd\n07 Dec 2026",
            "07 Dec 2026 first\r\n06 Dec 2026\r",
            "06 Dec 2026 no key\r\nnone\r",
            "x\r\n" + longLine + "y\r",
        };
        const auto linesFrom = [&](QIODevice& device, const TextFinder* firstWith, qint64& consumed) {
            QList<QPair<QByteArray, bool>> lines;
            bool found = false;
            consumed = readLinesFrom(
                device, 0,
                [&](QByteArrayView line, bool complete) {
                    found = found || finder.isIn(line);
                    if (found)
                        lines.append({line.toByteArray(), complete});
                },
                firstWith);
            return lines;
        };
        for (const QByteArray& content : contents) {
            QByteArray bytes = content;
            QBuffer whole(&bytes);
            QVERIFY(whole.open(QIODevice::ReadOnly));
            qint64 expectedEnd = 0;
            const auto expected = linesFrom(whole, nullptr, expectedEnd);
            for (const QList<qint64>& steps : {QList<qint64>{1}, {2}, {3, 5, 7}, {11, 1}, {}}) {
                test::TricklingDevice trickling(content, steps);
                QVERIFY(trickling.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
                qint64 end = 0;
                QCOMPARE(linesFrom(trickling, &finder, end), expected);
                QCOMPARE(end, expectedEnd);
            }
        }
    }

    // The box's lines in one text: cut, joined and taken apart again, empty lines at either end included,
    // they stay the lines a list of strings would hold.
    void logLinesActAsAListOfLines() {
        QRandomGenerator random(23);
        const QStringList pieces = {QString(), QStringLiteral("a"), QStringLiteral("bc d"), QString()};
        const auto someLines = [&] {
            QStringList lines;
            for (int i = random.bounded(4); i > 0; --i)
                lines << pieces.at(random.bounded(int(pieces.size())));
            return lines;
        };
        QStringList expected;
        LogLines lines;
        for (int step = 0; step < 2000; ++step) {
            const int op = random.bounded(4);
            const qsizetype count = expected.isEmpty() ? 0 : random.bounded(int(expected.size()) + 1);
            if (op == 0) {
                const QStringList more = someLines();
                expected += more;
                lines.append(LogLines::fromList(more));
            } else if (op == 1) {
                expected.remove(0, count);
                lines.removeFirst(count);
            } else if (op == 2 && !expected.isEmpty()) {
                expected.removeLast();
                lines.removeLast();
            } else {
                const QString line = pieces.at(random.bounded(int(pieces.size())));
                expected << line;
                lines.append(line);
            }
            const qsizetype first = random.bounded(int(expected.size()) + 1);
            QCOMPARE(lines.toList(), expected);
            QCOMPARE(lines.joined(), expected.join(QLatin1Char('\n')));
            QCOMPARE(lines.mid(first, count).toList(), expected.mid(first, count));
        }
        LastLines last(3);
        for (const char* line : {"", "one", "", "two", ""})
            last.add(line);
        QCOMPARE(last.latin1LogLines().toList(), (QStringList{QString(), QStringLiteral("two"), QString()}));
    }

    void followerReadsNothingWhenNothingChanged() {
        TestAgent agent;
        QVERIFY(agent.writeInvokerLog("07 Dec 2026 a\r\n"));
        InvokerLogFollower follower(100);
        QCOMPARE(follower.update(agent.paths().invokerLog(), QDate(2026, 12, 7)).kind,
                 InvokerLogUpdate::Kind::Replaced);
        QCOMPARE(follower.update(agent.paths().invokerLog(), QDate(2026, 12, 7), 0)->kind,
                 InvokerLogUpdate::Kind::Unchanged);
        QVERIFY(agent.appendFile(agent.paths().invokerLog(), "b\r\n"));
        QVERIFY(!follower.update(agent.paths().invokerLog(), QDate(2026, 12, 7), 2)); // 3 bytes: too many
        const InvokerLogUpdate update = *follower.update(agent.paths().invokerLog(), QDate(2026, 12, 7), 3);
        QCOMPARE(update.kind, InvokerLogUpdate::Kind::Appended);
        QCOMPARE(update.lines.toList(), QStringList{QStringLiteral("b")});
    }

    // Appends larger than the box while the day's part is followed: a line of more than a megabyte is cut
    // where a full read cuts it, finished or not, and lines the box cannot hold (ended by LF, CR LF or a lone
    // CR) are still counted.
    void followerTakesLargeAppendsAsAFullReadDoes() {
        TestAgent agent;
        const QString path = agent.paths().invokerLog();
        const QDate date(2026, 12, 7);
        QVERIFY(agent.writeInvokerLog("07 Dec 2026 a\r\n"));
        InvokerLogFollower follower(100);
        follower.update(path, date);
        const QByteArray longLine(kMaxLineBytes + 100, 'x');
        QByteArray manyLines;
        for (int i = 0; i < 3000; ++i)
            manyLines += QByteArray::number(i) + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
        for (const QByteArray& added : {longLine + "\r\nb\r\n", "c\r\n" + longLine, manyLines}) {
            QVERIFY(agent.appendFile(path, added));
            const InvokerLogUpdate update = follower.update(path, date);
            QStringList full;
            QString error;
            QCOMPARE(readInvokerLog(path, date, full, error), AgentFileStatus::Read);
            QCOMPARE(update.lines.toList(), full.mid(full.size() - update.lines.size()));
            QCOMPARE(update.partLines, full.size());
        }
    }

    // The details search reads through the agent-file opener: while it holds the log open, between two
    // chunks of a long log, the agent renames its log, starts a new one under the name and deletes the old
    // one (on Windows a plain open would refuse the rename), and the search still reads the old log to its
    // end. A search told to stop gives up.
    void searchLetsTheAgentRenameAndDeleteTheLog() {
        TestAgent agent;
        const QString path = agent.paths().invokerLog();
        QByteArray log = "07 Dec 2026 SDClientTask.1.xml first\r\n";
        const QByteArray filler = QByteArray(200, 'x') + "\r\n";
        while (log.size() < 6 * 1024 * 1024) // longer than a chunk: the last line is read after the changes
            log += filler;
        log += "07 Dec 2026 SDClientTask.1.xml last\r\n";
        QVERIFY(agent.writeInvokerLog(log));
        const QString old = path + QStringLiteral(".old");
        int asked = 0;
        bool renamed = false;
        bool replaced = false;
        bool deleted = false;
        const auto agentRotatesItsLog = [&] {
            if (++asked == 1) {
                renamed = QFile::rename(path, old);
                replaced = agent.writeInvokerLog("08 Dec 2026 new log\r\n");
                deleted = QFile::remove(old);
            }
            return true;
        };
        InvokerLogLines found;
        QString error;
        const bool read = invokerLogLinesContaining(path, QStringLiteral("SDClientTask.1.xml"), 10,
                                                    agentRotatesItsLog, found, error);
        QVERIFY(renamed);
        QVERIFY(replaced);
        QVERIFY(deleted);
        QVERIFY2(read, qPrintable(error));
        QCOMPARE(found.lines, QStringList({QStringLiteral("07 Dec 2026 SDClientTask.1.xml first"),
                                           QStringLiteral("07 Dec 2026 SDClientTask.1.xml last")}));

        QVERIFY(agent.writeInvokerLog(log));
        QVERIFY(!invokerLogLinesContaining(
            path, QStringLiteral("SDClientTask.1.xml"), 10, [] { return false; }, found, error));
        QCOMPARE(error, QStringLiteral("the search was stopped"));
        QVERIFY(found.lines.isEmpty());
    }

    // An indented line continues the entry above it: the details keep it with the task's failure, and leave
    // out the one under another task's entry.
    void searchKeepsTheLinesThatContinueAnEntry() {
        TestAgent agent;
        QVERIFY(agent.writeInvokerLog("07 Dec 2026 SDClientTask.1.xml failed\r\n"
                                      "    return code 1603, see the package log\r\n"
                                      "07 Dec 2026 SDClientTask.2.xml failed\r\n"
                                      "    return code 5\r\n"));
        InvokerLogLines found;
        QString error;
        QVERIFY(invokerLogLinesContaining(agent.paths().invokerLog(), QStringLiteral("SDClientTask.1.xml"),
                                          10, {}, found, error));
        QCOMPARE(found.lines, QStringList({QStringLiteral("07 Dec 2026 SDClientTask.1.xml failed"),
                                           QStringLiteral("    return code 1603, see the package log")}));
    }

    void missingLog() {
        TestAgent agent;
        QStringList lines;
        QString error;
        QCOMPARE(readInvokerLog(agent.paths().invokerLog(), QDate(2026, 12, 7), lines, error),
                 AgentFileStatus::Missing);
        QVERIFY(lines.isEmpty() && error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestInvokerLog)
#include "tst_invokerlog.moc"
