#include "ui/Form1.h"

#include "session/AgentSession.h"
#include "session/MessagePresenter.h"
#include "ui/AppFont.h"
#include "ui/FindOnWorkstationsDialog.h"
#include "ui/Form1Controls.h"
#include "ui/Form2.h"
#include "ui/InvokerLogBox.h"
#include "ui/LogSearchBar.h"
#include "ui/ScreenFit.h"
#include "ui/SyncStatusPanel.h"
#include "ui/TaskFilterBar.h"
#include "ui/TaskListView.h"
#include "ui/Twips.h"
#include "ui/WorkstationTabs.h"
#include "ui/WorkstationView.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QInputDialog>
#include <QLayout>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

namespace corvane {

namespace {

const QString kTitle = QStringLiteral("Corvane");
constexpr int kRecentWorkstations = 10;

// Settings: what the technician arranged and chose, per user.
const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kSplitterKey = QStringLiteral("window/splitter");
const QString kHeaderKey = QStringLiteral("list/header");
const QString kSizedColumnsKey = QStringLiteral("list/sizedColumns");
const QString kViewLogKey = QStringLiteral("window/viewLog");
const QString kSyncLogGeometryKey = QStringLiteral("syncLog/geometry");
const QString kAskKey = QStringLiteral("actions/askBeforeChanging");
const QString kRecentKey = QStringLiteral("workstations/recent");

} // namespace

Form1::Form1(const AgentPaths& paths, MessagePresenter& messages, const Clock& clock, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_messages(messages)
    , m_clock(clock)
    , m_resolver(workstationByName) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kTitle);
    setWindowIcon(QIcon(QStringLiteral(":/corvane/corvane.png")));
    useApplicationFont();
    setFont(applicationFont()); // this window was made before the application's font changed
    m_tabs = new WorkstationTabs(paths, messages, clock, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_tabs);
    resize(twips(11160), twips(5625));
    fitOnScreen(*this);
    this->layout()->activate(); // the list has its width before the first load, shown or not
    bindView(m_tabs->local());
    bindKeys();
    bindSync();
    connect(m_tabs, &WorkstationTabs::opened, this, [this](WorkstationView* view) {
        // A new tab is arranged as the local one is.
        Form1Controls& local = m_tabs->local()->controls();
        Form1Controls& ui = view->controls();
        ui.splitter->restoreState(local.splitter->saveState());
        ui.ListView1->restoreHeaderState(local.ListView1->headerState(), local.ListView1->sizedColumns());
        ui.askAction->setChecked(local.askAction->isChecked());
        bindView(view);
    });
    connect(m_tabs, &WorkstationTabs::currentChanged, this, &Form1::showTitle);
    m_tabs->local()->controls().syncPanel->lookForSynchroniser(); // one left running by an earlier Corvane

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kRefreshIntervalMs);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    Timer1->start();
}

Form1::~Form1() = default;

void Form1::bindView(WorkstationView* view) {
    connect(view, &WorkstationView::taskListRead, this, &Form1::taskListRead);
    connect(view->controls().ListView1, &TaskListView::connectRequested, this, &Form1::connectToWorkstation);
    connect(view->controls().ListView1, &TaskListView::findOnWorkstationsRequested, this,
            &Form1::findOnWorkstations);
    connect(view->controls().askAction, &QAction::toggled, this, [this](bool ask) {
        if (m_settings)
            m_settings->setValue(kAskKey, ask);
    });
}

// The window's keys act on the current tab.
void Form1::bindKeys() {
    auto shortcut = [this](const QKeySequence& keys, auto slot) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::Key_F5), [this] {
        if (currentView()->controls().BtnRefresh->isEnabled())
            currentView()->controls().BtnRefresh->click();
    });
    shortcut(QKeySequence::Undo, [this] { currentView()->undoLast(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_H),
             [this] { showHistory(currentView()->controls().ListView1->currentKey(), false); });
    // Ctrl+F searches the log box once the technician has gone into it, else filters the list.
    shortcut(QKeySequence::Find, [this] {
        Form1Controls& ui = currentView()->controls();
        if (ui.logSearch->isWanted())
            ui.logSearch->activate();
        else
            ui.filterBar->activate();
    });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_K), [this] { connectToWorkstation(); });
}

// Policy Sync runs on the local machine only: its log window and its panel belong to the local tab.
void Form1::bindSync() {
    Form1Controls& ui = m_tabs->local()->controls();
    AgentSession* session = m_tabs->local()->session();
    SyncStatusPanel* panel = ui.syncPanel;
    connect(session, &AgentSession::pathsChanged, panel,
            [panel, session] { panel->setSynchroniserPath(session->paths().synchroniser()); });
    connect(ui.BtnPortal, &QPushButton::clicked, this, &Form1::BtnPortal_Click);
    connect(ui.CheckViewLog, &QCheckBox::toggled, this, [this, session](bool shown) {
        // A log window closed during a run can be opened again, and after a run it shows that run's lines.
        if (session->isSyncRunning() || m_form2)
            form2()->setVisible(shown);
    });
    connect(panel, &SyncStatusPanel::followClicked, this, &Form1::followSync);
    connect(panel, &SyncStatusPanel::cancelClicked, session, &AgentSession::cancelSync);
    connect(session, &AgentSession::syncStarted, panel, [panel] { panel->showRun(0); });
    connect(session, &AgentSession::syncBegan, this, [this](qint64 elapsedMs) {
        form2()->clearLines();
        m_tabs->local()->controls().syncPanel->showRun(elapsedMs);
        if (m_tabs->local()->controls().CheckViewLog->isChecked())
            form2()->show();
    });
    connect(session, &AgentSession::syncPassed, this, [this](const SyncPass& pass) {
        if (pass.fromStart)
            form2()->clearLines();
        form2()->appendLines(pass.lines);
    });
    connect(session, &AgentSession::syncSummarised, this,
            [this](const QString& summary) { form2()->appendLines(LogLines::fromList({summary})); });
    connect(session, &AgentSession::syncEnded, panel, &SyncStatusPanel::endRun);
}

// The title names the workstation of the current tab once there is more than one.
void Form1::showTitle() {
    setWindowTitle(m_tabs->views().size() > 1 ? kTitle + QStringLiteral(" - ") + currentView()->title()
                                              : kTitle);
}

AgentSession* Form1::session() const {
    return currentView()->session();
}

WorkstationView* Form1::currentView() const {
    return m_tabs->current();
}

TaskListModel* Form1::taskListModel() const {
    return currentView()->controls().model;
}

TaskListView* Form1::taskListView() const {
    return currentView()->controls().ListView1;
}

void Form1::exportList() {
    currentView()->exportList();
}

bool Form1::saveShownList(const QString& path, QString& error) const {
    return currentView()->saveShownList(path, error);
}

void Form1::restoreSettings(QSettings& settings) {
    m_settings = &settings;
    Form1Controls& ui = m_tabs->local()->controls();
    restoreGeometry(settings.value(kGeometryKey).toByteArray());
    fitOnScreen(*this); // saved on a larger screen, or at a smaller scale
    ui.splitter->restoreState(settings.value(kSplitterKey).toByteArray());
    QList<int> sized;
    for (const QVariant& column : settings.value(kSizedColumnsKey).toList())
        sized << column.toInt();
    ui.ListView1->restoreHeaderState(settings.value(kHeaderKey).toByteArray(), sized);
    ui.CheckViewLog->setChecked(settings.value(kViewLogKey, false).toBool());
    m_form2Geometry = settings.value(kSyncLogGeometryKey).toByteArray();
    ui.askAction->setChecked(settings.value(kAskKey, true).toBool());
    m_recent = settings.value(kRecentKey).toStringList().mid(0, kRecentWorkstations);
}

void Form1::saveSettings(QSettings& settings) const {
    const Form1Controls& ui = m_tabs->local()->controls();
    settings.setValue(kGeometryKey, saveGeometry());
    settings.setValue(kSplitterKey, ui.splitter->saveState());
    settings.setValue(kHeaderKey, ui.ListView1->headerState());
    QVariantList sized;
    for (int column : ui.ListView1->sizedColumns())
        sized << column;
    settings.setValue(kSizedColumnsKey, sized);
    settings.setValue(kViewLogKey, ui.CheckViewLog->isChecked());
    const QByteArray form2Geometry = m_form2 ? m_form2->saveGeometry() : m_form2Geometry;
    if (!form2Geometry.isEmpty())
        settings.setValue(kSyncLogGeometryKey, form2Geometry);
    settings.setValue(kAskKey, m_tabs->local()->session()->askBeforeChanging());
    if (!m_recent.isEmpty())
        settings.setValue(kRecentKey, m_recent);
}

void Form1::setStatus(const QString& text) {
    currentView()->setStatus(text);
}

void Form1::Form_Load() {
    currentView()->load();
}

TaskDetailsDialog* Form1::showDetails(const QString& key) {
    return currentView()->showDetails(key);
}

void Form1::BtnRefresh_Click() {
    Form_Load();
}

void Form1::Timer1_Timer() {
    m_tabs->tick();
}

void Form1::ListView1_ItemCheck(int row) {
    currentView()->itemCheck(row);
}

void Form1::BtnStop_Click() {
    currentView()->stopInstall();
}

void Form1::BtnUpdate_Click() {
    currentView()->reinstall();
}

void Form1::undoChanges(const QList<qint64>& entries) {
    currentView()->undoChanges(entries);
}

HistoryDialog* Form1::showHistory(const QString& key, bool onlyThisTask) {
    return currentView()->showHistory(key, onlyThisTask);
}

void Form1::connectToWorkstation() {
    bool ok = false;
    const QString typed = QInputDialog::getItem(this, QStringLiteral("Connect to workstation"),
                                                QStringLiteral("Workstation name:"), m_recent, 0, true, &ok);
    if (ok && !typed.trimmed().isEmpty())
        connectTo(typed);
}

bool Form1::connectTo(const QString& typed) {
    Workstation workstation;
    QString error;
    if (!m_resolver(typed, workstation, error)) {
        m_messages.show(error, kTitle, MessagePresenter::Icon::None);
        return false;
    }
    openWorkstation(workstation);
    remember(workstation.name);
    return true;
}

FindOnWorkstationsDialog* Form1::findOnWorkstations() {
    if (!m_find) {
        m_find = new FindOnWorkstationsDialog(m_resolver, this);
        m_find->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_find, &FindOnWorkstationsDialog::openTask, this,
                [this](const Workstation& workstation, const QString& taskId) {
                    openWorkstation(workstation, taskId);
                    remember(workstation.name);
                });
    }
    m_find->show();
    m_find->raise();
    m_find->activateWindow();
    return m_find;
}

void Form1::remember(const QString& name) {
    m_recent.removeIf(
        [&name](const QString& known) { return known.compare(name, Qt::CaseInsensitive) == 0; });
    m_recent.prepend(name);
    m_recent = m_recent.mid(0, kRecentWorkstations);
    if (m_settings)
        m_settings->setValue(kRecentKey, m_recent);
}

void Form1::openWorkstation(const Workstation& workstation, const QString& taskId) {
    m_tabs->open(workstation, taskId);
    showTitle();
}

Form2* Form1::form2() {
    if (!m_form2) {
        m_form2 = new Form2(this);
        // Closed by the technician (Escape, the title bar): View Log says so.
        connect(m_form2, &Form2::closed, this,
                [this] { m_tabs->local()->controls().CheckViewLog->setChecked(false); });
        if (m_form2Geometry.isEmpty() || !m_form2->restoreGeometry(m_form2Geometry))
            m_form2->placeBeside(*this);
    }
    return m_form2;
}

void Form1::BtnPortal_Click() {
    m_tabs->local()->session()->startSync(false);
}

void Form1::followSync() {
    m_tabs->local()->session()->startSync(true);
}

void Form1::closeEvent(QCloseEvent* event) {
    // The program ends with the main window, whatever other window is open.
    if (m_form2)
        disconnect(m_form2, &Form2::closed, this, nullptr); // View Log is kept for the next start
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (window != this)
            window->close();
    }
    for (WorkstationView* view : m_tabs->views())
        view->session()->shutdown();
    event->accept();
}

} // namespace corvane
