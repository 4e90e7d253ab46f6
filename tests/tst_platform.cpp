// What differs on Windows, the users' platform: the agent's fixed paths (and those of a 32-bit agent), logs
// the agent holds open while Corvane reads them, how the synchroniser is started, and the command line's
// streams. The cases that need Windows itself run under Wine in CI.
#include "CorvanectlRun.h"
#include "FixedClock.h"
#include "RecordingPresenter.h"
#include "TestAgent.h"
#include "agent/AgentPaths.h"
#include "session/MessagePresenter.h"
#include "ui/Form1.h"
#include "ui/TaskListModel.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

using namespace corvane;
using corvane::test::CorvanectlRun;
using corvane::test::RecordingPresenter;
using corvane::test::runCorvanectl;
using corvane::test::TestAgent;

namespace {

// The day the simulated agents are written for, and the window's clock: nothing here depends on the wall
// clock.
const QDateTime kNow(QDate(2026, 3, 14), QTime(12, 0));
const QString kDay = QStringLiteral("2026-03-14");
const test::FixedClock kClock(kNow);

QString fakeAgent() {
    return QStringLiteral(FAKE_AGENT_PATH);
}

#ifdef Q_OS_WIN
// The agent's folders at their fixed places on this (Wine) machine's C: drive.
const QStringList kFixedFolders = {
    QStringLiteral("C:/Documents and Settings/All Users/Application Data/LANDesk"),
    QStringLiteral("C:/Program Files/LANDesk"),
    QStringLiteral("C:/Program Files (x86)/LANDesk"),
};

void removeFixedAgent() {
    for (const QString& folder : kFixedFolders)
        QDir(folder).removeRecursively();
}
#endif

} // namespace

class TestPlatform : public QObject {
    Q_OBJECT

private slots:
    // Help, version and usage errors reach the streams they belong to, also when both are redirected, and
    // lines end with a line feed alone on every system.
    void commandLineStreams() {
        const CorvanectlRun help = runCorvanectl({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        QVERIFY2(help.out.contains(QLatin1String("Usage:")), qPrintable(help.out));
        QVERIFY(help.err.isEmpty());

        const CorvanectlRun version = runCorvanectl({QStringLiteral("--version")});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QStringLiteral("corvanectl " CORVANE_VERSION "\n"));

        const CorvanectlRun wrong = runCorvanectl({QStringLiteral("--no-such-option")});
        QCOMPARE(wrong.exitCode, 2);
        QVERIFY(wrong.out.isEmpty());
        QVERIFY2(wrong.err.startsWith(QLatin1String("corvanectl: ")), qPrintable(wrong.err));

        TestAgent agent;
        QString error;
        QVERIFY2(fake::writeDemoAgent(agent.root(), kNow, error), qPrintable(error));
        for (const QStringList& command :
             {QStringList{QStringLiteral("list")},
              QStringList{QStringLiteral("log"), QStringLiteral("--date"), kDay}}) {
            const CorvanectlRun run =
                runCorvanectl(QStringList{QStringLiteral("--agent-root"), agent.root()} + command);
            QCOMPARE(run.exitCode, 0);
            QVERIFY(run.out.count(QLatin1Char('\n')) > 2);
            QVERIFY2(!run.out.contains(QLatin1Char('\r')), qPrintable(command.first()));
        }
    }

    // The described program folder first; the 32-bit one when only it holds the agent.
    void programFolderOfA32BitAgent() {
        QTemporaryDir root;
        const QString described = root.path() + QStringLiteral("/Program Files/LANDesk/LDClient");
        const QString x86 = root.path() + QStringLiteral("/Program Files (x86)/LANDesk/LDClient");
        QVERIFY(QDir().mkpath(x86));
        QCOMPARE(AgentPaths(root.path()).invokerLog(), x86 + QStringLiteral("/policy.client.invoker.log"));
        QCOMPARE(AgentPaths(root.path()).synchroniser(), x86 + QStringLiteral("/policy.sync.exe"));
        QVERIFY2(AgentPaths(root.path()).database().contains(QLatin1String("/Documents and Settings/")),
                 "the database does not move with the program folder");
        QVERIFY(QDir().mkpath(described));
        QCOMPARE(AgentPaths(root.path()).scheduledTasks(), described + QStringLiteral("/sdclient.tasks.xml"));
    }

    // The agent's logger keeps its log open for writing; the window follows the lines as they come.
    void windowFollowsALogTheAgentHoldsOpen() {
        TestAgent agent;
        QString error;
        QVERIFY2(fake::writeDemoAgent(agent.root(), kNow, error), qPrintable(error));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        form.Form_Load();
        QProcess writer;
        writer.start(fakeAgent(), {QStringLiteral("append-log"), agent.paths().invokerLog(),
                                   QStringLiteral("12"), QStringLiteral("100")});
        QVERIFY(writer.waitForReadyRead(30000));
        QCOMPARE(writer.readAllStandardOutput().trimmed(), QByteArray("open"));
        auto* text = form.findChild<QPlainTextEdit*>(QStringLiteral("Text1"));
        // Timer1 reads the log every five seconds, while the writer holds it open until told to close it.
        QTRY_VERIFY_WITH_TIMEOUT(text->toPlainText().endsWith(QLatin1String("held open 12")),
                                 test::scaledMs(30000));
        QCOMPARE(writer.state(), QProcess::Running);
        writer.closeWriteChannel();
        QVERIFY(writer.waitForFinished(30000));
        QCOMPARE(writer.exitCode(), 0);
        QCOMPARE(messages.texts(), QStringList());
    }

    // The synchroniser belongs to the agent: it starts minimised without taking the focus, and goes on to
    // its end when the window that started it closes.
    void synchroniserStartsQuietlyAndOutlivesTheWindow() {
        TestAgent agent;
        const QString startup = agent.root() + QStringLiteral("/startup.txt");
        fake::SyncOptions options;
        options.delayMs = 300;
        options.recordStartup = startup;
        QString error;
        QVERIFY2(fake::writeDemoAgent(agent.root(), kNow, error, fakeAgent(), options), qPrintable(error));
        auto logText = [&] {
            QFile log(agent.paths().syncLog());
            return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        };
        const qsizetype stopsBefore = logText().count("finished [STOP]");
        {
            RecordingPresenter messages;
            Form1 form(agent.paths(), messages, kClock);
            form.Form_Load();
            form.findChild<QPushButton*>(QStringLiteral("BtnPortal"))->click();
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(startup), test::scaledMs(30000));
            form.close();
        }
#ifdef Q_OS_WIN
        auto record = [&] {
            QFile file(startup);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_COMPARE_WITH_TIMEOUT(record(), QByteArray("show=7\n"),
                                  test::scaledMs(10000)); // SW_SHOWMINNOACTIVE
#endif
        QTRY_COMPARE_WITH_TIMEOUT(logText().count("finished [STOP]"), stopsBefore + 1, test::scaledMs(30000));
    }

    // Without --agent-root, Windows' own fixed paths: corvanectl and the window read the agent written there,
    // and a 32-bit agent's program folder when only that exists.
    void fixedPathsOnWindows() {
#ifndef Q_OS_WIN
        QSKIP("The fixed C:\\ paths exist on Windows only; elsewhere --agent-root maps them below a folder.");
#else
        for (const QString& folder : kFixedFolders) {
            if (QFileInfo::exists(folder))
                QSKIP("An agent is installed on this machine: its folders are not for a test to touch.");
        }
        removeFixedAgent();
        QString error;
        QVERIFY2(fake::writeDemoAgent(QStringLiteral("C:/"), kNow, error), qPrintable(error));
        const CorvanectlRun listed = runCorvanectl({QStringLiteral("list"), QStringLiteral("--json")});
        const QJsonArray rows = QJsonDocument::fromJson(listed.out.toUtf8()).array();
        QCOMPARE(listed.exitCode, 0);
        QVERIFY2(listed.out.contains(QLatin1String("Office Tools")), qPrintable(listed.out));

        RecordingPresenter messages;
        {
            Form1 form{AgentPaths(), messages, kClock};
            form.Form_Load();
            QTRY_COMPARE(form.taskListModel()->rowCount(), rows.size());
        }

        QVERIFY(QDir(QStringLiteral("C:/Program Files"))
                    .rename(QStringLiteral("LANDesk"), QStringLiteral("../Program Files (x86)/LANDesk")));
        const CorvanectlRun listed32 = runCorvanectl({QStringLiteral("list"), QStringLiteral("--json")});
        QCOMPARE(listed32.out, listed.out); // the scheduled-task file's tasks are still found
        const CorvanectlRun log32 = runCorvanectl({QStringLiteral("log"), QStringLiteral("--date"), kDay});
        QCOMPARE(log32.exitCode, 0);
        QVERIFY2(log32.out.contains(QLatin1String("policy.client.invoker")), qPrintable(log32.out));
        removeFixedAgent();
        QCOMPARE(messages.texts(), QStringList());
#endif
    }

    void cleanupTestCase() {
#ifdef Q_OS_WIN
        if (QFileInfo::exists(QStringLiteral("C:/Program Files (x86)/LANDesk/LDClient/sdclient.tasks.xml")) ||
            QFileInfo::exists(QStringLiteral("C:/Program Files/LANDesk/LDClient/sdclient.tasks.xml")))
            removeFixedAgent();
#endif
    }
};

QTEST_MAIN(TestPlatform)
#include "tst_platform.moc"
