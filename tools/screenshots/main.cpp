// corvane-screenshots: the window on the simulated agent, saved as the pictures of the README.
//   corvane-screenshots OUTDIR [SUFFIX]
// Run it under a display (Xvfb will do); QT_SCALE_FACTOR=2 gives the 200 % pictures.
#include "AgentTree.h"
#include "actions/Undo.h"
#include "session/AgentSession.h"
#include "session/MessagePresenter.h"
#include "tasklist/Feedback.h"
#include "ui/ActionPreviewDialog.h"
#include "ui/Form1.h"
#include "ui/HistoryDialog.h"
#include "ui/LogSearchBar.h"
#include "ui/SyncStatusPanel.h"
#include "ui/TaskDetailsDialog.h"
#include "ui/TaskFilterBar.h"
#include "ui/TaskListModel.h"
#include "ui/TaskListView.h"
#include "ui/WorkstationView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextStream>

using namespace corvane;

namespace {

class QuietPresenter : public MessagePresenter {
public:
    void show(const QString&, const QString&, Icon) override {}
};

class QuietFeedback : public Feedback {
public:
    void setStatus(const QString&) override {}
};

void settle(int ms = 300) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool save(QWidget& widget, const QString& path) {
    settle();
    const bool saved = widget.grab().save(path);
    QTextStream(stdout) << (saved ? "saved " : "could not save ") << path << Qt::endl;
    return saved;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2) {
        QTextStream(stderr) << "usage: corvane-screenshots OUTDIR [SUFFIX]" << Qt::endl;
        return 2;
    }
    const QDir out(args.at(1));
    const QString suffix = args.value(2);
    QTemporaryDir root;
    QString error;
    if (!fake::writeDemoAgent(root.path(), QDateTime::currentDateTime(), error)) {
        QTextStream(stderr) << error << Qt::endl;
        return 1;
    }
    QuietPresenter messages;
    Form1 form(fake::AgentTree(root.path()).paths(), messages);
    form.Form_Load();
    QElapsedTimer loading;
    loading.start();
    while (form.taskListModel()->rowCount() == 0 && loading.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 20); // the list is read off the interface thread
    bool ok = true;

    // Maximised, two package rows checked, the Task column shown.
    form.showMaximized();
    settle(500);
    if (form.size().width() < form.screen()->availableGeometry().width() - 20)
        form.setGeometry(form.screen()->availableGeometry()); // no window manager to maximise it
    TaskListModel& model = *form.taskListModel();
    for (const char* key : {"kCORE01_1202", "kCORE01_1204"})
        model.setData(model.index(model.rowOfKey(QLatin1String(key)), 0), Qt::Checked, Qt::CheckStateRole);
    form.taskListView()->header()->setSectionHidden(TaskListModel::kTaskIdColumn, false);
    ok = save(form, out.filePath(QStringLiteral("window-maximised%1.png").arg(suffix))) && ok;

    // The filter in use, at the default size.
    form.showNormal();
    form.setGeometry(QRect(form.screen()->availableGeometry().topLeft() + QPoint(20, 20), QSize(744, 375)));
    form.taskListView()->header()->setSectionHidden(TaskListModel::kTaskIdColumn, true);
    settle();
    if (auto* bar = form.findChild<TaskFilterBar*>())
        bar->activate(); // as Ctrl+F does
    if (auto* field = form.findChild<QLineEdit*>(QStringLiteral("FilterField")))
        field->setText(QStringLiteral("pending"));
    ok = save(form, out.filePath(QStringLiteral("window-filter%1.png").arg(suffix))) && ok;

    // A Policy Sync running, its Cancel in the status bar; the filter off again, the found row in view.
    if (auto* field = form.findChild<QLineEdit*>(QStringLiteral("FilterField"))) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(field, &escape);
    }
    if (auto* panel = form.findChild<SyncStatusPanel*>())
        panel->showRun(42000);
    ok = save(form, out.filePath(QStringLiteral("window-sync-running%1.png").arg(suffix))) && ok;
    if (auto* panel = form.findChild<SyncStatusPanel*>())
        panel->endRun(false);

    // A search in the log box.
    if (auto* search = form.findChild<LogSearchBar*>()) {
        search->activate();
        if (auto* field = form.findChild<QLineEdit*>(QStringLiteral("LogSearchField")))
            field->setText(QStringLiteral("CORE01_1204"));
        ok = save(form, out.filePath(QStringLiteral("window-log-search%1.png").arg(suffix))) && ok;
        search->hide();
    }

    // The details of the task whose installation failed.
    TaskDetailsDialog* details = form.showDetails(QStringLiteral("kCORE01_1204"));
    QElapsedTimer timer;
    timer.start();
    while (details && !details->isLogRead() && timer.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    ok = details && save(*details, out.filePath(QStringLiteral("task-details%1.png").arg(suffix))) && ok;
    if (details)
        details->close();

    // The preview of Stop Install on three checked tasks: one to stop, one refused as Active.
    model.setData(model.index(model.rowOfKey(QStringLiteral("kCORE01_1203")), 0), Qt::Checked,
                  Qt::CheckStateRole);
    const ActionReport preview =
        planAction(TaskAction::StopInstall, checkedTargets(model.checkedRows(), form.session()->table()),
                   fake::AgentTree(root.path()).paths().database());
    ActionPreviewDialog previewDialog(preview, &form);
    previewDialog.show();
    ok = save(previewDialog, out.filePath(QStringLiteral("action-preview%1.png").arg(suffix))) && ok;
    previewDialog.close();

    // Reinstall of the same tasks: the Active one goes ahead with a warning.
    const ActionReport reinstall =
        planAction(TaskAction::Reinstall, checkedTargets(model.checkedRows(), form.session()->table()),
                   fake::AgentTree(root.path()).paths().database());
    ActionPreviewDialog reinstallDialog(reinstall, &form);
    reinstallDialog.show();
    ok = save(reinstallDialog, out.filePath(QStringLiteral("action-preview-reinstall%1.png").arg(suffix))) &&
         ok;
    reinstallDialog.close();

    // The History after Stop Install of those tasks and an Undo of one.
    const fake::AgentTree agent(root.path());
    QuietFeedback quiet;
    const ActionReport stopped =
        runAction(TaskAction::StopInstall, checkedTargets(model.checkedRows(), form.session()->table()),
                  agent.paths().database(), agent.paths().journal(), quiet);
    runUndo(stopped.journalEntries().mid(0, 1), agent.paths().database(), agent.paths().journal(), quiet);
    HistoryDialog* history = form.showHistory(QString(), false);
    QElapsedTimer reading;
    reading.start();
    while (!history->isRead() && reading.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    ok = save(*history, out.filePath(QStringLiteral("history%1.png").arg(suffix))) && ok;
    history->close();

    // Another workstation in a tab of its own, read only: a second simulated agent stands in for its share.
    QTemporaryDir share;
    if (!fake::writeDemoAgent(share.path(), QDateTime::currentDateTime(), error)) {
        QTextStream(stderr) << error << Qt::endl;
        return 1;
    }
    form.setWorkstationResolver([&share](const QString& typed, Workstation& workstation, QString& why) {
        if (!workstationByName(typed, workstation, why))
            return false;
        workstation.root = share.path();
        return true;
    });
    form.connectTo(QStringLiteral("WS0123"));
    reading.restart();
    while (form.taskListModel()->rowCount() == 0 && reading.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    ok = save(form, out.filePath(QStringLiteral("window-workstation-tab%1.png").arg(suffix))) && ok;
    return ok ? 0 : 1;
}
