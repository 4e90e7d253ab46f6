// The main window, offscreen: layout, rebuilds, the check rule, the actions and the database-missing path.
#include "ActionHelpers.h"
#include "DemoAgent.h"
#include "FixedClock.h"
#include "RecordingPresenter.h"
#include "TaskListHelpers.h"
#include "TestAgent.h"
#include "agent/TaskTable.h"
#include "session/AgentSession.h"
#include "session/MessagePresenter.h"
#include "sync/SyncLog.h"
#include "tasklist/TaskList.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/TaskListModel.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QTreeView>

#include <functional>

using namespace corvane;
using corvane::test::check;
using corvane::test::clickAction;
using corvane::test::rowOf;
using corvane::test::TestAgent;

namespace {

template <typename T> T* control(const Form1& form, const char* name) {
    return form.findChild<T*>(QLatin1String(name));
}

using test::kClock;
using test::quickSync;
using test::quickSyncTiming;
using test::RecordingPresenter;
const QDateTime kNow = kClock.now();

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT

    QTemporaryDir m_settings;

private slots:
    // Nothing these tests do may reach the user's own settings (on Windows: the registry) or folders.
    void initTestCase() {
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settings.path());
        QStandardPaths::setTestModeEnabled(true);
    }

    void initialState() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        QVERIFY(test::load(form));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        QCOMPARE(form.windowTitle(), QStringLiteral("Corvane"));
        // The design size is the default, every control where the design has it; the window can be resized
        // down to what a 1280x720 screen at 200 % scaling shows (640x360 less the frame and the task bar).
        QCOMPARE(form.size(), QSize(744, 375));
        QVERIFY(form.minimumSize().width() <= 620 && form.minimumSize().height() <= 280);
        QVERIFY(form.maximumSize().width() > 2000);
        const QList<std::pair<const char*, QRect>> layout = {
            {"Text1", QRect(120, 216, 617, 143)},
            {"ListView1", QRect(120, 8, 617, 169)},
            {"BtnRefresh", QRect(128, 184, 73, 25)},
            {"Picture1", QRect(8, 8, 112, 351)},
            {"BtnPortal", QRect(360, 184, 89, 25)},
            {"BtnUpdate", QRect(656, 184, 73, 25)},
            {"StatusBar1", QRect(0, 359, 744, 16)},
            {"Check1", QRect(208, 192, 65, 17)},
            {"BtnStop", QRect(576, 184, 73, 25)},
            {"CheckViewLog", QRect(456, 192, 65, 17)},
            {"StatusPanelUpdated", QRect(411, 359, 100, 16)},
            {"StatusPanel1", QRect(0, 359, 411, 16)},
            {"StatusPanelUpdated", QRect(411, 359, 100, 16)},
            {"StatusPanel2", QRect(511, 359, 233, 16)},
        };
        auto placeIn = [&form](const QWidget* widget) {
            return QRect(widget->mapTo(&form, QPoint(0, 0)), widget->size());
        };
        for (const auto& [name, rect] : layout) {
            const QWidget* widget = control<QWidget>(form, name);
            QVERIFY2(widget, name);
            QCOMPARE(placeIn(widget), rect);
        }
        const auto* label = control<QLabel>(form, "Label1");
        QCOMPARE(label->text(), QStringLiteral("v1.1 beta 1 build 116"));
        QCOMPARE(label->parentWidget(), control<QWidget>(form, "Picture1"));
        QCOMPARE(label->geometry(), QRect(8, 308, 57, 25));

        QVERIFY(control<QCheckBox>(form, "Check1")->isChecked());
        QVERIFY(!control<QCheckBox>(form, "CheckViewLog")->isChecked());
        for (const char* button : {"BtnRefresh", "BtnPortal", "BtnStop", "BtnUpdate"})
            QVERIFY2(control<QPushButton>(form, button)->isEnabled(), button);
        QCOMPARE(control<QLabel>(form, "StatusPanel2")->text(), QString());
        const QString log = control<QPlainTextEdit>(form, "Text1")->toPlainText();
        QVERIFY2(log.contains(QLatin1String("Starting, 12 policies known")), qPrintable(log));
        QVERIFY(!log.contains(QLatin1String("Starting, 11 policies known"))); // yesterday's part is not shown
        const auto* timer = form.findChild<QTimer*>(QStringLiteral("Timer1"));
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 5000);

        // Tab order, from the log box that has the focus.
        form.activateWindow();
        QTRY_VERIFY(control<QWidget>(form, "Text1")->hasFocus());
        QStringList order;
        QWidget* widget = control<QWidget>(form, "Text1");
        for (int i = 0; i < 8; ++i) {
            order << widget->objectName();
            do
                widget = widget->nextInFocusChain();
            while (!(widget->focusPolicy() & Qt::TabFocus) || widget->objectName().isEmpty() ||
                   !widget->isVisible());
        }
        // Tab follows the screen: the list, then the row of controls from left to right, then the log.
        QCOMPARE(order, QStringList({QStringLiteral("Text1"), QStringLiteral("ListView1"),
                                     QStringLiteral("BtnRefresh"), QStringLiteral("Check1"),
                                     QStringLiteral("BtnPortal"), QStringLiteral("CheckViewLog"),
                                     QStringLiteral("BtnStop"), QStringLiteral("BtnUpdate")}));
        QVERIFY(messages.shown.isEmpty());
    }

    void rebuildShowsEveryKindOfRow() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        QAbstractItemModelTester tester(form.taskListModel(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(test::load(form));
        const TaskListModel& model = *form.taskListModel();
        QCOMPARE(model.rowCount(), 12);
        QCOMPARE(model.columnCount(), 8); // the seven shown and the task id
        auto colour = [&](const char* key, int column) {
            return model.index(rowOf(model, QLatin1String(key)), column).data(Qt::ForegroundRole);
        };
        QCOMPARE(colour("kCORE01_1203", 4).value<QColor>(), QColor(0, 170, 0));
        QCOMPARE(colour("kCORE01_1204", 6).value<QColor>(), QColor(220, 0, 0));
        QCOMPARE(colour("kCORE01_1206", 1).value<QColor>(), QColor(150, 150, 150));
        QVERIFY(!colour("kCORE01_1201", 1).isValid());
        const QModelIndex accented = model.index(4, 1);
        QCOMPARE(accented.data().toString(),
                 QStringLiteral("Gestionnaire de th\u00e8mes \u00e9l\u00e9gants"));
        QVERIFY(!model.index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(model.index(0, 0).data().toString(), QString());
        QCOMPARE(model.headerData(6, Qt::Horizontal).toString(), QStringLiteral("Reschedule Date"));

        // Column widths follow the list's width; a dragged column keeps its width across a rebuild.
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QHeaderView* header = control<QTreeView>(form, "ListView1")->header();
        for (int column = 0; column < kTaskColumns.size(); ++column)
            QCOMPARE(header->sectionSize(column), int(617 * kTaskColumns.at(column).widthFraction));
        header->resizeSection(1, 300);
        QVERIFY(test::readAfter(form, [&] { control<QPushButton>(form, "BtnRefresh")->click(); }));
        QCOMPARE(header->sectionSize(1), 300);
        QCOMPARE(header->sectionSize(2), int(617 * kTaskColumns.at(2).widthFraction));
        QVERIFY(control<QCheckBox>(form, "Check1")->isChecked());
    }

    void greenRowIsScrolledIntoView() {
        TestAgent agent;
        QVERIFY(agent.createDatabase());
        for (int i = 0; i < 30; ++i)
            QVERIFY(agent.addOperation({QStringLiteral("SDClientTask.%1.xml").arg(i),
                                        i == 25 ? QStringLiteral("4") : QStringLiteral("6"),
                                        {},
                                        {}}));
        QVERIFY(agent.writeDescriptor(QStringLiteral("SDClientTask.25.xml"), QStringLiteral("Busy")));
        QVERIFY(agent.writeScheduledTasks(
            {{QStringLiteral("25"), QStringLiteral("active"), QStringLiteral("0")}}));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(test::load(form));
        auto* list = control<QTreeView>(form, "ListView1");
        QTRY_VERIFY(list->viewport()->rect().intersects(list->visualRect(list->model()->index(25, 1))));
    }

    // A long list is read off the interface thread: the window serves events meanwhile, the old rows stay
    // until the new ones replace them in one step, and a timer tick does not start another read.
    void longListIsReadInTheBackground() {
        TestAgent agent;
        QVERIFY(agent.createDatabase());
        QString sql = QStringLiteral("BEGIN;");
        for (int i = 0; i < 2500; ++i)
            sql += QStringLiteral("INSERT INTO ClientOperations (filename) VALUES ('SDClientTask.%1.xml');")
                       .arg(i);
        QVERIFY(agent.execute(sql + QStringLiteral("COMMIT;")));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        int resets = 0;
        connect(form.taskListModel(), &QAbstractItemModel::modelReset, this, [&] { ++resets; });
        form.Form_Load();
        QCOMPARE(form.taskListModel()->rowCount(), 0); // not yet: the agent is still being read
        bool servedMeanwhile = false;
        QTimer::singleShot(0, this, [&] { servedMeanwhile = form.taskListModel()->rowCount() == 0; });
        form.Timer1_Timer();
        QTRY_COMPARE(form.taskListModel()->rowCount(), 2500);
        QVERIFY(servedMeanwhile);
        QCOMPARE(resets, 1);
        QCOMPARE(form.session()->table().count(), 2500);
        QCOMPARE(form.taskListModel()->taskRow(2499).key, QStringLiteral("k2499"));
    }

    void checkRule() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        QVERIFY(test::load(form));
        TaskListModel& model = *form.taskListModel();
        auto* autoRefresh = control<QCheckBox>(form, "Check1");
        const int package = rowOf(model, QStringLiteral("kCORE01_1202"));

        check(model, QStringLiteral("kCORE01_1202"));
        QVERIFY(model.isChecked(package));
        QVERIFY(model.index(package, 1).data(Qt::FontRole).value<QFont>().bold());
        QVERIFY(!autoRefresh->isChecked());

        check(model, QStringLiteral("kCORE01_1202"), false);
        QVERIFY(!model.isChecked(package));
        QVERIFY(!model.index(package, 1).data(Qt::FontRole).isValid());
        QVERIFY(!autoRefresh->isChecked()); // unchecking does not turn it back on

        autoRefresh->setChecked(true);
        for (const char* key : {"kCORE01_1206", "kCORE01_1207", "k1311"}) { // push, launchpad, file-only
            check(model, QLatin1String(key));
            const int row = rowOf(model, QLatin1String(key));
            QVERIFY2(!model.isChecked(row), key);
            QVERIFY(!model.index(row, 1).data(Qt::FontRole).isValid());
        }
        QVERIFY(autoRefresh->isChecked());
    }

    void stopInstallFromTheWindow() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        QVERIFY(test::load(form));
        TaskListModel& model = *form.taskListModel();
        check(model, QStringLiteral("kCORE01_1203")); // Active: refused
        check(model, QStringLiteral("kCORE01_1202")); // Waiting with a policy
        const QString refusedName = model.taskRow(rowOf(model, QStringLiteral("kCORE01_1203"))).application;
        QVERIFY(clickAction(form, QStringLiteral("BtnStop")));

        QCOMPARE(messages.texts(), QStringList{QStringLiteral("Can't prevent installation where package is "
                                                              "Active: %1 (task CORE01_1203) is Active")
                                                   .arg(refusedName)});
        QCOMPARE(messages.shown.first().title, QStringLiteral("Corvane"));
        QCOMPARE(messages.shown.first().icon, MessagePresenter::Icon::None);
        QVERIFY(control<QCheckBox>(form, "Check1")->isChecked());
        const int row = rowOf(model, QStringLiteral("kCORE01_1202"));
        QVERIFY(!model.isChecked(row)); // rebuilt
        QCOMPARE(model.taskRow(row).database, QStringLiteral("Completed"));
        QCOMPARE(model.taskRow(row).reschedule, QStringLiteral("No"));
        QCOMPARE(model.taskRow(rowOf(model, QStringLiteral("kCORE01_1203"))).database,
                 QStringLiteral("Active"));
        QCOMPARE(control<QLabel>(form, "StatusPanel2")->text(),
                 QStringLiteral("Stop Install: 1 stopped, 1 refused. Ctrl+Z undoes it"));
    }

    void reinstallFromTheWindow() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        QVERIFY(test::load(form));
        check(*form.taskListModel(), QStringLiteral("kCORE01_1204"));
        QVERIFY(clickAction(form, QStringLiteral("BtnUpdate")));
        QVERIFY(messages.shown.isEmpty());
        const TaskRow row =
            form.taskListModel()->taskRow(rowOf(*form.taskListModel(), QStringLiteral("kCORE01_1204")));
        QCOMPARE(row.database, QStringLiteral("Resume"));
        QCOMPARE(row.rescheduleDate, QStringLiteral("Now"));
        QCOMPARE(agent.dump(QStringLiteral("PackageState")).size(), 1); // 1204's package state is gone

        // Nothing checked: one message, and the list is still rebuilt with Auto on.
        control<QCheckBox>(form, "Check1")->setChecked(false);
        QVERIFY(test::readAfter(form, [&] { control<QPushButton>(form, "BtnUpdate")->click(); }));
        QCOMPARE(messages.texts(),
                 QStringList{QStringLiteral("You must have, at least, one application checked")});
        QVERIFY(control<QCheckBox>(form, "Check1")->isChecked());
    }

    // The action reads the task's state when it runs: a task that became Active after it was checked is
    // refused, and a task gone from the database is named, both without a change.
    void actionDecidesOnTheAgentsCurrentState() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages);
        QVERIFY(test::load(form));
        TaskListModel& model = *form.taskListModel();
        check(model, QStringLiteral("kCORE01_1202")); // Waiting when the list was read
        check(model, QStringLiteral("kCORE01_1208"));
        QVERIFY(agent.execute(QStringLiteral(
            "UPDATE InvokerState SET state=4 WHERE ClientOperations_IDN IN (SELECT ClientOperations_IDN FROM "
            "ClientOperations WHERE filename='SDClientTask.CORE01_1202.xml');"
            "DELETE FROM ClientOperations WHERE filename='SDClientTask.CORE01_1208.xml';")));
        const QStringList before = agent.dumpAll();
        QVERIFY(clickAction(form, QStringLiteral("BtnStop")));
        QCOMPARE(messages.shown.size(), 1); // one message for both
        const QStringList lines = messages.shown.first().text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 2);
        QVERIFY2(
            lines.at(0).startsWith(QLatin1String("Can't prevent installation where package is Active: ")) &&
                lines.at(0).endsWith(QLatin1String("(task CORE01_1202) is Active")),
            qPrintable(lines.at(0)));
        QVERIFY2(
            lines.at(1).startsWith(QLatin1String("Task CORE01_1208")) &&
                lines.at(1).endsWith(QLatin1String("was not changed: it is no longer in the agent database")),
            qPrintable(lines.at(1)));
        QCOMPARE(agent.dumpAll(), before);
        QCOMPARE(control<QLabel>(form, "StatusPanel2")->text(),
                 QStringLiteral("Stop Install: 0 stopped, 1 refused, 1 not changed"));
        QCOMPARE(model.taskRow(rowOf(model, QStringLiteral("kCORE01_1202"))).database,
                 QStringLiteral("Active"));
    }

    // The row that stands for a missing database cannot be checked, so no action reaches the database.
    void missingDatabaseRowCannotBeChecked() {
        TestAgent agent;
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages);
        QVERIFY(test::load(form));
        TaskListModel& model = *form.taskListModel();
        QCOMPARE(model.taskRow(0).key, QStringLiteral("k1"));
        check(model, QStringLiteral("k1"));
        QVERIFY(!model.isChecked(0));
        messages.shown.clear();
        control<QPushButton>(form, "BtnStop")->click();
        // The missing database is named again, and "Auto" keeps the one look it has while it is missing.
        QCOMPARE(messages.texts(),
                 QStringList({QStringLiteral("You must have, at least, one application checked"),
                              QStringLiteral("Can't find SQLite Database in ") + agent.paths().database()}));
        QVERIFY(!control<QCheckBox>(form, "Check1")->isChecked());
        QVERIFY(!control<QCheckBox>(form, "Check1")->isEnabled());
        QVERIFY(messages.previews.isEmpty());
        QVERIFY(!QFile::exists(agent.paths().database()));
    }

    // Before changing anything the technician sees what will change and what will be refused. Cancel
    // changes nothing and keeps the checks; "Don't ask again" is remembered and can be turned back on.
    void previewBeforeAnAction() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages);
        QVERIFY(test::load(form));
        TaskListModel& model = *form.taskListModel();
        check(model, QStringLiteral("kCORE01_1203")); // Active: refused
        check(model, QStringLiteral("kCORE01_1202"));
        const QStringList original = agent.dumpAll();
        int rebuilds = 0;
        connect(&model, &QAbstractItemModel::modelReset, this, [&] { ++rebuilds; });

        messages.answer = {false, false};
        control<QPushButton>(form, "BtnStop")->click();
        QTRY_COMPARE(messages.previews.size(), 1);
        // Cancelled: the action is over and no read was started that could rebuild the list.
        QVERIFY(!form.session()->isActing());
        QVERIFY(!form.session()->isReading());
        const ActionReport& preview = messages.previews.first();
        QVERIFY(preview.preview);
        QCOMPARE(preview.tasks.size(), 2);
        // In list order: 1202, then 1203.
        QCOMPARE(preview.tasks.at(0).changes,
                 QStringList({QStringLiteral("reschedule policy deleted"),
                              QStringLiteral("invoker state Waiting -> Completed")}));
        QCOMPARE(preview.tasks.at(1).kind, TaskOutcome::Kind::Refused);
        QVERIFY(preview.tasks.at(1).reason.startsWith(
            QLatin1String("Can't prevent installation where package is Active")));
        QCOMPARE(agent.dumpAll(), original);
        QCOMPARE(rebuilds, 0);
        QVERIFY(model.isChecked(rowOf(model, QStringLiteral("kCORE01_1202"))));
        QVERIFY(messages.shown.isEmpty());

        // OK with "Don't ask again": the action does what the preview said.
        messages.answer = {true, true};
        QVERIFY(clickAction(form, QStringLiteral("BtnStop")));
        QCOMPARE(messages.previews.size(), 2);
        QCOMPARE(messages.previews.at(1).tasks, messages.previews.at(0).tasks);
        QCOMPARE(control<QLabel>(form, "StatusPanel2")->text(),
                 QStringLiteral("Stop Install: 1 stopped, 1 refused. Ctrl+Z undoes it"));
        QCOMPARE(model.taskRow(rowOf(model, QStringLiteral("kCORE01_1202"))).database,
                 QStringLiteral("Completed"));
        QVERIFY(!form.session()->askBeforeChanging());

        // Not asked any more, until turned back on from the buttons' context menu.
        check(model, QStringLiteral("kCORE01_1204"));
        QVERIFY(clickAction(form, QStringLiteral("BtnUpdate")));
        QCOMPARE(messages.previews.size(), 2);
        auto* ask = form.findChild<QAction*>(QStringLiteral("AskBeforeChanging"));
        QVERIFY(ask && !ask->isChecked());
        QVERIFY(control<QPushButton>(form, "BtnStop")->actions().contains(ask));
        ask->trigger();
        QVERIFY(form.session()->askBeforeChanging());
        check(model, QStringLiteral("kCORE01_1204"));
        QVERIFY(clickAction(form, QStringLiteral("BtnUpdate")));
        QCOMPARE(messages.previews.size(), 3);
    }

    // The log box follows the log: an append adds lines to the text instead of replacing it, and the box
    // shows what a full read shows, its end in view.
    void logBoxFollowsTheLog() {
        TestAgent agent;
        const QByteArray today = invokerDateKeyBytes();
        QVERIFY(agent.writeInvokerLog("earlier\r\n" + today + " one\r\ntwo, unfinished"));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        QVERIFY(test::load(form));
        form.show();
        auto* text = control<QPlainTextEdit>(form, "Text1");
        QCOMPARE(text->toPlainText(),
                 QStringLiteral("\n") + QLatin1String(today) + QStringLiteral(" one\ntwo, unfinished"));
        text->document()->firstBlock().setUserState(42); // survives only if the text is not rebuilt

        QVERIFY(agent.appendFile(agent.paths().invokerLog(), " and finished\r\nthree\r\n"));
        form.Timer1_Timer();
        QCOMPARE(text->toPlainText(), QStringLiteral("\n") + QLatin1String(today) +
                                          QStringLiteral(" one\ntwo, unfinished and finished\nthree"));
        QCOMPARE(text->document()->firstBlock().userState(), 42);
        QCOMPARE(text->verticalScrollBar()->value(), text->verticalScrollBar()->maximum());

        QVERIFY(agent.writeInvokerLog("replaced\r\n")); // a new file: no line of today
        form.Timer1_Timer();
        QCOMPARE(text->toPlainText(), QString());
    }

    void missingDatabase() {
        TestAgent agent;
        QVERIFY(agent.writeScheduledTasks(
            {{QStringLiteral("55"), QStringLiteral("pending"), QStringLiteral("0")}}));
        const QByteArray today = invokerDateKeyBytes();
        QVERIFY(agent.writeInvokerLog(today + " first\r\n"));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        // Nothing but "Reading..." in the log box while the message is open, before the first read.
        auto* logBox = control<QPlainTextEdit>(form, "Text1");
        QCOMPARE(logBox->toPlainText(), QString());
        QCOMPARE(logBox->placeholderText(), QStringLiteral("Reading..."));
        QVERIFY(test::load(form));
        QCOMPARE(logBox->placeholderText(), QString());

        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown.first().text,
                 QStringLiteral("Can't find SQLite Database in ") + agent.paths().database());
        QCOMPARE(messages.shown.first().title, QStringLiteral("Error"));
        QCOMPARE(messages.shown.first().icon, MessagePresenter::Icon::Critical);
        for (const char* name : {"BtnPortal", "BtnRefresh", "BtnUpdate"})
            QVERIFY2(!control<QPushButton>(form, name)->isEnabled(), name);
        QVERIFY(control<QPushButton>(form, "BtnStop")->isEnabled());
        QVERIFY(!control<QCheckBox>(form, "Check1")->isChecked());
        QVERIFY(!control<QCheckBox>(form, "Check1")->isEnabled());
        QCOMPARE(form.taskListModel()->rowCount(), 2);
        QCOMPARE(form.taskListModel()->taskRow(0).application, QStringLiteral("Can't find SQLite Database"));
        QVERIFY(!QFile::exists(agent.paths().database()));

        // The timer still follows the log, and does not repeat the message.
        QVERIFY(agent.writeInvokerLog(today + " first\r\n" + today + " second\r\n"));
        form.Timer1_Timer();
        QVERIFY(control<QPlainTextEdit>(form, "Text1")->toPlainText().endsWith(QLatin1String("second")));
        QCOMPARE(messages.shown.size(), 1);
    }

    // One row that cannot be read hides no other: the rows after it show, and the first panel names it.
    void unreadableRowsAreNamedAndTheRestShows() {
        TestAgent agent;
        QVERIFY(agent.createDatabase());
        QVERIFY(agent.addOperation({QStringLiteral("SDClientTask.1.xml"), QStringLiteral("2"), {}, {}}));
        QVERIFY(agent.addOperation({QStringLiteral("SDClientTask.2.xml"), QStringLiteral("2"),
                                    QStringLiteral("1"), QStringLiteral("soon")}));
        QVERIFY(
            agent.addOperation({QStringLiteral("other.SDClientTask.1.xml"), QStringLiteral("6"), {}, {}}));
        QVERIFY(agent.addOperation({QStringLiteral("SDClientTask.3.xml"), QStringLiteral("2"), {}, {}}));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        QVERIFY(test::load(form));
        const TaskListModel& model = *form.taskListModel();
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.taskRow(1).key, QStringLiteral("k2"));
        QCOMPARE(model.taskRow(1).reschedule, QStringLiteral("Yes:Policy"));
        QCOMPARE(model.taskRow(1).rescheduleDate, QString());
        QCOMPARE(model.taskRow(2).key, QStringLiteral("k3"));
        const QString notice = control<QLabel>(form, "StatusPanel1")->toolTip(); // the panel may shorten it
        QVERIFY2(notice.contains(QLatin1String("SDClientTask.2.xml")) &&
                     notice.contains(QLatin1String("other.SDClientTask.1.xml")),
                 qPrintable(notice));
        QVERIFY(messages.shown.isEmpty());
    }

    void closingTheMainWindowClosesTheOthers() {
        TestAgent agent;
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        form.show();
        QWidget other;
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        form.close();
        QVERIFY(!other.isVisible());
    }

    // corvanectl's stop and reinstall leave the database exactly as the window's buttons do.
    void commandLineChangesWhatTheWindowChanges_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("button");
        QTest::newRow("stop") << "stop"
                              << "BtnStop";
        QTest::newRow("reinstall") << "reinstall"
                                   << "BtnUpdate";
    }
    void commandLineChangesWhatTheWindowChanges() {
        QFETCH(QString, command);
        QFETCH(QString, button);
        const QStringList tasks = {QStringLiteral("CORE01_1202"), QStringLiteral("CORE01_1203"),
                                   QStringLiteral("CORE01_1204"), QStringLiteral("CORE01_1206")};
        TestAgent byWindow;
        TestAgent byCommand;
        QVERIFY(test::writeDemo(byWindow));
        QVERIFY(test::writeDemo(byCommand));
        const QStringList original = byWindow.dumpAll();
        QCOMPARE(byCommand.dumpAll(), original);

        RecordingPresenter messages;
        Form1 form(byWindow.paths(), messages, kClock);
        QVERIFY(test::load(form));
        for (const QString& task : tasks)
            check(*form.taskListModel(), QLatin1Char('k') + task);
        QVERIFY(clickAction(form, button));

        QProcess ctl;
        ctl.start(QStringLiteral(CORVANECTL_PATH),
                  QStringList{QStringLiteral("--agent-root"), byCommand.root(), command} + tasks);
        QVERIFY(ctl.waitForFinished(30000));
        QCOMPARE(ctl.exitCode(), 1); // 1206 is not a package task and is refused
        QVERIFY(QString::fromUtf8(ctl.readAllStandardError()).contains(QLatin1String("CORE01_1206")));
        QVERIFY(byWindow.dumpAll() != original);
        QCOMPARE(byCommand.dumpAll(), byWindow.dumpAll());
    }

    // A real run against the stand-in synchroniser, with the log window shown: the window keeps serving
    // events, its two sync controls stay off until the very end, and the list is rebuilt afterwards.
    void policySyncWithTheLogShown() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent, quickSync()));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        form.session()->setSyncTiming(quickSyncTiming());
        QVERIFY(test::load(form));
        form.show();
        auto* portal = control<QPushButton>(form, "BtnPortal");
        auto* viewLog = control<QCheckBox>(form, "CheckViewLog");
        auto* status = control<QLabel>(form, "StatusPanel2");
        viewLog->setChecked(true);
        control<QCheckBox>(form, "Check1")->setChecked(false);
        const int rowsBefore = form.taskListModel()->rowCount();

        QStringList statuses;
        int ticksDuringRun = 0;
        bool controlsStayedOff = true;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            if (!form.session()->isSyncRunning())
                return;
            ++ticksDuringRun; // the event loop runs during the sync
            // View Log stays usable, so a closed log window can be opened again.
            controlsStayedOff = controlsStayedOff && !portal->isEnabled() && viewLog->isEnabled();
            if (statuses.isEmpty() || statuses.last() != status->text())
                statuses << status->text();
        });
        watcher.start(10);
        portal->click();
        QVERIFY(form.session()->isSyncRunning());
        QTRY_VERIFY(form.form2()->isVisible()); // once the synchroniser has started
        form.form2()->close();                  // closed by the technician, then wanted again
        QVERIFY(!viewLog->isChecked());
        viewLog->setChecked(true);
        QVERIFY(form.form2()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!form.session()->isSyncRunning(), test::scaledMs(20000));

        QVERIFY(ticksDuringRun > 10);
        QVERIFY(controlsStayedOff);
        QVERIFY(statuses.contains(QStringLiteral("Synchronizing policies...")));
        QCOMPARE(statuses.last(), QStringLiteral("Synchronized: 2 (1 xml downloaded)"));
        QVERIFY(portal->isEnabled() && viewLog->isEnabled());
        QVERIFY(control<QCheckBox>(form, "Check1")->isChecked());
        QTRY_COMPARE(form.taskListModel()->rowCount(), rowsBefore + 1); // the downloaded operation
        // The run's six stamped lines, then its summary.
        const QStringList logLines = form.form2()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(logLines.size(), 7);
        QVERIFY(logLines.at(5).endsWith(QLatin1String("[STOP]")));
        QCOMPARE(logLines.last(), QStringLiteral("Synchronized: 2 (1 xml downloaded)"));
        QVERIFY(messages.shown.isEmpty());
    }

    void policySyncWithTheLogHidden() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent, quickSync()));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        form.session()->setSyncTiming(quickSyncTiming());
        QVERIFY(test::load(form));
        control<QPushButton>(form, "BtnPortal")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!form.session()->isSyncRunning(), test::scaledMs(20000));
        QVERIFY(!form.form2()->isVisible());
        QVERIFY(form.form2()->text().contains(QLatin1String("[STOP]")));
    }

    void policySyncThatCannotStart() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent)); // no synchroniser installed
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        QVERIFY(test::load(form));
        // The technician reads the message while the timer ticks: the list stays as it is under it.
        QSignalSpy resets(form.taskListModel(), &QAbstractItemModel::modelReset);
        int readsStarted = 0;
        messages.whileOpen = [&] {
            form.Timer1_Timer();
            readsStarted += form.session()->isReading();
        };
        control<QPushButton>(form, "BtnPortal")->click();
        QCOMPARE(readsStarted, 0);
        QCOMPARE(resets.size(), 0);
        QVERIFY(!form.session()->isSyncRunning());
        QCOMPARE(messages.shown.size(), 1);
        QVERIFY(messages.shown.first().text.contains(QDir::toNativeSeparators(agent.paths().synchroniser())));
        QVERIFY(control<QPushButton>(form, "BtnPortal")->isEnabled());
        QVERIFY(control<QCheckBox>(form, "CheckViewLog")->isEnabled());
        QVERIFY(control<QPushButton>(form, "BtnStop")->isEnabled());
    }

    void policySyncTimedOutOrAbandoned_data() {
        QTest::addColumn<QKeySequence>("cancelKey"); // empty: the run times out
        QTest::newRow("time-out") << QKeySequence();
        QTest::newRow("Escape") << QKeySequence(Qt::Key_Escape);
        QTest::newRow("Alt+C") << QKeySequence(Qt::ALT | Qt::Key_C);
    }
    void policySyncTimedOutOrAbandoned() {
        QFETCH(QKeySequence, cancelKey);
        const bool abandon = !cancelKey.isEmpty();
        TestAgent agent;
        // Held long enough to be still running at the second click on a slow, busy machine (under Wine).
        QVERIFY(test::writeDemo(agent, quickSync(true, 6000)));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        form.session()->setSyncTiming(quickSyncTiming(abandon ? 60000 : 1000));
        QVERIFY(test::load(form));
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        control<QCheckBox>(form, "Check1")->setChecked(false);
        auto* portal = control<QPushButton>(form, "BtnPortal");
        portal->click();
        auto* cancel = control<QPushButton>(form, "BtnCancelSync");
        QVERIFY(!cancel->isHidden());
        if (abandon) {
            QTest::qWait(500);
            QTest::keySequence(&form, cancelKey); // from the keyboard, wherever the focus is
        }
        QTRY_VERIFY_WITH_TIMEOUT(!form.session()->isSyncRunning(), test::scaledMs(20000));
        QCOMPARE(messages.shown.size(), 1);
        const QString expected = abandon ? QStringLiteral("keeps running") : QStringLiteral("no end line");
        QVERIFY2(messages.shown.first().text.contains(expected), qPrintable(messages.shown.first().text));
        QVERIFY(cancel->isHidden());
        QVERIFY(portal->isEnabled());
        QVERIFY(control<QCheckBox>(form, "Check1")->isChecked());

        // The synchroniser it started still runs: another Policy Sync is refused, offering to follow it.
        portal->click();
        QTRY_COMPARE(messages.offered.size(), 1);
        QVERIFY(!form.session()->isSyncRunning());
        QVERIFY2(messages.offered.last().contains(QLatin1String("already running")),
                 qPrintable(messages.offered.last()));
        QVERIFY(portal->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(control<QWidget>(form, "SyncStatusPanel")->isHidden(),
                                 test::scaledMs(15000));
    }

    // A synchroniser started elsewhere: Policy Sync offers to follow it, and the window follows it with the
    // time in the status bar while the list goes on being read; after Cancel the status bar says it still
    // runs and Follow joins it again; after the run View Log shows that run's lines.
    void policySyncFollowsASynchroniserRunningElsewhere() {
        TestAgent agent;
        fake::SyncOptions options = quickSync();
        options.delayMs = 300;
        QVERIFY(test::writeDemo(agent, options));
        RecordingPresenter messages;
        messages.takeOffer = true;
        Form1 form(agent.paths(), messages, kClock);
        form.session()->setSyncTiming(quickSyncTiming());
        QVERIFY(test::load(form));
        form.show();
        auto* panel = control<QWidget>(form, "SyncStatusPanel");
        auto* panelText = control<QLabel>(form, "SyncStatusText");
        QProcess elsewhere;
        elsewhere.start(agent.paths().synchroniser(), QStringList());
        QVERIFY(elsewhere.waitForStarted());

        control<QPushButton>(form, "BtnPortal")->click();
        QTRY_COMPARE(messages.offered.size(), 1);
        QVERIFY2(messages.offered.first().startsWith(
                     QStringLiteral("A policy synchroniser is already running (process %1, started ")
                         .arg(elsewhere.processId())),
                 qPrintable(messages.offered.first()));
        QTRY_VERIFY(form.session()->isSyncRunning() && !panel->isHidden());
        QVERIFY2(panelText->text().startsWith(QLatin1String("Policy Sync running 0:0")),
                 qPrintable(panelText->text()));
        QSignalSpy reads(&form, &Form1::taskListRead);
        form.Timer1_Timer(); // "Auto" is checked
        QTRY_COMPARE(reads.size(), 1);
        QVERIFY(form.session()->isSyncRunning());

        control<QPushButton>(form, "BtnCancelSync")->click();
        QVERIFY(!form.session()->isSyncRunning());
        QTRY_COMPARE(panelText->text(),
                     QStringLiteral("The policy synchroniser is still running (process %1)")
                         .arg(elsewhere.processId()));
        control<QPushButton>(form, "BtnFollowSync")->click();
        QVERIFY(form.session()->isSyncRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!form.session()->isSyncRunning(), test::scaledMs(20000));
        QVERIFY(elsewhere.state() == QProcess::NotRunning || elsewhere.waitForFinished(10000));
        QTRY_VERIFY(panel->isHidden());

        QVERIFY(!form.form2()->isVisible());
        control<QCheckBox>(form, "CheckViewLog")->setChecked(true);
        QVERIFY(form.form2()->isVisible());
        QVERIFY(form.form2()->text().contains(QLatin1String("[STOP]")));
        QVERIFY(form.form2()->text().contains(QLatin1String(", joined a run in progress")));
    }

    // A synchroniser that fails ends the run at once, with a message that says how it ended.
    void policySyncWhoseSynchroniserFails() {
        TestAgent agent;
        fake::SyncOptions options = quickSync();
        options.failAtOnce = true;
        QVERIFY(test::writeDemo(agent, options));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        form.session()->setSyncTiming(quickSyncTiming(60000));
        QVERIFY(test::load(form));
        QElapsedTimer clock;
        clock.start();
        control<QPushButton>(form, "BtnPortal")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!form.session()->isSyncRunning(), test::scaledMs(20000));
        QVERIFY2(clock.elapsed() < test::scaledMs(5000), qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(messages.shown.size(), 1);
        QVERIFY2(messages.shown.first().text.contains(QLatin1String("status 1")) &&
                     messages.shown.first().text.contains(QLatin1String("cannot reach the core server")),
                 qPrintable(messages.shown.first().text));
        QVERIFY(control<QPushButton>(form, "BtnPortal")->isEnabled());
    }

    // Closing the window mid-run leaves the agent's synchroniser to finish its work.
    void closingTheWindowLeavesTheSynchroniserRunning() {
        TestAgent agent;
        fake::SyncOptions slow = quickSync();
        slow.delayMs = 300; // a run of a few seconds, still at work when the window closes
        QVERIFY(test::writeDemo(agent, slow));
        RecordingPresenter messages;
        auto form = std::make_unique<Form1>(agent.paths(), messages, kClock);
        form->session()->setSyncTiming(quickSyncTiming());
        QVERIFY(test::load(*form));
        form->show();
        auto* status = control<QLabel>(*form, "StatusPanel2");
        // The demo's log holds earlier runs: this run's end line is one more.
        auto endLines = [&] {
            QFile log(agent.paths().syncLog());
            return log.open(QIODevice::ReadOnly) ? log.readAll().count("[STOP]") : 0;
        };
        const qsizetype earlierRuns = endLines();
        control<QPushButton>(*form, "BtnPortal")->click();
        QTRY_COMPARE(status->text(), QStringLiteral("Synchronizing policies..."));
        QVERIFY(!findSynchronisers(agent.paths().synchroniser()).isEmpty());
        QCOMPARE(endLines(), earlierRuns); // still at work when the window closes
        form->close();
        form.reset();
        QTRY_VERIFY_WITH_TIMEOUT(endLines() > earlierRuns, test::scaledMs(15000));
        QVERIFY(messages.shown.isEmpty());
        QVERIFY(test::synchronisersEnded(agent));
    }

    void logWindowFollowsItsSize() {
        Form2 form2;
        form2.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form2));
        auto* text = form2.findChild<QPlainTextEdit*>(QStringLiteral("Text1"));
        QCOMPARE(form2.windowTitle(), QStringLiteral("Policy Sync log"));
        QCOMPARE(text->geometry(), QRect(0, 0, 521, 249));
        form2.resize(form2.width() + 100, form2.height() + 50);
        QTRY_COMPARE(text->geometry(), QRect(0, 0, 621, 299));
        form2.resize(0, 0);
        QTRY_VERIFY(text->width() >= 0 && text->height() >= 0);
        form2.appendLines(LogLines::fromList({QStringLiteral("a: one"), QStringLiteral("b: two")}));
        QCOMPARE(form2.text(), QStringLiteral("a: one\nb: two\n"));
        form2.clearLines();
        QCOMPARE(form2.text(), QString());
    }

    // However much a synchroniser writes, the log window holds its last lines only, the last one in view.
    void logWindowKeepsItsLastLines() {
        Form2 form2;
        form2.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form2));
        QString kept; // the last kSyncLogLines lines: those of the last two batches
        for (int batch = 0; batch < 3; ++batch) {
            LogLines lines;
            for (int i = 0; i < kSyncLogLines / 2; ++i) {
                lines.append(QStringLiteral("x: line %1").arg(batch * kSyncLogLines + i));
                if (batch > 0)
                    kept += lines.last().toString() + QLatin1Char('\n');
            }
            form2.appendLines(lines);
        }
        auto* text = form2.findChild<QPlainTextEdit*>(QStringLiteral("Text1"));
        QTRY_COMPARE(text->document()->blockCount(), kSyncLogLines); // a slice per turn of the event loop
        QTRY_VERIFY(text->toPlainText().endsWith(
            QStringLiteral("x: line %1").arg(2 * kSyncLogLines + kSyncLogLines / 2 - 1)));
        QCOMPARE(text->verticalScrollBar()->value(), text->verticalScrollBar()->maximum());
        QCOMPARE(form2.text(), kept); // none lost, doubled or out of order
    }

private:
    static QByteArray invokerDateKeyBytes() {
        static const char* const months[] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        const QDate today = kClock.today();
        return QByteArray::number(today.day()).rightJustified(2, '0') + ' ' + months[today.month()] + ' ' +
               QByteArray::number(today.year());
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
