// The main window as a day's working tool, offscreen: it remembers its arrangement, keeps the technician's
// place across rebuilds, sorts and filters without moving the actions, copies and exports, explains the
// invoker log, shows a task's details, and answers the keyboard.
#include "ActionHelpers.h"
#include "FixedClock.h"
#include "RecordingPresenter.h"
#include "TaskListHelpers.h"
#include "TestAgent.h"
#include "WindowFixture.h"
#include "agent/ClientDatabase.h"
#include "agent/InvokerLog.h"
#include "agent/TaskTable.h"
#include "base/OffThread.h"
#include "session/MessagePresenter.h"
#include "ui/ActionPreviewDialog.h"
#include "ui/ExportTarget.h"
#include "ui/FindOnWorkstationsDialog.h"
#include "ui/Form1.h"
#include "ui/Form1Controls.h"
#include "ui/Form2.h"
#include "ui/HistoryDialog.h"
#include "ui/InvokerLogBox.h"
#include "ui/LogBox.h"
#include "ui/NoticePanel.h"
#include "ui/SyncStatusPanel.h"
#include "ui/TaskDetailsDialog.h"
#include "ui/TaskListModel.h"
#include "ui/TaskListView.h"
#include "ui/WorkstationTabs.h"
#include "ui/WorkstationView.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QSemaphore>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QStyle>
#include <QTabBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <memory>

using namespace corvane;
using corvane::test::check;
using corvane::test::clickAction;
using corvane::test::FixedClock;
using corvane::test::RecordingPresenter;
using corvane::test::rowOf;
using corvane::test::TestAgent;
using corvane::test::WindowFixture;

namespace {

template <typename T> T* control(const QWidget& form, const char* name) {
    return form.findChild<T*>(QLatin1String(name));
}

// The details of the list's `row`, opened with Enter as a technician would, once its log lines are read;
// nothing when no dialog opened or its log was not read in time.
TaskDetailsDialog* openDetails(Form1& form, int row) {
    TaskListView* view = form.taskListView();
    view->setFocus();
    view->setCurrentIndex(view->model()->index(row, 1));
    QTest::keyClick(view, Qt::Key_Return);
    auto* dialog = form.findChild<TaskDetailsDialog*>();
    if (!dialog || !QTest::qWaitFor([dialog] { return dialog->isLogRead(); }, 5000))
        return nullptr;
    return dialog;
}

using test::kClock;
const QDateTime kNow = kClock.now();

// `count` operations SDClientTask.N.xml, all Completed but those in `active`, which the scheduler runs too;
// each has a package descriptor, so an active one is green.
bool writeLongList(TestAgent& agent, int count, const QList<int>& active) {
    if (!agent.createDatabase())
        return false;
    QString sql = QStringLiteral("BEGIN;");
    for (int i = 0; i < count; ++i) {
        sql += QStringLiteral("INSERT INTO ClientOperations (ClientOperations_IDN, filename) VALUES (%1, "
                              "'SDClientTask.%1.xml');"
                              "INSERT INTO InvokerState (ClientOperations_IDN, state) VALUES (%1, %2);")
                   .arg(i)
                   .arg(active.contains(i) ? 4 : 6);
    }
    if (!agent.execute(sql + QStringLiteral("COMMIT;")))
        return false;
    for (int i = 0; i < count; ++i)
        if (!agent.writeDescriptor(QStringLiteral("SDClientTask.%1.xml").arg(i),
                                   QStringLiteral("Package %1").arg(i)))
            return false;
    QList<fake::ScheduledTask> scheduled;
    for (int i : active)
        scheduled.append({QString::number(i), QStringLiteral("active"), QStringLiteral("0")});
    return agent.writeScheduledTasks(scheduled);
}

bool makeActive(TestAgent& agent, const QList<int>& active) {
    for (int i : active)
        if (!agent.execute(
                QStringLiteral("UPDATE InvokerState SET state = 4 WHERE ClientOperations_IDN = %1;").arg(i)))
            return false;
    QList<fake::ScheduledTask> scheduled;
    for (int i : active)
        scheduled.append({QString::number(i), QStringLiteral("active"), QStringLiteral("0")});
    return agent.writeScheduledTasks(scheduled);
}

QString keyAtTop(const TaskListView& view) {
    const QModelIndex index = view.indexAt(QPoint(1, 1));
    return view.model()->index(index.row(), TaskListModel::kTaskIdColumn).data().toString();
}

bool rowVisible(const TaskListView& view, int proxyRow) {
    return view.viewport()->rect().intersects(view.visualRect(view.model()->index(proxyRow, 1)));
}

// The Menu key as the platform delivers it to the focused list: a keyboard context-menu event at the
// place the list gives for its current item (the offscreen platform sends only the key).
void pressMenuKey(QWidget* focused) {
    const QPoint at = focused->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, at, focused->mapToGlobal(at));
    QApplication::sendEvent(focused, &menuKey);
}

// Opens the row menu with `open` and chooses the entry whose text is `entry`, as the technician would.
// False when no menu opened or it had no such entry.
bool chooseFromRowMenu(const std::function<void()>& open, const QString& entry) {
    bool chosen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        poll.stop();
        for (QAction* action : menu->actions()) {
            if (action->text() == entry && action->isEnabled()) {
                chosen = true;
                menu->close();
                action->trigger();
                return;
            }
        }
        menu->close();
    });
    poll.start(10);
    open();
    return chosen;
}

QByteArray invokerLine(const QString& text) {
    return invokerDateKey(kClock.today()).toLatin1() + " 09:00:00 " + text.toLatin1() + "\r\n";
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void init() { QApplication::clipboard()->clear(); }

    // Another workstation opens in a tab of its own above the list, read only and without Policy Sync;
    // connecting to it again shows its tab, and the name is remembered. A name that is none, or a workstation
    // whose share is missing, says why. Closed, the window is as it was.
    void workstationTabs() {
        test::WindowFixture fixture;
        QVERIFY(fixture.openDemo());
        Form1& form = *fixture.form;
        form.restoreSettings(fixture.settings);
        TestAgent remoteAgent;
        QVERIFY(test::writeDemo(remoteAgent));
        const QString absent = QDir(remoteAgent.root()).filePath(QStringLiteral("absent"));
        form.setWorkstationResolver([&](const QString& typed, Workstation& workstation, QString& error) {
            if (!workstationByName(typed, workstation, error))
                return false;
            workstation.root = workstation.name == QLatin1String("WS0123") ? remoteAgent.root() : absent;
            return true;
        });
        auto* bar = form.findChild<QTabBar*>(QStringLiteral("WorkstationTabBar"));
        QVERIFY(bar && bar->isHidden());

        QVERIFY(!form.connectTo(QStringLiteral("..\\server\\share")));
        QCOMPARE(fixture.messages.shown.size(), 1);
        QSignalSpy read(&form, &Form1::taskListRead);
        QVERIFY(form.connectTo(QStringLiteral("WS0123")));
        QVERIFY(read.wait(20000));
        WorkstationView* remote = form.currentView();
        QVERIFY(remote->session()->isRemote());
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->count(), 2);
        QCOMPARE(form.windowTitle(), QStringLiteral("Corvane - WS0123"));
        QCOMPARE(remote->controls().statusWorkstation->text(), QStringLiteral("WS0123"));
        QVERIFY(form.taskListModel()->rowCount() > 0);
        Form1Controls& ui = remote->controls();
        QVERIFY(!ui.BtnStop->isEnabled() && !ui.BtnUpdate->isEnabled() && !ui.BtnPortal->isEnabled());
        QCOMPARE(ui.BtnPortal->toolTip(), remotePolicySyncReason());
        ui.allowChanges->setChecked(true);
        QVERIFY(ui.BtnStop->isEnabled() && ui.BtnUpdate->isEnabled() && !ui.BtnPortal->isEnabled());

        bar->setCurrentIndex(0);
        QCOMPARE(form.windowTitle(), QStringLiteral("Corvane - This computer"));
        // A task found by "Find on workstations..." opens in its workstation's tab.
        emit form.findOnWorkstations()->openTask(remote->workstation(), QStringLiteral("CORE01_1208"));
        QCOMPARE(bar->count(), 2);
        QCOMPARE(form.currentView(), remote);
        QCOMPARE(form.taskListView()->currentKey(), QStringLiteral("kCORE01_1208"));
        QVERIFY(form.connectTo(QStringLiteral("ws0404")));
        QCOMPARE(bar->count(), 3);
        QTRY_VERIFY(form.currentView()->controls().statusPanel1->notices().contains(
            QDir::toNativeSeparators(absent) + QStringLiteral(": not found")));
        QCOMPARE(form.recentWorkstations(),
                 QStringList({QStringLiteral("ws0404"), QStringLiteral("WS0123")}));
        QCOMPARE(fixture.settings.value(QStringLiteral("workstations/recent")).toStringList(),
                 form.recentWorkstations());

        form.tabs()->close(2);
        form.tabs()->close(1);
        form.tabs()->close(0); // the local machine's stays
        QVERIFY(bar->isHidden());
        QCOMPARE(form.windowTitle(), QStringLiteral("Corvane"));
        QVERIFY(form.currentView()->controls().statusWorkstation->isHidden());
        QVERIFY(!form.session()->isRemote());
    }

    // Geometry, splitter, column widths and order, sort, View Log and the sync log window's place come back
    // from the settings; the window can be maximised with the banner at its width.
    void arrangementIsRemembered() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent));
        QTemporaryDir settingsFolder;
        const QString settingsFile = settingsFolder.filePath(QStringLiteral("corvane.ini"));
        RecordingPresenter messages;
        QList<int> splitterSizes;
        {
            Form1 form(agent.paths(), messages, kClock);
            QVERIFY(test::load(form));
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            form.resize(700, 520);
            control<QSplitter>(form, "Splitter1")->setSizes({300, 150});
            TaskListView* view = form.taskListView();
            view->header()->resizeSection(1, 222);
            view->header()->moveSection(2, 5);
            view->sortByColumn(1, Qt::DescendingOrder);
            control<QCheckBox>(form, "CheckViewLog")->setChecked(true);
            form.form2()->setGeometry(40, 50, 610, 300);
            QCoreApplication::processEvents(); // the window's own resize settles first
            splitterSizes = control<QSplitter>(form, "Splitter1")->sizes();
            QSettings settings(settingsFile, QSettings::IniFormat);
            form.saveSettings(settings);
        }
        QSettings settings(settingsFile, QSettings::IniFormat);
        Form1 form(agent.paths(), messages, kClock);
        form.restoreSettings(settings);
        QVERIFY(test::load(form));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.size(), QSize(700, 520));
        QCOMPARE(control<QSplitter>(form, "Splitter1")->sizes(), splitterSizes);
        QHeaderView* header = form.taskListView()->header();
        QCOMPARE(header->sectionSize(1), 222);
        QCOMPARE(header->visualIndex(2), 5);
        QCOMPARE(header->sortIndicatorSection(), 1);
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(form.taskListView()->model()->index(0, 1).data().toString(),
                 QStringLiteral("Web Browser 128"));
        QVERIFY(control<QCheckBox>(form, "CheckViewLog")->isChecked());
        QCOMPARE(form.form2()->size(), QSize(610, 300));
        QVERIFY(header->isSectionHidden(TaskListModel::kTaskIdColumn));

        form.showMaximized();
        QTRY_VERIFY(form.taskListView()->width() > 617);
        QCOMPARE(control<QLabel>(form, "Picture1")->width(), 112);
        // A column the technician did not size follows the list's width.
        QCOMPARE(header->sectionSize(3), int(form.taskListView()->width() * 0.11));
    }

    // Selection, current row and scroll position are found again by task key after a rebuild; check marks
    // survive Refresh List and a re-ticked Auto, and an action's own rebuild clears them.
    void placeIsKeptAcrossRebuilds() {
        TestAgent agent;
        QVERIFY(writeLongList(agent, 80, {}));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        QVERIFY(test::load(form));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        TaskListView* view = form.taskListView();
        QCOMPARE(view->currentKey(), QStringLiteral("k0")); // the first row is current after a load
        view->sortByColumn(TaskListModel::kTaskIdColumn, Qt::DescendingOrder);
        QAbstractItemModel* shown = view->model();
        view->selectionModel()->select(QItemSelection(shown->index(40, 0), shown->index(42, 0)),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        view->selectionModel()->setCurrentIndex(shown->index(41, 2), QItemSelectionModel::NoUpdate);
        view->scrollTo(shown->index(35, 0), QAbstractItemView::PositionAtTop);
        const QStringList selected = view->selectedKeys();
        QCOMPARE(selected,
                 QStringList({QStringLiteral("k39"), QStringLiteral("k38"), QStringLiteral("k37")}));
        const QString top = keyAtTop(*view);
        QCOMPARE(top, QStringLiteral("44"));

        QVERIFY(test::readAfter(form, [&] { control<QPushButton>(form, "BtnRefresh")->click(); }));
        QCOMPARE(view->selectedKeys(), selected);
        QCOMPARE(view->currentKey(), QStringLiteral("k38"));
        QCOMPARE(view->currentIndex().column(), 2);
        QCOMPARE(keyAtTop(*view), top);

        // Checks: kept by Refresh List and by ticks once Auto is on again; cleared by the action.
        QVERIFY(test::writeDemo(agent));
        QVERIFY(test::load(form));
        TaskListModel& model = *form.taskListModel();
        check(model, QStringLiteral("kCORE01_1202"));
        auto* autoRefresh = control<QCheckBox>(form, "Check1");
        QVERIFY(!autoRefresh->isChecked());
        QVERIFY(test::readAfter(form, [&] { control<QPushButton>(form, "BtnRefresh")->click(); }));
        QVERIFY(model.isChecked(rowOf(model, QStringLiteral("kCORE01_1202"))));
        autoRefresh->setChecked(true);
        QVERIFY(test::readAfter(form, [&] { form.Timer1_Timer(); }));
        const int row = rowOf(model, QStringLiteral("kCORE01_1202"));
        QVERIFY(model.isChecked(row));
        QVERIFY(model.index(row, 1).data(Qt::FontRole).value<QFont>().bold());
        QVERIFY(clickAction(form, QStringLiteral("BtnStop")));
        QCOMPARE(model.taskRow(rowOf(model, QStringLiteral("kCORE01_1202"))).database,
                 QStringLiteral("Completed"));
        for (int i = 0; i < model.rowCount(); ++i)
            QVERIFY(!model.isChecked(i));
    }

    // The list scrolls to the first Active row at the first load and when a task becomes Active, not on
    // every rebuild, and not while the technician has been looking elsewhere for less than 30 s.
    void activeRowScrollRespectsTheTechnician() {
        TestAgent agent;
        QVERIFY(writeLongList(agent, 80, {60}));
        FixedClock clock(kNow);
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, clock);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(test::load(form));
        TaskListView* view = form.taskListView();
        QVERIFY(rowVisible(*view, 60)); // first load

        view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum); // the technician looks up
        QCOMPARE(keyAtTop(*view), QStringLiteral("0"));
        QVERIFY(test::readAfter(form, [&] { form.Timer1_Timer(); }));
        QCOMPARE(keyAtTop(*view), QStringLiteral("0")); // nothing new became Active

        QVERIFY(makeActive(agent, {20, 60}));
        clock.advanceSeconds(10);
        QVERIFY(test::readAfter(form, [&] { form.Timer1_Timer(); }));
        QCOMPARE(keyAtTop(*view), QStringLiteral("0")); // scrolled 10 s ago: left alone
        QVERIFY(!rowVisible(*view, 20));

        QVERIFY(makeActive(agent, {20, 40, 60}));
        clock.advanceSeconds(TaskListView::kKeepPlaceSeconds);
        QVERIFY(test::readAfter(form, [&] { form.Timer1_Timer(); }));
        QVERIFY(rowVisible(*view, 20)); // a task became Active and the technician has been idle

        // The task that became Active, not the first row that was Active all along.
        view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
        QVERIFY(makeActive(agent, {20, 40, 60, 75}));
        clock.advanceSeconds(TaskListView::kKeepPlaceSeconds);
        QVERIFY(test::readAfter(form, [&] { form.Timer1_Timer(); }));
        QVERIFY(rowVisible(*view, 75));
    }

    // Sorted by a header, an action still changes the tasks that were checked, not those that sit at the
    // same positions in the agent's order.
    void sortKeepsActionsOnTheirTasks() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        QVERIFY(test::load(form));
        TaskListView* view = form.taskListView();
        view->sortByColumn(1, Qt::DescendingOrder);
        QAbstractItemModel* shown = view->model();
        QCOMPARE(shown->index(0, 1).data().toString(), QStringLiteral("Web Browser 128"));
        QCOMPARE(shown->index(1, 1).data().toString(), QStringLiteral("VPN Client 5.1"));
        shown->setData(shown->index(0, 0), Qt::Checked, Qt::CheckStateRole);
        shown->setData(shown->index(1, 0), Qt::Checked, Qt::CheckStateRole);
        QVERIFY(clickAction(form, QStringLiteral("BtnUpdate")));

        const TaskListModel& model = *form.taskListModel();
        auto database = [&](const char* key) {
            return model.taskRow(rowOf(model, QLatin1String(key))).database;
        };
        QCOMPARE(database("kCORE01_1210"), QStringLiteral("Resume"));
        QCOMPARE(database("kCORE01_1208"), QStringLiteral("Resume"));
        QCOMPARE(database("kCORE01_1201"),
                 QStringLiteral("Completed")); // first and second in the agent's order
        QCOMPARE(database("kCORE01_1202"), QStringLiteral("Waiting"));
        QCOMPARE(shown->index(0, 1).data().toString(), QStringLiteral("Web Browser 128")); // still sorted

        // Dates sort as dates, task ids as numbers.
        view->sortByColumn(TaskListModel::kTaskIdColumn, Qt::AscendingOrder);
        QCOMPARE(shown->index(shown->rowCount() - 1, TaskListModel::kTaskIdColumn).data().toString(),
                 QStringLiteral("CORE01_1210"));
    }

    void filterKeepsMatchingRows() {
        WindowFixture demo;
        QVERIFY(demo.openDemo());
        Form1& form = *demo.form;
        auto* field = control<QLineEdit>(form, "FilterField");
        QVERIFY(!field->isVisible()); // the window looks as designed until the technician asks
        QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(field->isVisible());
        QTRY_VERIFY(field->hasFocus());
        QTest::keyClicks(field, QStringLiteral("FINANCE"));
        QAbstractItemModel* shown = form.taskListView()->model();
        QCOMPARE(shown->rowCount(), 1);
        QCOMPARE(shown->index(0, 1).data().toString(), QStringLiteral("Finance Suite 2026"));
        QCOMPARE(control<QLabel>(form, "FilterCount")->text(),
                 QStringLiteral("Filter on: 1 of 12 tasks shown"));
        QVERIFY(field->palette().color(QPalette::Base) != QPalette().color(QPalette::Base));

        field->setText(QStringLiteral("1311")); // a task id, even with its column hidden
        QVERIFY(test::readAfter(form, [&] { control<QPushButton>(form, "BtnRefresh")->click(); }));
        QCOMPARE(shown->rowCount(), 1);
        QCOMPARE(shown->index(0, TaskListModel::kTaskIdColumn).data().toString(), QStringLiteral("1311"));

        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(!field->isVisible());
        QCOMPARE(shown->rowCount(), 12);
    }

    // The header menu explains the icons and colours, and where the hidden "Task" column is turned on.
    void headerMenuHasALegend() {
        WindowFixture demo;
        QVERIFY(demo.openDemo());
        QHeaderView* header = demo.form->taskListView()->header();
        QVERIFY(chooseFromRowMenu([&] { emit header->customContextMenuRequested(QPoint(5, 5)); },
                                  QStringLiteral("&Legend...")));
        QCOMPARE(demo.messages.texts().size(), 1);
        for (const char* part : {"Red:", "Green:", "Grey:", "Clock with a green arrow", "\"Task\" column"})
            QVERIFY2(demo.messages.texts().first().contains(QLatin1String(part)), part);
    }

    // The buttons' menu (where the preview is turned back on) opens from the keyboard, and the preview says
    // so where "Don't ask again" is ticked.
    void previewCanBeTurnedBackOnFromTheKeyboard() {
        WindowFixture demo;
        QVERIFY(demo.openDemo());
        auto* stop = control<QPushButton>(*demo.form, "BtnStop");
        auto* ask = demo.form->findChild<QAction*>(QStringLiteral("AskBeforeChanging"));
        const bool before = ask->isChecked();
        stop->setFocus();
        QVERIFY(
            chooseFromRowMenu([&] { QTest::keyClick(stop, Qt::Key_F10, Qt::ShiftModifier); }, ask->text()));
        QCOMPARE(ask->isChecked(), !before);
        QVERIFY(chooseFromRowMenu([&] { QTest::keyClick(stop, Qt::Key_Menu); }, ask->text()));
        QCOMPARE(ask->isChecked(), before);

        ActionPreviewDialog dialog(ActionReport{}, demo.form.get());
        dialog.show();
        auto* note = dialog.findChild<QLabel*>(QStringLiteral("PreviewBackOn"));
        QVERIFY(!note->isVisible());
        dialog.findChild<QCheckBox*>(QStringLiteral("DontAskAgain"))->setChecked(true);
        QVERIFY(note->isVisible() && note->text().contains(QLatin1String("Shift+F10")));
    }

    // The row found with the filter stays current and in view once the filter is off.
    void filterOffKeepsTheFoundRowInView() {
        TestAgent agent;
        QVERIFY(writeLongList(agent, 80, {}));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        QVERIFY(test::load(form));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        TaskListView* view = form.taskListView();
        view->sortByColumn(1, Qt::DescendingOrder);
        QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier);
        auto* field = control<QLineEdit>(form, "FilterField");
        QTest::keyClicks(field, QStringLiteral("Package 20"));
        QCOMPARE(view->model()->rowCount(), 1);
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(view->currentKey(), QStringLiteral("k20"));
        QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Escape);
        QCOMPARE(view->currentKey(), QStringLiteral("k20"));
        QTest::qWait(50);
        QVERIFY(rowVisible(*view, view->currentIndex().row()));
    }

    // However narrow the list, a row's check box and icon show whole; a selected red, green or grey row
    // keeps its colour whether the list has the focus or not.
    void rowsKeepIconsAndColours() {
        WindowFixture demo;
        QVERIFY(demo.openDemo());
        TaskListView* view = demo.form->taskListView();
        view->resize(200, view->height());
        QVERIFY(view->header()->sectionSize(0) >=
                view->style()->pixelMetric(QStyle::PM_IndicatorWidth) + view->iconSize().width());

        view->resize(617, view->height());
        const TaskListModel& model = *demo.form->taskListModel();
        int green = -1;
        for (int row = 0; row < model.rowCount() && green < 0; ++row)
            green = model.taskRow(row).colour == TaskRow::Colour::Green ? row : -1;
        QVERIFY(green >= 0);
        const QModelIndex index = view->model()->index(green, 1);
        view->selectionModel()->select(index,
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        auto greenPixels = [&] {
            const QImage image = view->viewport()->grab(view->visualRect(index)).toImage();
            int count = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QColor pixel = image.pixelColor(x, y);
                    count += pixel.green() > 110 && pixel.red() < 100 && pixel.blue() < 100;
                }
            }
            return count;
        };
        view->setFocus();
        QTRY_VERIFY(view->hasFocus());
        QVERIFY(greenPixels() > 5);
        control<QWidget>(*demo.form, "Text1")->setFocus();
        QTRY_VERIFY(!view->hasFocus());
        QVERIFY(greenPixels() > 5);
    }

    // Long notices end in "..." and say how many there are; the tooltip has them whole.
    void noticesAreShortenedAndCounted() {
        NoticePanel panel(2);
        const QString first =
            QStringLiteral("Can't read the invoker log: ") + QStringLiteral("x").repeated(80);
        const QString second = QStringLiteral("SDClientTask.2.xml can't be read");
        // Room for the second notice whole, whatever the style's font, and not for the first.
        panel.resize(panel.fontMetrics().horizontalAdvance(second) * 2, 20);
        panel.setNotice(0, first);
        QVERIFY2(panel.text().endsWith(QLatin1String("...")) && !panel.text().startsWith(QLatin1String("1 ")),
                 qPrintable(panel.text()));
        panel.setNotice(1, second);
        // How much of the first notice fits depends on the style's font.
        QVERIFY2(panel.text().startsWith(QLatin1String("2 notices: Can't")), qPrintable(panel.text()));
        QVERIFY(panel.fontMetrics().horizontalAdvance(panel.text()) <= panel.contentsRect().width());
        QCOMPARE(panel.toolTip(), first + QLatin1Char('\n') + second);
        panel.setNotice(0, QString());
        QCOMPARE(panel.text(), second);
    }

    // Ctrl+C copies the selected rows with a header line; Export writes the CSV that `corvanectl list --csv`
    // prints.
    void copyAndExport() {
        WindowFixture demo;
        QVERIFY(demo.openDemo());
        Form1& form = *demo.form;
        const TestAgent& agent = demo.agent;
        TaskListView* view = form.taskListView();
        QAbstractItemModel* shown = view->model();
        view->selectionModel()->select(QItemSelection(shown->index(3, 0), shown->index(4, 0)),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        view->setFocus();
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        const QStringList lines = QApplication::clipboard()->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4); // header, two rows, nothing after the last line break
        QCOMPARE(lines.at(0), QStringLiteral("Task\tApplication\tDatabase\tSDClient\tInstall\tReschedule\t"
                                             "Reschedule Date"));
        QVERIFY2(lines.at(1).startsWith(QLatin1String("CORE01_1204\tFinance Suite 2026\tWaiting\tfailed\t")),
                 qPrintable(lines.at(1)));
        QVERIFY(lines.at(2).startsWith(QStringLiteral(
            "CORE01_1205\tGestionnaire de th\u00e8mes \u00e9l\u00e9gants\tResume\tpending\t")));

        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("tasks.csv"));
        QString error;
        QVERIFY2(form.saveShownList(path, error), qPrintable(error));
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QProcess corvanectl;
        corvanectl.start(QStringLiteral(CORVANECTL_PATH), {QStringLiteral("--agent-root"), agent.root(),
                                                           QStringLiteral("list"), QStringLiteral("--csv")});
        QVERIFY(corvanectl.waitForFinished(30000));
        QCOMPARE(corvanectl.exitCode(), 0);
        const QByteArray printed = corvanectl.readAllStandardOutput();
        QCOMPARE(saved.readAll(), printed);
        QVERIFY(
            printed.startsWith("Task,Application,Database,SDClient,Install,Reschedule,Reschedule Date\r\n"));

        QVERIFY(!form.saveShownList(folder.filePath(QStringLiteral("no/such/folder/tasks.csv")), error));
        QVERIFY2(error.contains(QLatin1String("tasks.csv")), qPrintable(error));

        // "Export..." offers the Documents folder, and says where it wrote.
        QCOMPARE(QFileInfo(defaultExportPath()).absolutePath(),
                 QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
        QCOMPARE(exportedText(26, QStringLiteral("/home/tech/tasks.csv")),
                 QStringLiteral("26 rows saved to ") +
                     QDir::toNativeSeparators(QStringLiteral("/home/tech/tasks.csv")));
    }

    // A name longer than a cell shows is whole in the row's tooltip, in the copy and in the export.
    void longNamesAreWholeWhereTheyLeaveTheList() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent));
        const QString longName = QStringLiteral("Suite ").repeated(70) + QStringLiteral("end");
        QVERIFY(agent.writeDescriptor(QStringLiteral("SDClientTask.CORE01_1202.xml"), longName));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages);
        QVERIFY(test::load(form));
        const QAbstractItemModel* shown = form.taskListView()->model();
        const QModelIndex cell = shown->index(1, 1);
        QCOMPARE(cell.data(Qt::ToolTipRole).toString(), longName + QStringLiteral("\nTask: CORE01_1202"));
        QTemporaryDir folder;
        QString error;
        QVERIFY(form.saveShownList(folder.filePath(QStringLiteral("tasks.csv")), error));
        QFile saved(folder.filePath(QStringLiteral("tasks.csv")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll().contains(QStringLiteral("CORE01_1202,%1,").arg(longName).toUtf8()));
        form.taskListView()->selectionModel()->select(cell, QItemSelectionModel::Select |
                                                                QItemSelectionModel::Rows);
        QVERIFY(form.taskListView()->selectedRowsText().contains(longName));
    }

    // A day longer than the box: the box says how many of the day's earlier lines it does not show, and the
    // count grows as the log does.
    void longDaySaysWhatTheBoxLeavesOut() {
        WindowFixture window;
        QByteArray log;
        for (int i = 0; i < kLogBoxLines + 50; ++i)
            log += invokerLine(QStringLiteral("line %1").arg(i));
        QVERIFY(window.agent.writeInvokerLog(log));
        QVERIFY(window.open());
        auto* sign = control<QLabel>(*window.form, "OnlyTaskSign");
        QVERIFY(!sign->isHidden());
        QVERIFY2(sign->text().contains(QLatin1String("50 earlier lines")), qPrintable(sign->text()));
        QVERIFY(
            window.agent.appendFile(window.agent.paths().invokerLog(), invokerLine(QStringLiteral("more"))));
        window.form->Timer1_Timer();
        QVERIFY2(sign->text().contains(QLatin1String("51 earlier lines")), qPrintable(sign->text()));
    }

    // The log box follows the log's end only while the technician is there, stays put when nothing new was
    // written, and does not disturb a selection being made with the mouse.
    void logBoxFollowsOnlyAtTheEnd() {
        TestAgent agent;
        QByteArray log;
        for (int i = 0; i < 200; ++i)
            log += invokerLine(QStringLiteral("line %1").arg(i));
        QVERIFY(agent.writeInvokerLog(log));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        QVERIFY(test::load(form));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* box = control<InvokerLogBox>(form, "Text1");
        QScrollBar* bar = box->verticalScrollBar();
        QCOMPARE(bar->value(), bar->maximum());

        bar->setValue(20); // the technician reads further up
        form.Timer1_Timer();
        QCOMPARE(bar->value(), 20); // nothing new: no jump
        QVERIFY(agent.appendFile(agent.paths().invokerLog(), invokerLine(QStringLiteral("line 200"))));
        form.Timer1_Timer();
        QVERIFY(box->toPlainText().endsWith(QLatin1String("line 200")));
        QCOMPARE(bar->value(), 20);

        bar->setValue(bar->maximum());
        QVERIFY(agent.appendFile(agent.paths().invokerLog(), invokerLine(QStringLiteral("line 201"))));
        form.Timer1_Timer();
        QCOMPARE(bar->value(), bar->maximum());

        // A selection in progress: the update waits for the mouse button.
        const QPoint inside = box->viewport()->rect().center();
        QTest::mousePress(box->viewport(), Qt::LeftButton, Qt::NoModifier, inside);
        QVERIFY(agent.writeInvokerLog(invokerLine(QStringLiteral("a new file"))));
        form.Timer1_Timer();
        QVERIFY(box->toPlainText().contains(QLatin1String("line 201")));
        QTest::mouseRelease(box->viewport(), Qt::LeftButton, Qt::NoModifier, inside);
        QVERIFY(box->toPlainText().endsWith(QLatin1String("a new file")));
        QVERIFY(!box->toPlainText().contains(QLatin1String("line 201")));

        QVERIFY(QFile::remove(agent.paths().invokerLog()));
        form.Timer1_Timer();
        QCOMPARE(box->toPlainText(), QStringLiteral("Can't find log file: ") +
                                         QDir::toNativeSeparators(agent.paths().invokerLog()));
    }

    // A burst of thousands of lines goes into the box over several turns of the event loop: an update that
    // comes meanwhile (an unfinished line finished, a log replaced) still leaves what one read would show,
    // the end in view and the failures coloured.
    void burstGoesInBySlices() {
        InvokerLogBox box;
        box.setMaximumBlockCount(kLogBoxLines);
        box.resize(600, 200);
        box.show();
        InvokerLogUpdate update;
        update.kind = InvokerLogUpdate::Kind::Replaced;
        update.lines = LogLines::fromList({QStringLiteral("first")});
        box.showUpdate(update, QStringLiteral("unused"));
        update.kind = InvokerLogUpdate::Kind::Appended;
        update.lines.clear();
        for (int i = 0; i < 3 * LogBoxFeed::kSliceLines - 1; ++i)
            update.lines.append(QStringLiteral("line %1").arg(i));
        update.lines.append(u"unfini");
        box.showUpdate(update, QStringLiteral("unused"));
        QVERIFY(box.document()->blockCount() < 3 * LogBoxFeed::kSliceLines); // the rest still to come
        update.dropLastShown = true;
        update.lines =
            LogLines::fromList({QStringLiteral("unfinished, then failed"), QStringLiteral("last")});
        box.showUpdate(update, QStringLiteral("unused"));
        QTRY_VERIFY(box.toPlainText().endsWith(
            QStringLiteral("\nline %1\nunfinished, then failed\nlast").arg(3 * LogBoxFeed::kSliceLines - 2)));
        QCOMPARE(box.document()->blockCount(), 2 + 3 * LogBoxFeed::kSliceLines + 1);
        QVERIFY(box.toPlainText().startsWith(QLatin1String("\nfirst\nline 0\n")));
        QCOMPARE(box.verticalScrollBar()->value(), box.verticalScrollBar()->maximum());
        const QTextBlock failed = box.document()->lastBlock().previous();
        QCOMPARE(failed.layout()->formats().size(), 1);
        QVERIFY(box.document()->lastBlock().layout()->formats().isEmpty());

        update.lines.clear();
        for (int i = 0; i < kLogBoxLines + 5; ++i)
            update.lines.append(QStringLiteral("more %1").arg(i));
        box.showUpdate(update, QStringLiteral("unused"));
        update.kind = InvokerLogUpdate::Kind::Replaced;
        update.lines = LogLines::fromList({QStringLiteral("a new log")});
        box.showUpdate(update, QStringLiteral("unused"));
        QTest::qWait(50);
        QCOMPARE(box.toPlainText(), QStringLiteral("\na new log"));
    }

    // A full box without colours takes the lines it drops and those it gains in one change: its text is the
    // last lines in order, and the view stays at the end, or where the technician scrolled.
    void fullBoxKeepsItsPlace() {
        QPlainTextEdit box;
        box.setMaximumBlockCount(100);
        box.setLineWrapMode(QPlainTextEdit::NoWrap);
        box.resize(300, 150);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        int next = 0;
        const auto more = [&](int count) {
            LogLines lines;
            for (int i = 0; i < count; ++i)
                lines.append(QStringLiteral("line %1").arg(next++));
            appendToLogBox(box, lines, LogBoxEdit::Whole);
        };
        const auto linesFrom = [&](int first) {
            QStringList lines;
            for (int i = first; i < next; ++i)
                lines << QStringLiteral("line %1").arg(i);
            return lines.join(QLatin1Char('\n'));
        };
        QScrollBar* bar = box.verticalScrollBar();
        more(100);
        bar->setValue(bar->maximum());
        more(10);
        QCOMPARE(box.toPlainText(), linesFrom(10));
        QCOMPARE(bar->value(), bar->maximum());
        bar->setValue(20);
        more(30);
        QCOMPARE(box.toPlainText(), linesFrom(40));
        QCOMPARE(bar->value(), 20);
    }

    // Painting never waits for the program's own work: this Qt spreads a large fill over the threads of its
    // global pool and waits for them, which a read waiting out a database lock could hold.
    void paintingDoesNotWaitForWorkers() {
        QObject receiver;
        QSemaphore release;
        int ended = 0;
        const int workers = QThread::idealThreadCount();
        for (int i = 0; i < workers; ++i)
            runOffThread(
                &receiver, [&release] { return release.tryAcquire(1, 3000); }, [&ended](bool) { ++ended; });
        QElapsedTimer clock;
        clock.start();
        QImage image(200, 2000, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        painter.fillRect(image.rect(), QColor(0, 0, 0, 128)); // blended row by row
        painter.end();
        const qint64 painted = clock.elapsed();
        release.release(workers);
        QTRY_COMPARE(ended, workers);
        QVERIFY2(painted < 1000, qPrintable(QStringLiteral("%1 ms").arg(painted)));
    }

    void exitCodesAndColours_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QColor>("colour");
        const QColor plain;
        const QColor error(200, 0, 0);
        QTest::newRow("0") << "Install finished, return code 0"
                           << "0 = ERROR_SUCCESS" << plain;
        QTest::newRow("1602") << "return code 1602"
                              << "1602 = ERROR_INSTALL_USEREXIT" << error;
        QTest::newRow("1603") << "    return code 1603, see the package log"
                              << "1603 = ERROR_INSTALL_FAILURE" << error;
        QTest::newRow("1605") << "Exit code: 1605"
                              << "1605 = ERROR_UNKNOWN_PRODUCT" << error;
        QTest::newRow("1618") << "msiexec returned 1618"
                              << "1618 = ERROR_INSTALL_ALREADY_RUNNING" << error;
        QTest::newRow("1619") << "return code 1619"
                              << "1619 = ERROR_INSTALL_PACKAGE_OPEN_FAILED" << error;
        QTest::newRow("1620") << "return code 1620"
                              << "1620 = ERROR_INSTALL_PACKAGE_INVALID" << error;
        QTest::newRow("1638") << "RETURN CODE 1638"
                              << "1638 = ERROR_PRODUCT_VERSION" << error;
        QTest::newRow("1641") << "return code 1641"
                              << "1641 = ERROR_SUCCESS_REBOOT_INITIATED" << plain;
        QTest::newRow("3010") << "return code 3010"
                              << "3010 = ERROR_SUCCESS_REBOOT_REQUIRED" << plain;
        QTest::newRow("hexadecimal") << "return code 0x80070643"
                                     << "0x80070643 = ERROR_INSTALL_FAILURE" << error;
        QTest::newRow("access denied") << "return code 0x80070005"
                                       << "0x80070005 = ERROR_ACCESS_DENIED" << error;
        QTest::newRow("negative") << "exit code -2147023293"
                                  << "-2147023293 = ERROR_INSTALL_FAILURE" << error;
#ifdef Q_OS_WIN
        // A code the table lacks is explained in the system's words (ERROR_SHARING_VIOLATION).
        QTest::newRow("from the system") << "return code 0x80070020"
                                         << "0x80070020 = " << error;
#endif
        QTest::newRow("failure") << "SDClientTask.1.xml failed, error reschedule"
                                 << "" << error;
        QTest::newRow("warning") << "Warning: disk almost full"
                                 << "" << QColor(176, 96, 0);
        QTest::newRow("no code") << "Waiting for the next run, 1603 policies"
                                 << "" << plain;
    }

    // Installer exit codes explain themselves in a tooltip; failures and warnings are coloured.
    void exitCodesAndColours() {
        QFETCH(QString, line);
        QFETCH(QString, tip);
        QFETCH(QColor, colour);
        InvokerLogBox box;
        box.resize(600, 200);
        box.show();
        InvokerLogUpdate update;
        update.kind = InvokerLogUpdate::Kind::Replaced;
        update.lines = LogLines::fromList({QStringLiteral("first"), line});
        box.showUpdate(update, QStringLiteral("unused"));
        QCoreApplication::processEvents(); // the colours are applied once the event loop has run
        const QTextBlock block = box.document()->lastBlock();
        QCOMPARE(block.text(), line);
        const QPoint onLine = box.cursorRect(QTextCursor(block)).center();
        const QString shownTip = box.exitCodeToolTipAt(onLine);
        if (tip.isEmpty())
            QCOMPARE(shownTip, QString());
        else
            QVERIFY2(shownTip.startsWith(tip) && shownTip.size() > tip.size() + 8, qPrintable(shownTip));
        const QList<QTextLayout::FormatRange> formats = block.layout()->formats();
        if (!colour.isValid()) {
            QVERIFY(formats.isEmpty());
        } else {
            QCOMPARE(formats.size(), 1);
            QCOMPARE(formats.first().format.foreground().color(), colour);
        }
    }

    // "Only this task" shows the lines naming the task's operation file, follows the current row, and shows
    // every line again on request.
    void onlyThisTaskInTheLog() {
        WindowFixture demo;
        QVERIFY(demo.openDemo());
        Form1& form = *demo.form;
        auto* box = control<InvokerLogBox>(form, "Text1");
        const QString everything = box->toPlainText();
        TaskListView* view = form.taskListView();
        emit view->onlyThisTaskRequested(QStringLiteral("kCORE01_1204"));
        QCOMPARE(box->toPlainText().count(QLatin1Char('\n')),
                 2); // the failure and the indented line under it
        QVERIFY(box->toPlainText().contains(QLatin1String("SDClientTask.CORE01_1204.xml failed")));
        QVERIFY(box->toPlainText().endsWith(QLatin1String("return code 1603, see the package log")));
        QVERIFY(control<QLabel>(form, "OnlyTaskSign")->isVisible());

        view->setCurrentIndex(view->model()->index(2, 0)); // task 1203
        QVERIFY(box->toPlainText().contains(QLatin1String("SDClientTask.CORE01_1203.xml is active")));
        QVERIFY(!box->toPlainText().contains(QLatin1String("1204")));

        box->setOnlyTask(QString(), QString());
        QCOMPARE(box->toPlainText(), everything);
        QVERIFY(!control<QLabel>(form, "OnlyTaskSign")->isVisible());
    }

    // Ctrl+F in the log box searches it: every match highlighted, Enter and Shift+Enter go round them.
    void ctrlFSearchesTheLogBox() {
        WindowFixture demo;
        QVERIFY(demo.openDemo());
        Form1& form = *demo.form;
        auto* box = control<InvokerLogBox>(form, "Text1");
        QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier); // the window's first focus: the filter
        QVERIFY(control<QLineEdit>(form, "FilterField")->isVisible());
        QTest::keyClick(control<QLineEdit>(form, "FilterField"), Qt::Key_Escape);
        QTest::mouseClick(box->viewport(), Qt::LeftButton); // the technician chooses the log box
        QTRY_VERIFY(box->hasFocus());
        QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier);
        auto* field = control<QLineEdit>(form, "LogSearchField");
        QVERIFY(field->isVisible());
        QVERIFY(!control<QLineEdit>(form, "FilterField")->isVisible());
        const QString text = QStringLiteral("policy.client.invoker");
        box->moveCursor(QTextCursor::Start);
        QTest::keyClicks(field, text);
        const int matches = int(box->toPlainText().count(text));
        QVERIFY(matches > 1);
        QCOMPARE(box->extraSelections().size(), matches);
        QCOMPARE(control<QLabel>(form, "LogSearchCount")->text(), QStringLiteral("%1 matches").arg(matches));
        const int first = box->textCursor().selectionStart();
        QCOMPARE(box->textCursor().selectedText(), text);
        QTest::keyClick(field, Qt::Key_Return);
        // Enter goes on to another match, Shift+Enter back to the one before.
        QTest::keyClick(field, Qt::Key_Return);
        const int next = box->textCursor().selectionStart();
        QVERIFY(next != first);
        QCOMPARE(box->textCursor().selectedText(), text);
        QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
        QVERIFY(box->textCursor().selectionStart() < next);
        QCOMPARE(box->textCursor().selectedText(), text);
        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(!field->isVisible());
        QVERIFY(box->extraSelections().isEmpty());

        // From the lines in view: a box that follows the log has its cursor at the top, yet the first match
        // is the one the technician sees, not one far above.
        QStringList lines(400, QStringLiteral("filler"));
        lines.first() = lines.last() = QStringLiteral("needle");
        box->setPlainText(lines.join(QLatin1Char('\n')));
        box->moveCursor(QTextCursor::Start);
        box->verticalScrollBar()->setValue(box->verticalScrollBar()->maximum());
        QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(field, QStringLiteral("needle"));
        QCOMPARE(box->textCursor().blockNumber(), 399);
    }

    // Details, from Enter on the current row: the task's fields and every log line of every day naming its
    // operation file.
    void detailsOfATask() {
        WindowFixture demo;
        QVERIFY(demo.openDemo());
        Form1& form = *demo.form;
        const TestAgent& agent = demo.agent;
        TaskDetailsDialog* dialog = openDetails(form, 0); // task 1201, named yesterday only
        QVERIFY(dialog);
        QVERIFY2(dialog->logText().contains(QLatin1String("SDClientTask.CORE01_1201.xml completed")),
                 qPrintable(dialog->logText()));
        QCOMPARE(dialog->logText().count(QLatin1Char('\n')), 0);
        QStringList values;
        for (const QLineEdit* field : dialog->findChildren<QLineEdit*>())
            values << field->accessibleName() + QLatin1Char('=') + field->text();
        QVERIFY2(values.contains(QStringLiteral("Task id:=CORE01_1201")),
                 qPrintable(values.join(QLatin1Char('|'))));
        QVERIFY(values.contains(QStringLiteral("Operation file:=SDClientTask.CORE01_1201.xml")));
        QVERIFY(values.contains(QStringLiteral("Invoker state:=6 (Completed)")));
        QVERIFY(values.contains(QStringLiteral("Scheduler state:=completed")));
        QVERIFY(values.contains(QStringLiteral("Package name:=Office Tools 2 (package)")));
        QVERIFY(values.contains(QStringLiteral("Descriptor:=") +
                                QDir::toNativeSeparators(agent.paths().descriptor(
                                    QStringLiteral("SDClientTask.CORE01_1201.xml")))));
    }

    // A package name of megabytes: the details open at once and show it cut, as the list does.
    void detailsOfAHugeName() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent));
        const QString huge(20'000'000, QLatin1Char('n'));
        QVERIFY(agent.writeDescriptor(QStringLiteral("SDClientTask.CORE01_1201.xml"), huge));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, kClock);
        QVERIFY(test::load(form));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QElapsedTimer timer;
        timer.start();
        TaskDetailsDialog* dialog = openDetails(form, 0);
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QVERIFY2(timer.elapsed() < test::scaledMs(3000), qPrintable(QString::number(timer.elapsed())));
        for (const QLineEdit* field : dialog->findChildren<QLineEdit*>()) {
            QVERIFY2(field->text().size() < 5000, qPrintable(field->accessibleName()));
            if (field->accessibleName() == QLatin1String("Package name:"))
                QVERIFY2(field->text().contains(QLatin1String(" more characters]")),
                         qPrintable(field->text()));
        }
    }

    // The same name in an action: the preview opens at once, and the refusal's message names it cut.
    void previewOfAHugeName() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent));
        const QString huge(20'000'000, QLatin1Char('n'));
        const QList<ActionTarget> targets{
            {QStringLiteral("CORE01_1203"), huge, std::nullopt}, // Active: refused
            {QStringLiteral("CORE01_1202"), huge, std::nullopt}};
        TaskTable table;
        LoadResult result;
        QString error;
        loadOperations(table, agent.paths().database(), kLoadOperationsQuery, result, error);
        QList<CheckedRow> rows;
        for (const ActionTarget& target : targets)
            rows.append({QLatin1Char('k') + target.taskId, true, target.packageName});
        const ActionReport preview =
            planAction(TaskAction::StopInstall, checkedTargets(rows, table), agent.paths().database());
        QCOMPARE(preview.summary(), QStringLiteral("Stop Install: 1 to stop, 1 refused"));
        QVERIFY2(preview.problems().size() < 1000, qPrintable(preview.problems().left(1000)));

        QElapsedTimer timer;
        timer.start();
        ActionPreviewDialog dialog(preview);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY2(timer.elapsed() < test::scaledMs(3000), qPrintable(QString::number(timer.elapsed())));
        auto* tasks = dialog.findChild<QTreeWidget*>(QStringLiteral("PreviewTasks"));
        QCOMPARE(tasks->topLevelItemCount(), 2);
        for (int column = 0; column < 3; ++column)
            QVERIFY(tasks->topLevelItem(0)->text(column).size() < 1000);
    }

    // F5 refreshes, the status panel says when the list was read, every row names its task, and the sync log
    // window opens beside the main window and closes with Escape.
    // Whatever opens the row menu (the Menu key, Shift+F10, a right click), it acts on that row, and the
    // selection and the current row stay where they are.
    void rowMenuIsItsRowsWhateverOpensIt() {
        WindowFixture window;
        QVERIFY(window.openDemo());
        TaskListView* view = window.form->taskListView();
        view->setFocus();
        const QModelIndex current = view->model()->index(4, 1);
        view->setCurrentIndex(current);
        const QString key = view->currentKey();
        const QStringList selected = view->selectedKeys();
        const auto copiedId = [&](const std::function<void()>& open) {
            QApplication::clipboard()->clear();
            if (!chooseFromRowMenu(open, QStringLiteral("Copy task &id")))
                return QStringLiteral("no menu");
            return QApplication::clipboard()->text();
        };
        QCOMPARE(copiedId([&] { pressMenuKey(view); }), key.mid(1));
        QCOMPARE(copiedId([&] { QTest::keyClick(view, Qt::Key_F10, Qt::ShiftModifier); }), key.mid(1));
        const QModelIndex other = view->model()->index(1, 1);
        const QPoint at = view->visualRect(other).center();
        QCOMPARE(copiedId([&] {
                     QContextMenuEvent click(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
                     QApplication::sendEvent(view->viewport(), &click);
                 }),
                 view->model()->index(1, TaskListModel::kTaskIdColumn).data().toString());
        QCOMPARE(view->currentKey(), key);
        QCOMPARE(view->selectedKeys(), selected);
    }

    // A row-menu action cancelled in its preview leaves no tick and "Auto" as it was; a click that changed
    // nothing keeps the ticks for another try; a wait for the agent's lock shows.
    void actionsLeaveNothingUnaskedAndSayWhenTheyWait() {
        WindowFixture window;
        QVERIFY(window.openDemo());
        Form1& form = *window.form;
        TaskListModel& model = *form.taskListModel();
        TaskListView* view = form.taskListView();
        auto* autoRefresh = control<QCheckBox>(form, "Check1");
        QVERIFY(autoRefresh->isChecked());
        window.messages.answer = {false, false, false};
        view->setFocus();
        view->setCurrentIndex(view->model()->index(1, 1));
        const int row = model.rowOfKey(view->currentKey());
        QVERIFY(chooseFromRowMenu([&] { pressMenuKey(view); }, QStringLiteral("S&top Install")));
        QTRY_COMPARE(window.messages.previews.size(), 1);
        QTRY_VERIFY(!model.isChecked(row));
        QVERIFY(autoRefresh->isChecked());

        window.messages.answer = {};
        check(model, QStringLiteral("kCORE01_1203")); // Active: refused
        QVERIFY(clickAction(form, QStringLiteral("BtnStop")));
        QVERIFY(model.isChecked(rowOf(model, QStringLiteral("kCORE01_1203"))));

        check(model, QStringLiteral("kCORE01_1202"));
        const test::DatabaseLock lock(window.agent);
        QVERIFY(lock.isHeld());
        auto* status = control<QLabel>(form, "StatusPanel2");
        control<QPushButton>(form, "BtnStop")->click();
        QTRY_COMPARE(status->text(),
                     QStringLiteral("Waiting for the agent database (another program holds it)..."));
        QVERIFY(QGuiApplication::overrideCursor() &&
                QGuiApplication::overrideCursor()->shape() == Qt::BusyCursor);
        QTRY_VERIFY_WITH_TIMEOUT(window.messages.previews.size() == 3, test::scaledMs(10000));
        QVERIFY(window.messages.previews.last().anyUnread());
        QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QLatin1String("Stop Install:")),
                                 test::scaledMs(15000));
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    // A change is journaled and offered for undo: Ctrl+Z takes it back through the preview, and the history
    // lists both, with the task's own entries in its details.
    void ctrlZUndoesTheLastAction() {
        WindowFixture window;
        QVERIFY(window.openDemo());
        Form1& form = *window.form;
        TaskListModel& model = *form.taskListModel();
        const QStringList before = window.agent.dumpAll();
        check(model, QStringLiteral("kCORE01_1202"));
        QVERIFY(clickAction(form, QStringLiteral("BtnStop")));
        auto* status = control<QLabel>(form, "StatusPanel2");
        QCOMPARE(status->text(), QStringLiteral("Stop Install: 1 stopped. Ctrl+Z undoes it"));
        QVERIFY(window.agent.dumpAll() != before);

        form.setStatus(QString());
        QTest::keyClick(&form, Qt::Key_Z, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QLatin1String("Undo:")), test::scaledMs(20000));
        QCOMPARE(status->text(), QStringLiteral("Undo: 1 undone"));
        QCOMPARE(window.messages.previews.last().action, TaskAction::Undo);
        QCOMPARE(window.agent.dumpAll(), before);

        QTest::keyClick(&form, Qt::Key_H, Qt::ControlModifier);
        auto* history = form.findChild<HistoryDialog*>();
        QVERIFY(history && QTest::qWaitFor([history] { return history->isRead(); }, 5000));
        const QStringList lines = history->shownText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines.at(1).contains(QLatin1String("\tUndo\tCORE01_1202\t")), qPrintable(lines.at(1)));
        QVERIFY2(lines.at(2).endsWith(QLatin1String("\tundone")), qPrintable(lines.at(2)));
    }

    void keyboardStatusAndSyncLogWindow() {
        TestAgent agent;
        QVERIFY(test::writeDemo(agent));
        FixedClock clock(QDateTime(kClock.today(), QTime(14, 2, 31)));
        RecordingPresenter messages;
        Form1 form(agent.paths(), messages, clock);
        QVERIFY(test::load(form));
        form.move(0, 0);
        form.resize(400, 300);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(control<QLabel>(form, "StatusPanelUpdated")->text(), QStringLiteral("Updated 14:02:31"));
        int resets = 0;
        connect(form.taskListModel(), &QAbstractItemModel::modelReset, this, [&] { ++resets; });
        clock.advanceSeconds(5);
        QVERIFY(test::readAfter(form, [&] { QTest::keyClick(&form, Qt::Key_F5); }));
        QCOMPARE(resets, 1);
        QCOMPARE(control<QLabel>(form, "StatusPanelUpdated")->text(), QStringLiteral("Updated 14:02:36"));
        QCOMPARE(control<QPushButton>(form, "BtnStop")->text(), QStringLiteral("S&top Install"));
        QCOMPARE(control<QPushButton>(form, "BtnStop")->accessibleName(), QStringLiteral("Stop Install"));

        const QAbstractItemModel* shown = form.taskListView()->model();
        QCOMPARE(shown->index(3, 4).data(Qt::ToolTipRole).toString(),
                 shown->index(3, 4).data().toString() + QStringLiteral("\nTask: CORE01_1204"));
        QCOMPARE(shown->headerData(0, Qt::Horizontal, Qt::AccessibleTextRole).toString(),
                 QStringLiteral("Checked and kind"));

        Form2* log = form.form2();
        auto* viewLog = control<QCheckBox>(form, "CheckViewLog");
        viewLog->setChecked(true);
        QVERIFY(QTest::qWaitForWindowExposed(log));
        QVERIFY(!log->frameGeometry().intersects(form.frameGeometry()));
        QVERIFY(log->width() >= 360);
        QTest::keyClick(log, Qt::Key_Escape);
        QVERIFY(!log->isVisible());
        QVERIFY(!viewLog->isChecked()); // the tick says what is on the screen
    }

    // The agent's program folder moves to "Program Files (x86)": the status bar looks for a synchroniser
    // left running at its new place.
    void syncPanelFollowsTheAgentFolder() {
        test::WindowFixture fixture;
        QVERIFY(fixture.openDemo());
        const QString programFiles =
            AgentPaths::belowRoot(fixture.agent.root(), QStringLiteral("C:\\Program Files"));
        QVERIFY(QDir().rename(programFiles, programFiles + QStringLiteral(" (x86)")));
        fixture.form->Timer1_Timer();
        auto* panel = fixture.form->findChild<SyncStatusPanel*>(QStringLiteral("SyncStatusPanel"));
        QTRY_VERIFY(panel->synchroniserPath().startsWith(programFiles + QStringLiteral(" (x86)")));
    }

    // In either style the sync panel's buttons fit the status bar whole, every window has the main window's
    // font, and a geometry saved on a larger screen is brought onto this one.
    void fitsItsBarAndItsScreen_data() {
        QTest::addColumn<QString>("style");
        QTest::newRow("Fusion") << "Fusion";
        QTest::newRow("Windows") << "Windows";
    }
    void fitsItsBarAndItsScreen() {
        QFETCH(QString, style);
        const QString before = QApplication::style()->name();
        QApplication::setStyle(style);
        const auto restoreStyle = qScopeGuard([&] { QApplication::setStyle(before); });
        WindowFixture demo;
        QVERIFY(demo.openDemo());
        Form1& form = *demo.form;
        QMessageBox box;
        QCOMPARE(QFontInfo(box.font()).family(), QFontInfo(form.font()).family());
        QCOMPARE(box.font().pointSizeF(), form.font().pointSizeF());

        form.findChild<SyncStatusPanel*>()->showRun(0);
        auto* cancel = control<QPushButton>(form, "BtnCancelSync");
        auto* bar = control<QWidget>(form, "StatusBar1");
        QTRY_VERIFY(cancel->isVisible() && cancel->width() > 0);
        QVERIFY(bar->rect().contains(QRect(cancel->mapTo(bar, QPoint(0, 0)), cancel->size())));
        const int frame = cancel->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, cancel);
        QVERIFY(cancel->height() - 2 * frame >= cancel->fontMetrics().height()); // a whole line inside
        QVERIFY(cancel->width() >= cancel->fontMetrics().horizontalAdvance(QStringLiteral("Cancel")));

        QTemporaryDir folder;
        QSettings settings(folder.filePath(QStringLiteral("corvane.ini")), QSettings::IniFormat);
        const QRect screen = form.screen()->availableGeometry();
        form.setGeometry(QRect(screen.topLeft() + QPoint(100, 100), screen.size() * 2));
        form.saveSettings(settings);
        Form1 other(demo.agent.paths(), demo.messages, kClock);
        other.restoreSettings(settings);
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        QVERIFY2(screen.contains(other.frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(other.frameGeometry().x())
                                .arg(other.frameGeometry().y())
                                .arg(other.frameGeometry().width())
                                .arg(other.frameGeometry().height())));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
