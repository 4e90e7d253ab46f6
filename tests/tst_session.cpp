// The session's rules, without a window: which controls may be used, "Auto", when the list may be read again,
// the database going and coming back, and what an action with nothing checked says.
#include "EventLoopProbe.h"
#include "HangingShare.h"
#include "SessionFixture.h"
#include "TimeBounds.h"
#include "actions/TaskActions.h"
#include "agent/ClientDatabase.h"
#include "agent/InvokerLog.h"
#include "agent/TaskTable.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace corvane;
using corvane::test::SessionFixture;

namespace {

// The rows of the last read as the list would hand them to an action, those with `keys` checked.
QList<CheckedRow> checkedRows(const QList<TaskRow>& rows, const QStringList& keys) {
    QList<CheckedRow> checked;
    for (const TaskRow& row : rows)
        checked.append({row.key, keys.contains(row.key), row.application});
    return checked;
}

} // namespace

class TestSession : public QObject {
    Q_OBJECT

private slots:
    void controlsFollowTheFacts() {
        const ControlState idle = controlState({});
        QVERIFY(idle.refresh && idle.policySync && idle.stopInstall && idle.reinstall && idle.autoRefresh &&
                idle.listMayRebuild);
        // Without the database Stop Install stays, to say why nothing can be checked.
        const ControlState missing = controlState({true, false, false, false});
        QVERIFY(!missing.refresh && !missing.policySync && !missing.reinstall && !missing.autoRefresh);
        QVERIFY(missing.stopInstall);
        // A sync ends with what the database allows, whatever happened to it meanwhile.
        const ControlState syncing = controlState({true, true, false, false});
        QVERIFY(!syncing.refresh && !syncing.policySync && !syncing.stopInstall && !syncing.reinstall);
        QVERIFY(controlState({false, true, false, false}).listMayRebuild); // the list shows what a sync adds
        QVERIFY(!controlState({false, false, true, false}).listMayRebuild);
        QVERIFY(!controlState({false, false, false, true}).listMayRebuild);
        // Another workstation: read only until changes are allowed; its Policy Sync never.
        const ControlState readOnly = controlState({false, false, false, false, true, false});
        QVERIFY(readOnly.refresh && readOnly.autoRefresh);
        QVERIFY(!readOnly.stopInstall && !readOnly.reinstall && !readOnly.undo && !readOnly.policySync);
        const ControlState allowed = controlState({false, false, false, false, true, true});
        QVERIFY(allowed.stopInstall && allowed.reinstall && allowed.undo && !allowed.policySync);
    }

    // A remote workstation is read first: its list is read, but nothing changes it, nor starts a sync,
    // until the technician allows changes; then the preview names it. A share lost while the preview is open
    // leaves the tasks not changed, with the share's reason.
    void remoteWorkstationIsReadFirst() {
        SessionFixture fixture;
        QVERIFY(test::writeDemo(fixture.agent));
        QList<TaskRow> rows;
        fixture.session =
            std::make_unique<AgentSession>(Workstation{QStringLiteral("WS0123"), fixture.agent.root(), true},
                                           fixture.messages, test::kClock);
        AgentSession& session = *fixture.session;
        connect(&session, &AgentSession::rowsRead, this, [&](const QList<TaskRow>& read) { rows = read; });
        QVERIFY(fixture.read([&] { session.refresh(); }));
        QVERIFY(!rows.isEmpty());
        const QStringList keys{QStringLiteral("kCORE01_1203"), QStringLiteral("kCORE01_1208")};
        const QStringList before = fixture.agent.dumpAll();

        QSignalSpy status(&session, &AgentSession::statusChanged);
        QSignalSpy ended(&session, &AgentSession::actionEnded);
        session.act(TaskAction::StopInstall, checkedRows(rows, keys));
        session.undo({1});
        session.startSync(false);
        QVERIFY(!session.isSyncRunning() && !session.isActing());
        QVERIFY(fixture.messages.previews.isEmpty());
        QCOMPARE(status.size(), 3);
        QVERIFY(status.at(0).first().toString().contains(QLatin1String("Allow changes over the network")));
        QCOMPARE(status.at(2).first().toString(), remotePolicySyncReason());
        QCOMPARE(fixture.agent.dumpAll(), before);

        session.setChangesAllowed(true);
        QVERIFY(session.controls().stopInstall && !session.controls().policySync);
        const QString root = fixture.agent.root();
        const QString away = root + QStringLiteral(".away");
        fixture.messages.answer = {true, false};
        // The share goes while the preview is open: a file where it was, so nothing can be made below it.
        fixture.messages.beforeAnswer = [&] {
            QVERIFY(QDir().rename(root, away));
            QFile gone(root);
            QVERIFY(gone.open(QIODevice::WriteOnly));
        };
        session.act(TaskAction::StopInstall, checkedRows(rows, keys));
        QVERIFY(ended.wait(20000));
        QVERIFY(QFile::remove(root) && QDir().rename(away, root));
        QCOMPARE(fixture.messages.previews.size(), 1);
        QCOMPARE(fixture.messages.previews.first().workstation, QStringLiteral("WS0123"));
        const ActionReport report = ended.first().first().value<ActionReport>();
        QCOMPARE(report.count(TaskOutcome::Kind::Change), 0);
        for (const TaskOutcome& task : report.tasks) {
            if (task.kind == TaskOutcome::Kind::AlreadyDone)
                continue;
            QCOMPARE(task.kind, TaskOutcome::Kind::NotChanged);
            QVERIFY2(task.reason.endsWith(QDir::toNativeSeparators(root) + QStringLiteral(": not a folder")),
                     qPrintable(task.reason));
        }
        QCOMPARE(fixture.agent.dumpAll(), before);

        // With the share back the same action goes through.
        fixture.messages.beforeAnswer = {};
        ended.clear();
        QVERIFY(fixture.read([&] { session.refresh(); }));
        session.act(TaskAction::StopInstall, checkedRows(rows, keys));
        QVERIFY(ended.wait(20000));
        QVERIFY(ended.first().first().value<ActionReport>().count(TaskOutcome::Kind::Change) > 0);
    }

    // A remote root that is missing says so in its notice; one whose reads hang is named as not answering
    // once its deadline has passed, while the local session goes on reading and the event loop stays free;
    // when the share answers again the notice goes.
    void unreachableAndHangingRoots() {
        SessionFixture missing;
        const QString absent = QDir(missing.agent.root()).filePath(QStringLiteral("WS0404"));
        QMap<AgentSession::Notice, QString> notices;
        missing.session = std::make_unique<AgentSession>(Workstation{QStringLiteral("WS0404"), absent, true},
                                                         missing.messages, test::kClock);
        connect(missing.session.get(), &AgentSession::noticeChanged, this,
                [&](AgentSession::Notice kind, const QString& text) { notices[kind] = text; });
        QVERIFY(missing.read([&] { missing.session->refresh(); }));
        QCOMPARE(notices.value(AgentSession::Notice::Workstation),
                 QDir::toNativeSeparators(absent) + QStringLiteral(": not found"));
        QVERIFY(missing.messages.shown.isEmpty());

#ifdef Q_OS_WIN
        QSKIP("A database whose reads hang is made with a FIFO, on POSIX only");
#else
        SessionFixture local;
        QVERIFY(test::writeDemo(local.agent));
        QVERIFY(local.open());
        SessionFixture hanging;
        QVERIFY(test::writeDemo(hanging.agent));
        test::HangingDatabase hang(hanging.agent.paths().database());
        QVERIFY(hang.isMade());
        hanging.session =
            std::make_unique<AgentSession>(Workstation{QStringLiteral("WS0123"), hanging.agent.root(), true},
                                           hanging.messages, test::kClock);
        AgentSession& remote = *hanging.session;
        remote.setShareDeadlineMs(300);
        QSignalSpy remoteNotices(&remote, &AgentSession::noticeChanged);
        QSignalSpy remoteRead(&remote, &AgentSession::taskListRead);
        remote.refresh();
        QVERIFY(remoteNotices.wait(test::scaledMs(5000)));
        QCOMPARE(remoteNotices.last().at(1).toString(), QDir::toNativeSeparators(hanging.agent.root()) +
                                                            QStringLiteral(": did not answer within 0.3 s"));
        remote.tick(); // not asked again while it hangs
        for (int read = 0; read < 3; ++read) {
            const qint64 blocked = test::longestEventLoopBlockMs([&] { local.session->refresh(); },
                                                                 *local.session, &AgentSession::taskListRead);
            QVERIFY2(blocked < test::scaledMs(500), qPrintable(QString::number(blocked)));
        }
        QVERIFY(remoteRead.isEmpty() && remote.isReading());

        hang.release();
        QVERIFY(remoteRead.wait(test::scaledMs(10000)));
        QCOMPARE(remoteNotices.last().at(1).toString(), QString());
#endif
    }

    // Only a package row's tick turns "Auto" off; nothing turns it on while the database is missing.
    void autoRefreshFollowsTheChecksAndTheDatabase() {
        SessionFixture fixture;
        QVERIFY(test::writeDemo(fixture.agent));
        QVERIFY(fixture.open());
        AgentSession& session = *fixture.session;
        QSignalSpy autoChanges(&session, &AgentSession::autoRefreshChanged);
        QVERIFY(!session.tickRow(TaskRow::Tag::None, true).checked);
        QVERIFY(session.autoRefresh());
        QVERIFY(session.tickRow(TaskRow::Tag::Policy, true).checked);
        QVERIFY(!session.autoRefresh());
        session.tickRow(TaskRow::Tag::Policy, false); // clearing the tick does not turn it back on
        QVERIFY(!session.autoRefresh());
        QCOMPARE(autoChanges.size(), 1);

        QVERIFY(QFile::remove(fixture.agent.paths().database()));
        QVERIFY(fixture.read([&] { session.refresh(); }));
        session.setAutoRefresh(true);
        QVERIFY(!session.autoRefresh());
        QVERIFY(!session.controls().autoRefresh);
    }

    // The database goes: said once, the controls that need it off, nothing read on the timer; it comes back:
    // the next tick reads it and gives everything back without another message; it goes again: said again.
    void missingDatabaseAndItsReturn() {
        SessionFixture fixture;
        QVERIFY(fixture.open());
        AgentSession& session = *fixture.session;
        QCOMPARE(fixture.messages.texts(),
                 QStringList{kDatabaseMissingMessage + fixture.agent.paths().database()});
        QCOMPARE(fixture.messages.shown.first().icon, MessagePresenter::Icon::Critical);
        QVERIFY(!session.controls().refresh && !session.autoRefresh());
        session.tick();
        QVERIFY(!session.isReading());

        QVERIFY(fixture.agent.createDatabase());
        QVERIFY(
            fixture.agent.addOperation({QStringLiteral("SDClientTask.7.xml"), QStringLiteral("2"), {}, {}}));
        QSignalSpy controls(&session, &AgentSession::controlsChanged);
        QVERIFY(fixture.read([&] { session.tick(); }));
        QCOMPARE(session.table().count(), 1);
        QVERIFY(session.controls().refresh && session.controls().reinstall && session.autoRefresh());
        QCOMPARE(controls.size(), 1);
        QCOMPARE(fixture.messages.shown.size(), 1);

        QVERIFY(QFile::remove(fixture.agent.paths().database()));
        QVERIFY(fixture.read([&] { session.tick(); }));
        QCOMPARE(fixture.messages.shown.size(), 2);
        QVERIFY(!session.controls().refresh);
    }

    // A message runs its own event loop, so ticks come while it is open: they start no read that would
    // replace the rows an action walks, nor one under the preview.
    void noReadUnderAMessageOrAnAction() {
        SessionFixture fixture;
        QVERIFY(test::writeDemo(fixture.agent));
        QVERIFY(fixture.open());
        AgentSession& session = *fixture.session;
        QList<TaskRow> rows;
        connect(&session, &AgentSession::rowsRead, this, [&](const QList<TaskRow>& read) { rows = read; });
        QVERIFY(fixture.read([&] { session.refresh(); }));
        int readsUnderMessages = 0;
        int readsUnderPreview = 0;
        fixture.messages.whileOpen = [&] {
            session.tick();
            readsUnderMessages += session.isReading();
        };
        fixture.messages.answer = {true, false};
        QSignalSpy ended(&session, &AgentSession::actionEnded);
        session.setAutoRefresh(true);
        session.act(TaskAction::StopInstall,
                    checkedRows(rows, {QStringLiteral("kCORE01_1203"), QStringLiteral("kCORE01_1208")}));
        session.tick();
        readsUnderPreview += session.isReading();
        QVERIFY(ended.wait(20000));
        QCOMPARE(readsUnderMessages, 0);
        QCOMPARE(readsUnderPreview, 0);
        QVERIFY(!fixture.messages.shown.isEmpty()); // the refusal of the Active task
        QVERIFY(ended.first().at(1).toBool());      // something changed: the ticks have served
        QVERIFY(session.isReading());               // the action's own read
    }

    // Stop Install with nothing checked says so, turns "Auto" on and reads the list; with the database
    // missing it also says why nothing can be checked.
    void actionWithNothingChecked() {
        SessionFixture fixture;
        QVERIFY(fixture.open());
        AgentSession& session = *fixture.session;
        fixture.messages.shown.clear();
        QSignalSpy ended(&session, &AgentSession::actionEnded);
        session.act(TaskAction::StopInstall, {});
        QCOMPARE(fixture.messages.texts(),
                 QStringList(
                     {kNothingCheckedMessage, kDatabaseMissingMessage + fixture.agent.paths().database()}));
        QVERIFY(session.isReading());
        QVERIFY(ended.isEmpty());

        QSignalSpy status(&session, &AgentSession::statusChanged);
        session.undoLast();
        QCOMPARE(status.size(), 1);
        QVERIFY(status.first().first().toString().startsWith(QLatin1String("Nothing to undo")));
    }

    // The log box can show another day: that day's lines only, as they stand (the timer does not replace
    // them); back to today, it follows today's part again.
    void anotherDayInTheLog() {
        SessionFixture fixture;
        QVERIFY(test::writeDemo(fixture.agent));
        QVERIFY(fixture.open());
        AgentSession& session = *fixture.session;
        QList<InvokerLogUpdate> updates;
        connect(&session, &AgentSession::logUpdated, this,
                [&](const InvokerLogUpdate& update) { updates << update; });
        session.showLogDay(test::kClock.today().addDays(-1));
        QTRY_COMPARE(updates.size(), 1);
        const QString yesterday = updates.first().lines.joined();
        QVERIFY2(yesterday.contains(QLatin1String("Starting, 11 policies known")), qPrintable(yesterday));
        QVERIFY(!yesterday.contains(invokerDateKey(test::kClock.today())));
        QVERIFY(fixture.agent.appendFile(fixture.agent.paths().invokerLog(),
                                         invokerDateKey(test::kClock.today()).toLatin1() +
                                             " 13:00:00 later\r\n"));
        session.tick();
        QCOMPARE(updates.size(), 1);

        session.showLogDay(test::kClock.today());
        QVERIFY(!session.logDay().isValid());
        QCOMPARE(updates.size(), 2);
        QCOMPARE(updates.last().kind, InvokerLogUpdate::Kind::Replaced);
        QVERIFY(updates.last().lines.last().endsWith(QLatin1String("later")));
    }

    // The agent's program folder goes: the first panel names the missing folder and scheduled-task file. It
    // comes back as a 32-bit agent's, in "Program Files (x86)": the next tick finds it there.
    void agentFolderGoesAndComesBackElsewhere() {
        SessionFixture fixture;
        QVERIFY(test::writeDemo(fixture.agent));
        QVERIFY(fixture.open());
        AgentSession& session = *fixture.session;
        QMap<AgentSession::Notice, QString> notices;
        connect(&session, &AgentSession::noticeChanged, this,
                [&](AgentSession::Notice kind, const QString& text) { notices[kind] = text; });
        const QString programFiles =
            AgentPaths::belowRoot(fixture.agent.root(), QStringLiteral("C:\\Program Files"));
        const QString programFiles32 = programFiles + QStringLiteral(" (x86)");
        QVERIFY(QDir(programFiles).rename(programFiles, programFiles32 + QStringLiteral(".away")));
        QVERIFY(fixture.read([&] { session.refresh(); }));
        const QString said = notices.values().join(QLatin1Char('\n'));
        QVERIFY2(said.contains(QLatin1String("Can't find the scheduled-task file")) &&
                     said.contains(QLatin1String("Can't find the agent's folder")),
                 qPrintable(said));

        QSignalSpy moved(&session, &AgentSession::pathsChanged);
        QVERIFY(QDir().rename(programFiles32 + QStringLiteral(".away"), programFiles32));
        QVERIFY(fixture.read([&] { session.tick(); }));
        QCOMPARE(moved.size(), 1);
        QVERIFY(session.paths().invokerLog().startsWith(programFiles32));
        QCOMPARE(notices.value(AgentSession::Notice::TaskList), QString());
        QCOMPARE(notices.value(AgentSession::Notice::InvokerLog), QString());
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
