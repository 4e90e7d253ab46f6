// The agent's files as untrusted input: whatever stands at an agent path (a FIFO, a device, a file that never
// ends, a name that leads out of the agent's folders), Corvane neither hangs nor fills its memory, and says
// what it could not read.
#include "BlockingFile.h"
#include "CorvanectlRun.h"
#include "DescriptorAnswer.h"
#include "FixedClock.h"
#include "ProcessMemory.h"
#include "TestAgent.h"
#include "agent/ClientDatabase.h"
#include "agent/InvokerLog.h"
#include "agent/PackageDescriptor.h"
#include "agent/ScheduledTasks.h"
#include "agent/TaskTable.h"
#include "base/AgentFile.h"
#include "base/FileState.h"
#include "base/SqliteConnection.h"
#include "base/TextLines.h"
#include "session/TaskListRefresh.h"
#include "tasklist/TaskList.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace corvane;
using corvane::test::CorvanectlRun;
using corvane::test::kMemoryLimitScale;
using corvane::test::peakMemoryMb;
using corvane::test::runCorvanectl;
using corvane::test::TestAgent;

namespace {

// One file read whole through the readers' batch reader: its status, content and reason.
AgentFileStatus readWhole(const QString& path, qint64 maxBytes, QByteArray& content, QString& error) {
    AgentFileStatus status = AgentFileStatus::Read;
    readAgentFiles(
        1, [&](int) { return path; }, maxBytes, kAgentFileDeadlineMs,
        [&](int, AgentFileStatus read, QByteArray& bytes, const QString& why) {
            status = read;
            content = bytes;
            error = why;
        });
    return status;
}

// corvanectl on the agent, given `seconds` to finish.
CorvanectlRun corvanectl(const TestAgent& agent, const QStringList& arguments, int seconds = 20) {
    return runCorvanectl(QStringList{QStringLiteral("--agent-root"), agent.root()} + arguments, seconds);
}

// Adds a package task to the agent: SDClientTask.<id>.xml, named "Package <id>".
bool addTask(TestAgent& agent, const QString& id) {
    const QString file = QStringLiteral("SDClientTask.%1.xml").arg(id);
    if (!agent.addOperation({file, QStringLiteral("2"), {}, {}})) {
        qWarning("%s", qPrintable(agent.error()));
        return false;
    }
    if (!agent.writeDescriptor(file, QStringLiteral("Package ") + id)) {
        qWarning("%s", qPrintable(agent.error()));
        return false;
    }
    return true;
}

// An agent with one package task, SDClientTask.A1.xml, named "Package A1".
bool writeOneTask(TestAgent& agent) {
    if (!agent.createDatabase()) {
        qWarning("%s", qPrintable(agent.error()));
        return false;
    }
    return addTask(agent, QStringLiteral("A1"));
}

// The `application` of each row of `corvanectl list --json`, by task id.
QMap<QString, QString> listedNames(const CorvanectlRun& run) {
    QMap<QString, QString> names;
    for (const QJsonValue& row : QJsonDocument::fromJson(run.out.toUtf8()).array())
        names.insert(row.toObject().value(QStringLiteral("key")).toString().mid(1),
                     row.toObject().value(QStringLiteral("application")).toString());
    return names;
}

#ifndef Q_OS_WIN
// Replaces whatever is at `path` with a FIFO that nobody writes to.
bool makeFifo(const QString& path) {
    QFile::remove(path);
    QDir().mkpath(QFileInfo(path).path());
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}
#endif

// Makes `link` a second name of the file `target`.
bool hardLink(const QString& target, const QString& link) {
#ifdef Q_OS_WIN
    return CreateHardLinkW(QDir::toNativeSeparators(link).toStdWString().c_str(),
                           QDir::toNativeSeparators(target).toStdWString().c_str(), nullptr);
#else
    return ::link(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0;
#endif
}

} // namespace

class TestAgentFiles : public QObject {
    Q_OBJECT

private slots:
    // A descriptor whose read never returns (a kernel trace pipe bound over it, as a hung network share
    // would be): the list, an action on another task and the window's later refreshes all go on, the
    // descriptor named as not answering. First of this suite: the mount namespace it makes is only seen by
    // threads started after it.
    void readThatNeverReturns() {
        TestAgent agent;
        QVERIFY(writeOneTask(agent));
        QVERIFY(addTask(agent, QStringLiteral("B2")));
        const QString descriptor = agent.paths().descriptor(QStringLiteral("SDClientTask.A1.xml"));
        const test::BlockingFile blocking(descriptor);
        if (!blocking.isBound())
            QSKIP(test::BlockingFile::kCannotBind);

        const CorvanectlRun list = corvanectl(agent, {QStringLiteral("list")});
        QVERIFY2(list.finished, "corvanectl list waited on the descriptor");
        QVERIFY2(list.out.contains(QLatin1String("Package B2")), qPrintable(list.out));
        QVERIFY2(list.err.contains(QLatin1String("did not answer within 2 s")), qPrintable(list.err));
        const CorvanectlRun stop =
            corvanectl(agent, {QStringLiteral("stop"), QStringLiteral("--dry-run"), QStringLiteral("B2")});
        QVERIFY2(stop.finished, "corvanectl stop waited on another task's descriptor");
        QCOMPARE(stop.exitCode, 0);

        // The window's reads: each ends, the first after the deadline, the next at once (the file still
        // hangs, and is not asked again), and each says which file did not answer.
        const test::FixedClock clock;
        TaskListRefresh refresh(agent.paths(), clock);
        QSignalSpy ended(&refresh, &TaskListRefresh::readEnded);
        for (int read = 0; read < 2; ++read) {
            refresh.start();
            QVERIFY(ended.wait(15000));
            QVERIFY2(refresh.notice().contains(QLatin1String("did not answer within 2 s")),
                     qPrintable(refresh.notice()));
        }
    }

    // What the readers share: a regular file is read whole, nothing at the path (or a folder) is missing,
    // anything else is refused with a reason naming the path, without waiting and within the bound.
    void readWholeTellsTheCasesApart() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("file"));
        {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write("0123456789");
        }
        QByteArray content;
        QString error;
        QCOMPARE(readWhole(file, 10, content, error), AgentFileStatus::Read);
        QCOMPARE(content, QByteArray("0123456789"));
        QCOMPARE(readWhole(file, 9, content, error), AgentFileStatus::Unreadable);
        QVERIFY(content.isEmpty());
        QVERIFY2(error.contains(QLatin1String("more than 9 bytes")), qPrintable(error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(file)), qPrintable(error));

        QCOMPARE(readWhole(dir.filePath(QStringLiteral("none")), 10, content, error),
                 AgentFileStatus::Missing);
        QCOMPARE(readWhole(dir.filePath(QStringLiteral("none/deeper")), 10, content, error),
                 AgentFileStatus::Missing);
        QCOMPARE(readWhole(dir.path(), 10, content, error), AgentFileStatus::Missing);
#ifndef Q_OS_WIN
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        QVERIFY(makeFifo(fifo));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(readWhole(fifo, 10, content, error), AgentFileStatus::Unreadable);
        QVERIFY2(error.contains(QLatin1String("not a regular file")), qPrintable(error));
        QCOMPARE(readWhole(QStringLiteral("/dev/zero"), 10, content, error), AgentFileStatus::Unreadable);
        QVERIFY(timer.elapsed() < test::scaledMs(2000));

        // A link is followed only while it stays in the file's folder; a link to nothing is no file.
        QVERIFY(QDir().mkdir(dir.filePath(QStringLiteral("sub"))));
        QVERIFY(QFile::link(QStringLiteral("../file"), dir.filePath(QStringLiteral("sub/up"))));
        QVERIFY(QFile::link(QStringLiteral("file"), dir.filePath(QStringLiteral("alias"))));
        QVERIFY(QFile::link(QStringLiteral("none"), dir.filePath(QStringLiteral("dangling"))));
        QCOMPARE(readWhole(dir.filePath(QStringLiteral("alias")), 10, content, error), AgentFileStatus::Read);
        QCOMPARE(content, QByteArray("0123456789"));
        QCOMPARE(readWhole(dir.filePath(QStringLiteral("sub/up")), 10, content, error),
                 AgentFileStatus::Unreadable);
        QVERIFY2(error.contains(QLatin1String("is a link outside the agent's folder")), qPrintable(error));
        QCOMPARE(readWhole(dir.filePath(QStringLiteral("dangling")), 10, content, error),
                 AgentFileStatus::Missing);
#endif
#ifdef Q_OS_LINUX
        // A file holding more than its size says, as one that grew after it was opened: read to its end,
        // and still refused past the bound.
        const QString grown = QStringLiteral("/proc/self/status");
        QCOMPARE(QFileInfo(grown).size(), 0);
        QCOMPARE(readWhole(grown, 1024 * 1024, content, error), AgentFileStatus::Read);
        QVERIFY2(content.startsWith("Name:") && content.endsWith('\n'), content.constData());
        QCOMPARE(readWhole(grown, 16, content, error), AgentFileStatus::Unreadable);
        QVERIFY(content.isEmpty());
        QVERIFY2(error.contains(QLatin1String("more than 16 bytes")), qPrintable(error));
#endif
    }

    // Something other than a regular file at a path the list reads: `corvanectl list` and `log` finish at
    // once, name what they could not read, and show the rest.
    void listAndLogDoNotWaitOnSpecialFiles_data() {
        QTest::addColumn<QString>("what");
        QTest::newRow("FIFO descriptor") << QStringLiteral("fifo-descriptor");
        QTest::newRow("descriptor linked to /dev/zero") << QStringLiteral("zero-descriptor");
        QTest::newRow("FIFO scheduled-task file") << QStringLiteral("fifo-tasks");
        QTest::newRow("FIFO invoker log") << QStringLiteral("fifo-log");
    }
    void listAndLogDoNotWaitOnSpecialFiles() {
#ifdef Q_OS_WIN
        QSKIP("FIFOs and /dev/zero are POSIX files");
#else
        QFETCH(QString, what);
        TestAgent agent;
        QVERIFY(writeOneTask(agent));
        QVERIFY(agent.writeInvokerLog("a line\r\n"));
        const QString descriptor = agent.paths().descriptor(QStringLiteral("SDClientTask.A1.xml"));
        if (what == QLatin1String("fifo-descriptor")) {
            QVERIFY(makeFifo(descriptor));
        } else if (what == QLatin1String("zero-descriptor")) {
            QFile::remove(descriptor);
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), descriptor));
        } else if (what == QLatin1String("fifo-tasks")) {
            QVERIFY(makeFifo(agent.paths().scheduledTasks()));
        } else {
            QVERIFY(makeFifo(agent.paths().invokerLog()));
        }

        const CorvanectlRun list = corvanectl(agent, {QStringLiteral("list")});
        QVERIFY2(list.finished, "corvanectl list waited on the file");
        QVERIFY2(list.out.contains(QLatin1String("A1")), qPrintable(list.out));
        const CorvanectlRun log = corvanectl(agent, {QStringLiteral("log")});
        QVERIFY2(log.finished, "corvanectl log waited on the file");

        if (what.endsWith(QLatin1String("descriptor"))) {
            QVERIFY2(list.out.contains(QLatin1String("Unknow")), qPrintable(list.out));
            const QLatin1String why(what == QLatin1String("fifo-descriptor")
                                        ? "not a regular file"
                                        : "is a link outside the agent's folder");
            QString error;
            QCOMPARE(test::descriptorAnswer(descriptor, error), std::nullopt);
            QVERIFY2(error.contains(why), qPrintable(error));
            QVERIFY2(list.err.contains(why), qPrintable(list.err));
        } else if (what == QLatin1String("fifo-tasks")) {
            QVERIFY2(list.out.contains(QLatin1String("Package A1")), qPrintable(list.out));
            QVERIFY2(list.err.contains(QLatin1String("not a regular file")), qPrintable(list.err));
        } else {
            QCOMPARE(log.exitCode, 1);
            QVERIFY2(log.err.contains(QLatin1String("not a regular file")), qPrintable(log.err));
        }
#endif
    }

    // A descriptor is read only under a plain file name: names from the database or the scheduled-task file
    // that lead out of the descriptor folder are not followed, so a file elsewhere that happens to carry the
    // markers never becomes a package that Stop Install acts on.
    void descriptorsStayInTheirFolder_data() {
        QTest::addColumn<bool>("fromDatabase");
        QTest::newRow("operation file from the database") << true;
        QTest::newRow("task id from the scheduled-task file") << false;
    }
    void descriptorsStayInTheirFolder() {
        QFETCH(bool, fromDatabase);
        TestAgent agent;
        QVERIFY(writeOneTask(agent));
        // Seven levels up from the descriptor folder is the agent's root.
        const QString outside = QStringLiteral("../../../../../../../outside.xml");
        QVERIFY(agent.writeFile(agent.root() + QStringLiteral("/outside.xml"),
                                fake::AgentTree::descriptorText(QStringLiteral("Not a package"))));
        QVERIFY(QFileInfo::exists(agent.paths().descriptor(outside)));
        if (fromDatabase)
            QVERIFY(agent.addOperation({outside, QStringLiteral("2"), {}, {}}));
        else
            QVERIFY(agent.writeScheduledTasks({{outside, QStringLiteral("pending"), QStringLiteral("0")}}));

        const CorvanectlRun list = corvanectl(agent, {QStringLiteral("list"), QStringLiteral("--json")});
        QVERIFY(list.finished);
        QVERIFY2(!list.out.contains(QLatin1String("Not a package")), qPrintable(list.out));
        QVERIFY2(list.out.contains(QLatin1String("Package A1")), qPrintable(list.out));
        QVERIFY2(list.err.contains(QLatin1String("not a plain file name")), qPrintable(list.err));
        const QString taskId = fromDatabase ? QStringLiteral("/outside") : outside;
        const CorvanectlRun stop = corvanectl(agent, {QStringLiteral("stop"), taskId});
        QVERIFY(stop.finished);
        QCOMPARE(stop.exitCode, 1);
        QVERIFY2(stop.err.contains(QLatin1String("not a package task")), qPrintable(stop.err));
    }

    void plainFileNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("plain");
        QTest::newRow("usual") << QStringLiteral("SDClientTask.CORE01_1201.xml") << true;
        QTest::newRow("dots inside") << QStringLiteral("SDClientTask.a..b.xml") << true;
        QTest::newRow("semicolon and accents") << QStringLiteral("SDClientTask.A;\u00e9.xml") << true;
        QTest::newRow("slash") << QStringLiteral("sub/SDClientTask.1.xml") << false;
        QTest::newRow("backslash") << QStringLiteral("..\\SDClientTask.1.xml") << false;
        QTest::newRow("parent") << QStringLiteral("..") << false;
        QTest::newRow("dots only") << QStringLiteral("...") << false;
        QTest::newRow("drive") << QStringLiteral("C:SDClientTask.1.xml") << false;
        QTest::newRow("stream") << QStringLiteral("SDClientTask.1.xml:hidden") << false;
        QTest::newRow("NUL") << (QStringLiteral("SDClientTask.1.xml") + QChar(0) + QStringLiteral("x"))
                             << false;
    }
    void plainFileNames() {
        QFETCH(QString, name);
        QFETCH(bool, plain);
        QCOMPARE(isPlainFileName(name), plain);
    }

    // Listing reads without writing: a database that the agent left in write-ahead-log mode (its last
    // changes still in the -wal file) is read with those changes, and keeps its -wal and -shm files as they
    // were.
    void listingLeavesAWalDatabaseAsItWas() {
        TestAgent agent;
        QVERIFY(writeOneTask(agent));
        const QString db = agent.paths().database();
        const QStringList companions = {QStringLiteral("-wal"), QStringLiteral("-shm")};
        QTemporaryDir saved;
        {
            // An agent that wrote in WAL mode and stopped without closing: its files, copied while it is
            // open.
            SqliteConnection writer(db);
            QList<QStringList> rows;
            QString error;
            for (const char* sql : {"PRAGMA journal_mode=WAL", "PRAGMA wal_autocheckpoint=0",
                                    "INSERT INTO ClientOperations (filename) VALUES ('SDClientTask.B2.xml')"})
                QVERIFY2(writer.run(QLatin1String(sql), rows, error), qPrintable(error));
            QVERIFY(QFile::copy(db, saved.filePath(QStringLiteral("db"))));
            for (const QString& companion : companions)
                QVERIFY(QFile::copy(db + companion, saved.filePath(companion)));
        }
        QVERIFY(QFile::remove(db));
        QVERIFY(QFile::copy(saved.filePath(QStringLiteral("db")), db));
        for (const QString& companion : companions) {
            QFile::remove(db + companion);
            QVERIFY(QFile::copy(saved.filePath(companion), db + companion));
        }
        const auto bytes = [](const QString& path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
        };
        const QByteArray dbBefore = bytes(db);
        const QByteArray walBefore = bytes(db + QStringLiteral("-wal"));
        QVERIFY(walBefore.size() > 0);

        const CorvanectlRun list = corvanectl(agent, {QStringLiteral("list")});
        QVERIFY(list.finished);
        QCOMPARE(list.exitCode, 0);
        QVERIFY2(list.out.contains(QLatin1String("B2")), qPrintable(list.out)); // the change still in the log
        QVERIFY(bytes(db) == dbBefore);
        QVERIFY(bytes(db + QStringLiteral("-wal")) == walBefore);
        QVERIFY(QFileInfo(db + QStringLiteral("-shm")).isFile());

        // No -shm, and none can be made (here: a folder in its place): still read, still nothing written.
        QVERIFY(QFile::remove(db + QStringLiteral("-shm")));
        QVERIFY(QDir().mkdir(db + QStringLiteral("-shm")));
        const CorvanectlRun noIndex = corvanectl(agent, {QStringLiteral("list")});
        QVERIFY(noIndex.finished);
#ifdef Q_OS_WIN
        // SQLite on Windows cannot open the log without its index read-only: it says so, and writes nothing.
        QCOMPARE(noIndex.exitCode, 1);
        QVERIFY2(noIndex.err.contains(QLatin1String("unable to open database file")),
                 qPrintable(noIndex.err));
#else
        // SQLite elsewhere keeps the index in memory for a read-only reader.
        QVERIFY2(noIndex.exitCode == 0, qPrintable(noIndex.err));
        QVERIFY2(noIndex.out.contains(QLatin1String("B2")), qPrintable(noIndex.out));
#endif
        QVERIFY(bytes(db) == dbBefore);
        QVERIFY(bytes(db + QStringLiteral("-wal")) == walBefore);
    }

    // What reaches a terminal is text: control characters in names, ids, states and log lines show as
    // escapes, a line break inside a field never splits a row, and JSON keeps the values as they are.
    void terminalGetsNoControlCharacters() {
        TestAgent agent;
        QVERIFY(writeOneTask(agent));
        const QString forged = QStringLiteral("Real\x1b[1A\x1b[2KForged row\x07\u202e");
        QVERIFY(agent.writeDescriptor(QStringLiteral("SDClientTask.A1.xml"), forged));
        QVERIFY(agent.addOperation({QStringLiteral("SDClientTask.B\nC.xml"), QStringLiteral("2"), {}, {}}));
        // XML allows no control character but the line breaks and tabs, written as references.
        QVERIFY(agent.writeFile(
            agent.paths().scheduledTasks(),
            "<SDClientTasks><task taskid=\"A1\" state=\"pen&#10;ding\" time=\"0\"/></SDClientTasks>"));
        QVERIFY(agent.writeInvokerLog(invokerDateKey(QDate::currentDate()).toLatin1() +
                                      " one\x1b[2J\rtwo\tthree\r\nnext\r\n"));
        const auto controls = [](const QString& text, QStringView allowed) {
            QString found;
            for (const QChar c : text) {
                if ((c.unicode() < 0x20 || c.unicode() == 0x7f || c.unicode() == 0x202e) &&
                    !allowed.contains(c))
                    found += QString::number(c.unicode(), 16) + QLatin1Char(' ');
            }
            return found;
        };

        const CorvanectlRun list = corvanectl(agent, {QStringLiteral("list")});
        QVERIFY(list.finished);
        QCOMPARE(controls(list.out, u"\n"), QString());
        QCOMPARE(list.out.count(QLatin1Char('\n')), 3); // the header and two rows
        QVERIFY2(list.out.contains(QLatin1String("Real\\x1b[1A\\x1b[2KForged row\\x07\\u202e")),
                 qPrintable(list.out));
        QVERIFY2(list.out.contains(QLatin1String("B\\x0aC")), qPrintable(list.out));
        QVERIFY2(list.out.contains(QLatin1String("pen\\x0ading")), qPrintable(list.out));

        const CorvanectlRun json = corvanectl(agent, {QStringLiteral("list"), QStringLiteral("--json")});
        const QJsonArray rows = QJsonDocument::fromJson(json.out.toUtf8()).array();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0).toObject().value(QStringLiteral("application")).toString(), forged);
        QCOMPARE(rows.at(1).toObject().value(QStringLiteral("key")).toString(), QStringLiteral("kB\nC"));

        const CorvanectlRun preview =
            corvanectl(agent, {QStringLiteral("stop"), QStringLiteral("--dry-run"), QStringLiteral("A1")});
        QVERIFY(preview.finished);
        QCOMPARE(controls(preview.out, u"\n\t"), QString());
        QCOMPARE(preview.out.count(QLatin1Char('\n')), 2); // the task and the summary
        QVERIFY2(preview.out.contains(QLatin1String("Real\\x1b[1A\\x1b[2KForged row\\x07\\u202e")),
                 qPrintable(preview.out));

        const CorvanectlRun log = corvanectl(agent, {QStringLiteral("log")});
        QVERIFY(log.finished);
        QCOMPARE(log.exitCode, 0);
        QCOMPARE(controls(log.out, u"\n\t"), QString());
        // A lone CR ends a line, as CR LF and LF do.
        QVERIFY2(log.out.contains(QLatin1String(" one\\x1b[2J\ntwo\tthree\nnext\n")), qPrintable(log.out));
    }

    // The one rule of both log followers: a file grew, or started over, since it was consumed.
    void growingFileTellsAppendedFromRestarted_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("look");
        using Look = GrowingFile::Look;
        QTest::newRow("untouched") << "none" << int(Look::Unchanged);
        QTest::newRow("appended") << "append" << int(Look::Appended);
        QTest::newRow("touched, the same bytes") << "touch" << int(Look::Appended);
        QTest::newRow("shrunk") << "shrink" << int(Look::Restarted);
        QTest::newRow("rewritten in place, same size") << "rewrite" << int(Look::Restarted);
        QTest::newRow("rewritten in place, longer") << "rewrite longer" << int(Look::Restarted);
        QTest::newRow("replaced by another file") << "replace" << int(Look::Restarted);
        QTest::newRow("removed") << "remove" << int(Look::Restarted);
    }
    void growingFileTellsAppendedFromRestarted() {
        QFETCH(QString, change);
        QFETCH(int, look);
        TestAgent agent;
        const QString path = agent.paths().syncLog();
        const QByteArray before = "a: one\r\nb: two\r\n";
        QVERIFY(agent.writeFile(path, before));
        GrowingFile log;
        {
            AgentFile file;
            QString error;
            QCOMPARE(openAgentFile(file, path, error), AgentFileStatus::Read);
            log.consume(FileState::of(path), file, file.size());
        }
        const auto writeInPlace = [&](const QByteArray& bytes) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite | QIODevice::Truncate));
            QCOMPARE(file.write(bytes), bytes.size());
            // A later time, whatever the file system's resolution.
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(10),
                                     QFileDevice::FileModificationTime));
        };
        if (change == QLatin1String("append"))
            QVERIFY(agent.appendFile(path, "c: three\r\n"));
        else if (change == QLatin1String("touch"))
            writeInPlace(before);
        else if (change == QLatin1String("shrink"))
            writeInPlace(before.left(5));
        else if (change == QLatin1String("rewrite"))
            writeInPlace(QByteArray(before.size(), 'x'));
        else if (change == QLatin1String("rewrite longer"))
            writeInPlace("x: " + before + before);
        else if (change == QLatin1String("replace"))
            QVERIFY(agent.writeFile(path, before + "c: three\r\n"));
        else if (change == QLatin1String("remove"))
            QVERIFY(QFile::remove(path));
        QCOMPARE(int(log.look(FileState::of(path), path)), look);
    }

    // The one escaper behind the command line's output and the synchroniser's error line in a message.
    void visibleTextEscapesWhatMovesOrSplitsText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << QStringLiteral("Acrobat é 7") << QString() << QStringLiteral("Acrobat é 7");
        QTest::newRow("C0 and DEL") << QStringLiteral("a\x1b[2J\r\x7f") << QString()
                                    << QStringLiteral("a\\x1b[2J\\x0d\\x7f");
        QTest::newRow("C1") << QStringLiteral("a\u009bb") << QString() << QStringLiteral("a\\x9bb");
        QTest::newRow("layout") << QStringLiteral("a\u2028b\u202ec\u2066") << QString()
                                << QStringLiteral("a\\u2028b\\u202ec\\u2066");
        QTest::newRow("kept") << QStringLiteral("a\tb\nc\x07") << QStringLiteral("\t\n")
                              << QStringLiteral("a\tb\nc\\x07");
    }
    void visibleTextEscapesWhatMovesOrSplitsText() {
        QFETCH(QString, text);
        QFETCH(QString, kept);
        QFETCH(QString, shown);
        QCOMPARE(visibleText(text, kept), shown);
    }

    // Eleven descriptors carrying one name of 60 MB (hard links: the disk holds it once). Each row keeps 64
    // KB of it, and says how much it left out; the rows' memory is that of one descriptor read, not of eleven
    // names; the notice names the cut. Many long names together stay within the list's bound.
    void hugeNamesAreKeptCut() {
        TestAgent agent;
        QVERIFY(writeOneTask(agent));
        const QString first = agent.paths().descriptor(QStringLiteral("SDClientTask.A1.xml"));
        QVERIFY(agent.writeDescriptor(QStringLiteral("SDClientTask.A1.xml"), QString(60'000'000, u'n')));
        for (int i = 2; i <= 11; ++i) {
            const QString file = QStringLiteral("SDClientTask.A%1.xml").arg(i);
            QVERIFY(agent.addOperation({file, QStringLiteral("2"), {}, {}}));
            QVERIFY(hardLink(first, agent.paths().descriptor(file)));
        }
        const qint64 memoryBefore = peakMemoryMb();
        TaskTable table;
        LoadResult result;
        QString error;
        QVERIFY(loadOperations(table, agent.paths().database(), kLoadOperationsQuery, result, error) ==
                DatabaseRead::Read);
        QCOMPARE(result.rows, 11);
        const QList<TaskRow> rows = buildTaskRows(table, agent.paths().descriptorFolder());
        QVERIFY2(peakMemoryMb() - memoryBefore < 300 * kMemoryLimitScale,
                 qPrintable(QString::number(peakMemoryMb() - memoryBefore)));
        const QString cut = QString(kMaxNameChars, u'n') + QStringLiteral(" [... 59934464 more characters]");
        for (const TaskRow& row : rows) {
            QCOMPARE(row.application, cut);
            QCOMPARE(row.kind, TaskRow::Kind::Package);
        }
        QCOMPARE(rows.first().columnText(1),
                 QString(kCellTextLimit, u'n') + QStringLiteral(" [... 59999700 more characters]"));
        QVERIFY2(descriptorNotice(rows).contains(QLatin1String("11 package names are too long and were cut")),
                 qPrintable(descriptorNotice(rows)));

        const CorvanectlRun json = corvanectl(agent, {QStringLiteral("list"), QStringLiteral("--json")});
        QVERIFY(json.finished);
        QCOMPARE(listedNames(json).value(QStringLiteral("A7")), cut);
        QVERIFY2(json.err.contains(QLatin1String("too long and were cut")), qPrintable(json.err));

        // 300 names of 100,000 characters: once the list's share for long names is spent, the rest keep
        // what a cell shows.
        QVERIFY(agent.writeDescriptor(QStringLiteral("SDClientTask.A1.xml"), QString(100'000, u'n')));
        for (int i = 12; i <= 300; ++i)
            table.add(QString::number(i), QStringLiteral("SDClientTask.A1.xml;2;No;;n/a;n/a"));
        qsizetype kept = 0;
        const QList<TaskRow> many = buildTaskRows(table, agent.paths().descriptorFolder());
        for (const TaskRow& row : many)
            kept += row.application.size();
        QVERIFY2(kept <= kListNameChars + many.size() * (kCellTextLimit + 40),
                 qPrintable(QString::number(kept)));
        QVERIFY(many.last().application.startsWith(QString(kCellTextLimit, u'n') + QStringLiteral(" [... ")));
    }

    // Links that lead out of the agent's folders: a descriptor linked to a package-like file elsewhere or to
    // a file that is none of the agent's is not read, its task is no package and cannot be stopped; a
    // database linked to a file elsewhere is neither listed nor changed. Links and hard links that stay in
    // the folder read as usual.
    void linksLeadOnlyWithinTheirFolder() {
#ifdef Q_OS_WIN
        QSKIP("Symbolic links need a right that tests do not have on Windows; Wine makes none");
#else
        TestAgent agent;
        QVERIFY(writeOneTask(agent));
        QVERIFY(agent.writeFile(agent.root() + QStringLiteral("/elsewhere.xml"),
                                fake::AgentTree::descriptorText(QStringLiteral("Not a package"))));
        const QMap<QString, QString> links = {
            {QStringLiteral("B2"), agent.root() + QStringLiteral("/elsewhere.xml")},
            {QStringLiteral("C3"), QStringLiteral("/etc/shadow")},
            {QStringLiteral("D4"), QStringLiteral("SDClientTask.A1.xml")},
        };
        for (auto link = links.cbegin(); link != links.cend(); ++link) {
            const QString file = QStringLiteral("SDClientTask.%1.xml").arg(link.key());
            QVERIFY(agent.addOperation({file, QStringLiteral("2"), {}, {}}));
            QVERIFY(QFile::link(link.value(), agent.paths().descriptor(file)));
        }
        QVERIFY(agent.addOperation({QStringLiteral("SDClientTask.E5.xml"), QStringLiteral("2"), {}, {}}));
        QVERIFY(hardLink(agent.paths().descriptor(QStringLiteral("SDClientTask.A1.xml")),
                         agent.paths().descriptor(QStringLiteral("SDClientTask.E5.xml"))));

        const CorvanectlRun list = corvanectl(agent, {QStringLiteral("list"), QStringLiteral("--json")});
        QVERIFY(list.finished);
        const QMap<QString, QString> names = listedNames(list);
        QCOMPARE(names.value(QStringLiteral("B2")), QStringLiteral("Unknow"));
        QCOMPARE(names.value(QStringLiteral("C3")), QStringLiteral("Unknow"));
        QCOMPARE(names.value(QStringLiteral("D4")), QStringLiteral("Package A1"));
        QCOMPARE(names.value(QStringLiteral("E5")), QStringLiteral("Package A1"));
        QVERIFY2(list.err.contains(QLatin1String("Can't read 2 package descriptors")) &&
                     list.err.contains(QLatin1String("is a link outside the agent's folder")),
                 qPrintable(list.err));
        const CorvanectlRun stop = corvanectl(agent, {QStringLiteral("stop"), QStringLiteral("B2")});
        QCOMPARE(stop.exitCode, 1);
        QVERIFY2(stop.err.contains(QLatin1String("B2: not a package task")), qPrintable(stop.err));

        // The database moved elsewhere, a link left in its place.
        const QString db = agent.paths().database();
        const QString moved = agent.root() + QStringLiteral("/elsewhere.db3");
        QVERIFY(QFile::rename(db, moved));
        QVERIFY(QFile::link(moved, db));
        const auto bytes = [&moved] {
            QFile file(moved);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QByteArray before = bytes();
        const CorvanectlRun linkedList = corvanectl(agent, {QStringLiteral("list")});
        QCOMPARE(linkedList.exitCode, 1);
        QVERIFY2(linkedList.err.contains(QLatin1String("is a link outside the agent's folder")),
                 qPrintable(linkedList.err));
        QVERIFY(!linkedList.out.contains(QLatin1String("Package A1")));
        SqliteConnection writer(db);
        QString error;
        QVERIFY(!writer.exec(QStringLiteral("UPDATE InvokerState SET state = 6"), error));
        QVERIFY2(error.contains(QLatin1String("is a link outside the agent's folder")), qPrintable(error));
        QCOMPARE(bytes(), before);
#endif
    }

    // Names under which Windows would open another task's descriptor (another case, a trailing dot or
    // space) do not read it: no second row takes A1's name. Elsewhere they are other names anyway.
    void namesThatWindowsWouldAlias() {
        TestAgent agent;
        QVERIFY(writeOneTask(agent));
        for (const char* alias : {"sdclienttask.a1.xml", "SDClientTask.A1.xml.", "SDClientTask.A1.xml "})
            QVERIFY(agent.addOperation({QLatin1String(alias), QStringLiteral("2"), {}, {}}));
        const CorvanectlRun list = corvanectl(agent, {QStringLiteral("list"), QStringLiteral("--json")});
        QVERIFY(list.finished);
        const QMap<QString, QString> names = listedNames(list);
        QCOMPARE(names.size(), 4);
        QCOMPARE(names.values().count(QStringLiteral("Package A1")), 1);
        QCOMPARE(names.value(QStringLiteral("A1")), QStringLiteral("Package A1"));
    }

    // A database the technician may not read says so, not "unable to open database file".
    void databaseWithoutReadPermission() {
#ifdef Q_OS_WIN
        QSKIP("Permissions are POSIX ones here; under Wine every file is readable");
#else
        TestAgent agent;
        QVERIFY(writeOneTask(agent));
        QVERIFY(QFile::setPermissions(agent.root(), QFile::permissions(agent.root()) | QFileDevice::ExeOther |
                                                        QFileDevice::ReadOther));
        QVERIFY(QFile::setPermissions(agent.paths().database(), QFileDevice::Permissions()));
        QProcess process;
        // Root reads every file: the command runs as nobody then.
        if (::geteuid() == 0)
            process.setChildProcessModifier([] {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(99);
            });
        process.start(QStringLiteral(CORVANECTL_PATH),
                      {QStringLiteral("--agent-root"), agent.root(), QStringLiteral("list")});
        QVERIFY(process.waitForFinished(20000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(err.contains(QLatin1String("no permission to read ") + agent.paths().database()),
                 qPrintable(err));
#endif
    }

    // The synchroniser's log is a FIFO: Policy Sync from the command line still gives up at its time-out.
    void syncDoesNotWaitOnAFifoLog() {
#ifdef Q_OS_WIN
        QSKIP("FIFOs are POSIX files");
#else
        TestAgent agent;
        QVERIFY(writeOneTask(agent));
        fake::SyncOptions options;
        options.failAtOnce = true; // writes nothing, so it never opens the FIFO either
        QVERIFY2(agent.installSynchroniser(QStringLiteral(FAKE_AGENT_PATH), options),
                 qPrintable(agent.error()));
        QVERIFY(makeFifo(agent.paths().syncLog()));
        QElapsedTimer timer;
        timer.start();
        const CorvanectlRun sync =
            corvanectl(agent, {QStringLiteral("sync"), QStringLiteral("--timeout"), QStringLiteral("5")}, 30);
        QVERIFY2(sync.finished, "corvanectl sync waited on the FIFO");
        QVERIFY2(timer.elapsed() < test::scaledMs(20000), qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(sync.exitCode, 1);
#endif
    }
};

QTEST_GUILESS_MAIN(TestAgentFiles)
#include "tst_agentfiles.moc"
