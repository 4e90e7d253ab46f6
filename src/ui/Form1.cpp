#include "ui/Form1.h"

#include "actions/CheckRule.h"
#include "agent/ClientDatabase.h"
#include "agent/InvokerLog.h"
#include "agent/TaskRecord.h"
#include "base/OffThread.h"
#include "tasklist/TaskList.h"
#include "tasklist/TaskListExport.h"
#include "tasklist/TaskListLoader.h"
#include "ui/ActionRunner.h"
#include "ui/AppFont.h"
#include "ui/AutoRefreshCheck.h"
#include "ui/ExportTarget.h"
#include "ui/Form2.h"
#include "ui/HistoryDialog.h"
#include "ui/InvokerLogBox.h"
#include "ui/LogBox.h"
#include "ui/LogSearchBar.h"
#include "ui/MenuKeys.h"
#include "ui/MessagePresenter.h"
#include "ui/NoticePanel.h"
#include "ui/ScreenFit.h"
#include "ui/SyncStatusPanel.h"
#include "ui/TaskDetailsDialog.h"
#include "ui/TaskFilterBar.h"
#include "ui/TaskListModel.h"
#include "ui/TaskListProxy.h"
#include "ui/TaskListView.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTextCursor>
#include <QTimer>
#include <QTreeView>

#include <QVBoxLayout>
#include <utility>

namespace corvane {

namespace {

const QString kTitle = QStringLiteral("Corvane");
// Reading more than this of the invoker log at once goes to a worker thread.
constexpr qint64 kBackgroundReadBytes = 4 * 1024 * 1024;
const QString kVersionText = QStringLiteral("v1.1 beta 1 build 116");
const QString kUpdatedText = QStringLiteral("Updated ");

// The smallest window still shows a few rows and lines, and fits a 1280x720 screen at 200 % scaling.
constexpr int kMinimumPaneHeight = 48;
constexpr int kMinimumGap = 4;
constexpr int kUpdatedPanelWidth = 100;
// The sync log window opens this many characters wide where the screen has room, and no narrower than
// the minimum beside the main window.
constexpr int kSyncLogLineChars = 110;
constexpr int kSyncLogMinimumWidth = 360;

// Settings: what the technician arranged, per user.
const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kSplitterKey = QStringLiteral("window/splitter");
const QString kHeaderKey = QStringLiteral("list/header");
const QString kSizedColumnsKey = QStringLiteral("list/sizedColumns");
const QString kViewLogKey = QStringLiteral("window/viewLog");
const QString kSyncLogGeometryKey = QStringLiteral("syncLog/geometry");

// Counts a piece of work that must not run under a rebuild, for as long as the scope lives.
class BusyScope {
public:
    explicit BusyScope(int& counter)
        : m_counter(counter) {
        ++m_counter;
    }
    ~BusyScope() { --m_counter; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    int& m_counter;
};

QLabel* statusPanel(QWidget* parent) {
    auto* panel = new QLabel(parent);
    panel->setMinimumWidth(1); // a long text is cut rather than widen the window
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setIndent(2);
    return panel;
}

} // namespace

Form1::Form1(const AgentPaths& paths, MessagePresenter& messages, const Clock& clock, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_paths(paths)
    , m_messages(messages)
    , m_clock(clock)
    , m_refresh(new TaskListRefresh(paths, clock, this))
    , m_logFollower(std::make_shared<InvokerLogFollower>(kLogBoxLines)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kTitle);
    setWindowIcon(QIcon(QStringLiteral(":/corvane/corvane.png")));
    useApplicationFont();
    setFont(applicationFont()); // this window was made before the application's font changed
    createControls();
    resize(twips(11160), twips(5625));
    fitOnScreen(*this);
    layout()->activate(); // the list has its width before the first load, shown or not
    // A sync owns the status line while it runs; the list goes on being read beside it.
    connect(m_refresh, &TaskListRefresh::statusChanged, this, [this](const QString& text) {
        if (!isSyncRunning())
            setStatus(text);
    });
    connect(m_refresh, &TaskListRefresh::rowsRead, this, &Form1::showRows);
    connect(m_refresh, &TaskListRefresh::databaseMissingChanged, this, &Form1::onDatabaseMissingChanged);
    connect(m_refresh, &TaskListRefresh::noticeChanged, this,
            [this](const QString& notice) { setNotice(Notice::TaskList, notice); });
    connect(m_refresh, &TaskListRefresh::readEnded, this, &Form1::onTaskListRead);
}

Form1::~Form1() = default;

void Form1::createControls() {
    for (const TaskRow::Icon icon : {TaskRow::Icon::Policy, TaskRow::Icon::Push, TaskRow::Icon::Launchpad})
        m_imageList1.insert(icon, QIcon(QStringLiteral(":/corvane/%1.png").arg(iconName(icon))));

    // The design size lays every control out where it always was; extra space goes to the list and the
    // log box, the splitter between them shares it, and the banner keeps its width.
    Text1 = new InvokerLogBox(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setAccessibleName(QStringLiteral("Invoker log"));
    Text1->setReadOnly(true); // the next refresh would discard anything typed
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Text1->setMaximumBlockCount(kLogBoxLines);
    Text1->setMinimumHeight(kMinimumPaneHeight);

    m_model = new TaskListModel(this);
    m_model->setIcons(m_imageList1);
    QFont bold = font();
    bold.setBold(true);
    m_model->setBoldFont(bold);
    m_proxy = new TaskListProxy(m_model, this);
    ListView1 = new TaskListView(m_proxy, m_clock, this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(QStringLiteral("Task list"));
    ListView1->setMinimumHeight(kMinimumPaneHeight);
    // The selection shows only while the list has the focus.
    QPalette listPalette = ListView1->palette();
    listPalette.setColor(QPalette::Inactive, QPalette::Highlight, Qt::transparent);
    listPalette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         listPalette.color(QPalette::Inactive, QPalette::Text));
    ListView1->setPalette(listPalette);
    connect(m_model, &TaskListModel::itemCheck, this, &Form1::ListView1_ItemCheck);
    m_filterBar = new TaskFilterBar(this);
    connect(m_filterBar, &TaskFilterBar::filterChanged, m_proxy, &TaskListProxy::setFilterText);
    connect(m_filterBar, &TaskFilterBar::closed, ListView1, [this] { ListView1->setFocus(); });
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_proxy, signal, this, &Form1::showFilterCounts);
    connect(m_proxy, &QAbstractItemModel::modelReset, this, &Form1::showFilterCounts);
    connect(m_proxy, &QAbstractItemModel::layoutChanged, this, &Form1::showFilterCounts);

    BtnRefresh = new QPushButton(QStringLiteral("&Refresh List"), this);
    BtnRefresh->setObjectName(QStringLiteral("BtnRefresh"));
    BtnRefresh->setToolTip(QStringLiteral("Read the agent's tasks again (F5)"));
    connect(BtnRefresh, &QPushButton::clicked, this, &Form1::BtnRefresh_Click);

    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setPixmap(QPixmap(QStringLiteral(":/corvane/banner.png")));
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture1->setFixedWidth(twips(1800 - 120));
    Picture1->setMinimumHeight(0);
    Picture1->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored); // cut at the bottom when short
    Picture1->setAccessibleName(QStringLiteral("Banner"));

    Label1 = new QLabel(kVersionText, Picture1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twipsRect(120, 4620, 855, 375));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    QPalette greyText = Label1->palette();
    greyText.setColor(QPalette::WindowText, QColor(128, 128, 128));
    Label1->setPalette(greyText);

    BtnPortal = new QPushButton(QStringLiteral("Policy &Sync"), this);
    BtnPortal->setObjectName(QStringLiteral("BtnPortal"));
    connect(BtnPortal, &QPushButton::clicked, this, &Form1::BtnPortal_Click);

    BtnUpdate = new QPushButton(QStringLiteral("Re&install"), this);
    BtnUpdate->setObjectName(QStringLiteral("BtnUpdate"));
    connect(BtnUpdate, &QPushButton::clicked, this, &Form1::BtnUpdate_Click);

    StatusBar1 = new QWidget(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    // The bar holds the sync panel's buttons: a line of the font inside a button's frame inside a panel's.
    const int buttonFrame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    StatusBar1->setFixedHeight(std::max(twips(240), fontMetrics().height() + 2 * buttonFrame + 2));
    m_statusPanel1 = new NoticePanel(int(Notice::Count), StatusBar1);
    m_statusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    m_statusPanel1->setAccessibleName(QStringLiteral("Notices"));
    m_statusUpdated = statusPanel(StatusBar1);
    m_statusUpdated->setObjectName(QStringLiteral("StatusPanelUpdated"));
    m_statusUpdated->setAccessibleName(QStringLiteral("When the list was last read"));
    m_statusUpdated->setFixedWidth(kUpdatedPanelWidth);
    m_statusPanel2 = statusPanel(StatusBar1);
    m_statusPanel2->setObjectName(QStringLiteral("StatusPanel2"));
    m_statusPanel2->setFixedWidth(twips(3495));
    m_statusPanel2->setAccessibleName(QStringLiteral("Status"));
    auto* statusLayout = new QHBoxLayout(StatusBar1);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(0);
    statusLayout->addWidget(m_statusPanel1, 1); // the notices take what the window gains
    statusLayout->addWidget(m_statusUpdated);
    statusLayout->addWidget(m_statusPanel2);
    // The first panel holds the Policy Sync's time and its way out, or a synchroniser running to follow.
    m_syncPanel = new SyncStatusPanel(m_paths.synchroniser(), m_statusPanel1);
    connect(m_syncPanel, &SyncStatusPanel::followClicked, this, &Form1::followSync);
    m_syncPanel->lookForSynchroniser(); // one left running by an earlier Corvane, or started by the agent
    auto* panel1Layout = new QHBoxLayout(m_statusPanel1);
    panel1Layout->setContentsMargins(0, 0, 2, 0);
    panel1Layout->addStretch(1);
    panel1Layout->addWidget(m_syncPanel);

    Check1 = new AutoRefreshCheck(QStringLiteral("&Auto"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setToolTip(QStringLiteral("Read the agent's tasks every five seconds"));
    Check1->setChecked(true);

    BtnStop = new QPushButton(QStringLiteral("S&top Install"), this);
    BtnStop->setObjectName(QStringLiteral("BtnStop"));
    connect(BtnStop, &QPushButton::clicked, this, &Form1::BtnStop_Click);

    // The preview before an action can be turned back on after "Don't ask again", from either button.
    m_actions = new ActionRunner(m_paths, m_messages, *this, this);
    for (QPushButton* button : {BtnStop, BtnUpdate}) {
        button->setContextMenuPolicy(Qt::ActionsContextMenu);
        button->addAction(m_actions->askAction());
        MenuKeys::install(button);
    }

    CheckViewLog = new QCheckBox(QStringLiteral("&View Log"), this);
    CheckViewLog->setObjectName(QStringLiteral("CheckViewLog"));
    CheckViewLog->setToolTip(QStringLiteral("Show the synchroniser's log during a Policy Sync"));
    connect(CheckViewLog, &QCheckBox::toggled, this, [this](bool shown) {
        // A log window closed during a run can be opened again, and after a run it shows that run's lines.
        if (isSyncRunning() || m_form2)
            form2()->setVisible(shown);
    });

    for (QWidget* control : {static_cast<QWidget*>(BtnRefresh), static_cast<QWidget*>(BtnPortal),
                             static_cast<QWidget*>(BtnStop), static_cast<QWidget*>(BtnUpdate),
                             static_cast<QWidget*>(Check1), static_cast<QWidget*>(CheckViewLog)})
        control->setAccessibleName(static_cast<QAbstractButton*>(control)->text().remove(QLatin1Char('&')));
    BtnRefresh->setFixedSize(twips(1095), twips(375));
    BtnPortal->setFixedSize(twips(1335), twips(375));
    BtnStop->setFixedSize(twips(1095), twips(375));
    BtnUpdate->setFixedSize(twips(1095), twips(375));
    Check1->setFixedSize(twips(975), twips(255));
    CheckViewLog->setFixedSize(twips(975), twips(255));

    // One row of controls below the list, as on the design: the two gaps between the groups take the
    // extra width.
    auto* buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(twips(1920 - 1800), 0, twips(1800 + 9255 - 9840 - 1095), 0);
    buttonRow->setSpacing(0);
    auto addGap = [buttonRow](int designGap, bool grows) {
        if (!grows) {
            buttonRow->addSpacing(designGap);
            return;
        }
        buttonRow->addSpacing(kMinimumGap);
        buttonRow->addStretch(designGap - kMinimumGap);
    };
    buttonRow->addWidget(BtnRefresh);
    addGap(twips(3120) - twips(1920 + 1095), false);
    buttonRow->addWidget(Check1, 0, Qt::AlignBottom);
    addGap(twips(5400) - twips(3120 + 975), true);
    buttonRow->addWidget(BtnPortal);
    addGap(twips(6840) - twips(5400 + 1335), false);
    buttonRow->addWidget(CheckViewLog, 0, Qt::AlignBottom);
    addGap(twips(8640) - twips(6840 + 975), true);
    buttonRow->addWidget(BtnStop);
    addGap(twips(9840) - twips(8640 + 1095), false);
    buttonRow->addWidget(BtnUpdate);

    auto* listPane = new QWidget(this);
    auto* listLayout = new QVBoxLayout(listPane);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    listLayout->addWidget(m_filterBar);
    listLayout->addWidget(ListView1);

    auto* logPane = new QWidget(this);
    auto* logLayout = new QVBoxLayout(logPane);
    logLayout->setContentsMargins(0, 0, 0, 0);
    logLayout->setSpacing(twips(3240) - twips(2760 + 375));
    logLayout->addLayout(buttonRow);
    m_logSearch = new LogSearchBar(Text1, this);
    logLayout->addWidget(m_logSearch);
    logLayout->addWidget(Text1);

    m_splitter = new QSplitter(Qt::Vertical, this);
    m_splitter->setObjectName(QStringLiteral("Splitter1"));
    m_splitter->setHandleWidth(twips(2760) - twips(120 + 2535));
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(listPane);
    m_splitter->addWidget(logPane);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({twips(2535), twips(3240 + 2150) - twips(2760)});

    auto* body = new QHBoxLayout;
    body->setContentsMargins(twips(120), twips(120), twips(11160 - 1800 - 9255), 0);
    body->setSpacing(0);
    body->addWidget(Picture1);
    body->addWidget(m_splitter, 1);
    auto* windowLayout = new QVBoxLayout(this);
    windowLayout->setContentsMargins(0, 0, 0, 0);
    windowLayout->setSpacing(0);
    windowLayout->addLayout(body, 1);
    windowLayout->addWidget(StatusBar1);

    // Tab follows the screen: the filter, the list, the row of controls from left to right, the log box.
    setTabOrder(m_filterBar->findChild<QWidget*>(QStringLiteral("FilterField")), ListView1);
    setTabOrder(ListView1, BtnRefresh);
    setTabOrder(BtnRefresh, Check1);
    setTabOrder(Check1, BtnPortal);
    setTabOrder(BtnPortal, CheckViewLog);
    setTabOrder(CheckViewLog, BtnStop);
    setTabOrder(BtnStop, BtnUpdate);
    setTabOrder(BtnUpdate, Text1);
    Text1->setFocus();

    auto* refreshKey = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(refreshKey, &QShortcut::activated, this, [this] {
        if (BtnRefresh->isEnabled())
            BtnRefresh->click();
    });
    auto* undoKey = new QShortcut(QKeySequence::Undo, this);
    connect(undoKey, &QShortcut::activated, this, [this] {
        if (m_lastChanges.isEmpty())
            setStatus(QStringLiteral("Nothing to undo: this window has changed nothing since it opened"));
        else
            undoChanges(m_lastChanges);
    });
    auto* historyKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), this);
    connect(historyKey, &QShortcut::activated, this, [this] { showHistory(ListView1->currentKey(), false); });
    auto* filterKey = new QShortcut(QKeySequence::Find, this);
    // Ctrl+F searches the log box once the technician has gone into it, else filters the list.
    connect(filterKey, &QShortcut::activated, this, [this] {
        if (m_logSearch->isWanted())
            m_logSearch->activate();
        else
            m_filterBar->activate();
    });

    ListView1->setActionAvailable([this](TaskAction action) {
        return (action == TaskAction::StopInstall ? BtnStop : BtnUpdate)->isEnabled();
    });
    connect(ListView1, &TaskListView::actionRequested, this, &Form1::runActionFromMenu);
    connect(ListView1, &TaskListView::exportRequested, this, &Form1::exportList);
    connect(ListView1, &TaskListView::legendRequested, this, [this](const QString& text) {
        m_messages.show(text, QStringLiteral("Legend"), MessagePresenter::Icon::None);
    });
    connect(ListView1, &TaskListView::onlyThisTaskRequested, this, &Form1::showOnlyTaskInLog);
    connect(ListView1, &TaskListView::detailsRequested, this, &Form1::showDetails);
    connect(ListView1, &TaskListView::historyRequested, this,
            [this](const QString& key) { showHistory(key, true); });
    connect(ListView1->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (!Text1->onlyTask().isEmpty() && !ListView1->currentKey().isEmpty())
            showOnlyTaskInLog(ListView1->currentKey());
    });

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kRefreshIntervalMs);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    Timer1->start();
}

void Form1::showFilterCounts() {
    m_filterBar->setCounts(m_proxy->rowCount(), m_model->rowCount());
}

// A row menu's Stop Install or Reinstall ticks that row as a click would (the check rule applies), then
// runs the button's action on every checked row. Cancelled, it leaves the tick and "Auto" as they were.
void Form1::runActionFromMenu(TaskAction action, const QString& key) {
    const int row = m_model->rowOfKey(key);
    if (row < 0 || !(action == TaskAction::StopInstall ? BtnStop : BtnUpdate)->isEnabled())
        return;
    const bool wasChecked = m_model->isChecked(row);
    const bool wasAuto = Check1->isChecked();
    if (!wasChecked)
        m_model->setData(m_model->index(row, 0), Qt::Checked, Qt::CheckStateRole);
    if (!m_model->isChecked(row))
        return;
    startAction(action, [this, key, wasChecked, wasAuto] {
        const int row = m_model->rowOfKey(key);
        if (!wasChecked && row >= 0) {
            m_model->setChecked(row, false);
            m_model->setBold(row, false);
        }
        Check1->setChecked(wasAuto);
    });
}

void Form1::exportList() {
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export the task list"), defaultExportPath(),
                                     QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    QString error;
    if (saveShownList(path, error))
        setStatus(exportedText(m_proxy->rowCount(), path));
    else
        showMessage(error);
}

bool Form1::saveShownList(const QString& path, QString& error) const {
    QList<TaskRow> rows;
    rows.reserve(m_proxy->rowCount());
    for (int row = 0; row < m_proxy->rowCount(); ++row)
        rows << m_model->taskRow(m_proxy->mapToSource(m_proxy->index(row, 0)).row());
    return saveTaskListCsv(path, rows, error);
}

void Form1::restoreSettings(QSettings& settings) {
    restoreGeometry(settings.value(kGeometryKey).toByteArray());
    fitOnScreen(*this); // saved on a larger screen, or at a smaller scale
    m_splitter->restoreState(settings.value(kSplitterKey).toByteArray());
    QList<int> sized;
    for (const QVariant& column : settings.value(kSizedColumnsKey).toList())
        sized << column.toInt();
    ListView1->restoreHeaderState(settings.value(kHeaderKey).toByteArray(), sized);
    CheckViewLog->setChecked(settings.value(kViewLogKey, false).toBool());
    m_form2Geometry = settings.value(kSyncLogGeometryKey).toByteArray();
}

void Form1::saveSettings(QSettings& settings) const {
    settings.setValue(kGeometryKey, saveGeometry());
    settings.setValue(kSplitterKey, m_splitter->saveState());
    settings.setValue(kHeaderKey, ListView1->headerState());
    QVariantList sized;
    for (int column : ListView1->sizedColumns())
        sized << column;
    settings.setValue(kSizedColumnsKey, sized);
    settings.setValue(kViewLogKey, CheckViewLog->isChecked());
    const QByteArray form2Geometry = m_form2 ? m_form2->saveGeometry() : m_form2Geometry;
    if (!form2Geometry.isEmpty())
        settings.setValue(kSyncLogGeometryKey, form2Geometry);
}

void Form1::setStatus(const QString& text) {
    m_statusPanel2->setText(text);
}

void Form1::showMessage(const QString& text) {
    m_messages.show(text, kTitle, MessagePresenter::Icon::None);
}

void Form1::Form_Load() {
    m_refresh->start();
}

// The rows of a read replace the list's in one step, with the table the actions look them up in; the view
// keeps the technician's place and scrolls to a task that became Active.
void Form1::showRows(const QList<TaskRow>& rows) {
    m_model->setRows(rows);
    m_statusUpdated->setText(kUpdatedText + m_refresh->readAt().toString(QStringLiteral("HH:mm:ss")));
}

void Form1::onTaskListRead() {
    if (!m_actionSummary.isEmpty())
        setStatus(std::exchange(m_actionSummary, QString()));
    readInvokerLog();
    emit taskListRead();
}

// The controls that a missing database disables come back with it, and so does the automatic refresh.
void Form1::onDatabaseMissingChanged(bool missing) {
    BtnPortal->setEnabled(!missing);
    BtnRefresh->setEnabled(!missing);
    BtnUpdate->setEnabled(!missing);
    Check1->setDatabaseMissing(missing);
    if (missing)
        showDatabaseMissing();
}

void Form1::showDatabaseMissing() {
    BusyScope busy(m_busy);
    m_messages.show(kDatabaseMissingMessage + m_paths.database(), QStringLiteral("Error"),
                    MessagePresenter::Icon::Critical);
}

void Form1::readInvokerLog() {
    if (m_logReadRunning)
        return; // the worker's answer is on its way
    const QString path = m_paths.invokerLog();
    const QDate today = m_clock.today();
    if (m_logFollower->pendingBytes(path, today) < kBackgroundReadBytes) {
        showLogUpdate(m_logFollower->update(path, today));
        return;
    }
    // A large read (the first of a long log) must not freeze the window.
    m_logReadRunning = true;
    runOffThread(
        this, [follower = m_logFollower, path, today] { return follower->update(path, today); },
        [this](const InvokerLogUpdate& update) {
            m_logReadRunning = false;
            showLogUpdate(update);
        });
}

// Text1 follows the log: new lines are appended, and the text is replaced only when the log was replaced,
// shrank, or the day changed.
void Form1::showLogUpdate(const InvokerLogUpdate& update) {
    if (update.kind == InvokerLogUpdate::Kind::Replaced && update.status == AgentFileStatus::Unreadable) {
        // Keep what the box shows; say why it no longer follows the log.
        Text1->endReading();
        setNotice(Notice::InvokerLog, QStringLiteral("Can't read the invoker log: ") + update.error);
        return;
    }
    Text1->showUpdate(update, m_paths.invokerLog());
    setNotice(Notice::InvokerLog, QString());
}

TaskDetailsDialog* Form1::showDetails(const QString& key) {
    const int row = m_model->rowOfKey(key);
    if (row < 0)
        return nullptr;
    auto* dialog = new TaskDetailsDialog(m_paths, m_model->taskRow(row), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

// The log box shows only the lines naming the task's operation file, and follows the current row.
void Form1::showOnlyTaskInLog(const QString& key) {
    const int row = m_model->rowOfKey(key);
    if (row < 0)
        return;
    const QString operationFile = TaskRecord::firstField(m_model->taskRow(row).record);
    if (operationFile.isEmpty())
        return;
    Text1->setOnlyTask(operationFile, QStringLiteral("task %1 (%2)").arg(key.mid(1), operationFile));
}

void Form1::setNotice(Notice kind, const QString& text) {
    m_statusPanel1->setNotice(int(kind), text);
}

void Form1::BtnRefresh_Click() {
    Form_Load();
}

void Form1::Timer1_Timer() {
    // The list is not rebuilt under an action or a message; a tick that comes while the agent is still being
    // read is skipped. A sync does not stop it: the list shows what the synchroniser adds as it goes.
    const bool idle = m_busy == 0 && !m_refresh->isReading();
    if (idle && (Check1->isChecked() || m_refresh->isDatabaseBack()))
        Form_Load();
    readInvokerLog();
}

void Form1::ListView1_ItemCheck(int row) {
    const CheckOutcome outcome = applyCheckRule(m_model->taskRow(row).tag, m_model->isChecked(row));
    m_model->setChecked(row, outcome.checked);
    if (outcome.boldApplies)
        m_model->setBold(row, outcome.bold);
    if (outcome.autoOff)
        Check1->setChecked(false);
}

void Form1::BtnStop_Click() {
    startAction(TaskAction::StopInstall);
}

void Form1::BtnUpdate_Click() {
    startAction(TaskAction::Reinstall);
}

// The checked tasks are taken from the table the rows were built from; the action then decides on what the
// database holds at that moment, off the interface thread.
void Form1::startAction(TaskAction action, const std::function<void()>& onCancel) {
    if (m_actions->isRunning())
        return;
    m_refresh->dropRunningRead(); // its rows would replace the ones being acted on
    const QList<ActionTarget> targets = checkedTargets(m_model->checkedRows(), m_refresh->table());
    if (targets.isEmpty()) {
        {
            BusyScope busy(m_busy);
            showMessage(kNothingCheckedMessage);
            Check1->setChecked(true);
        }
        // Nothing can be checked without the database; say why rather than leave the technician guessing.
        if (Check1->isDatabaseMissing())
            showDatabaseMissing();
        Form_Load();
        return;
    }
    ++m_busy; // no rebuild until the action is over: its rows keep their checks if it is cancelled
    m_actions->start(action, targets, [this, onCancel](const std::optional<ActionReport>& report) {
        --m_busy;
        if (report)
            onActionDone(*report);
        else if (onCancel)
            onCancel();
    });
}

// Undo of journal entries goes through the same preview and report as the actions.
void Form1::undoChanges(const QList<qint64>& entries) {
    if (m_actions->isRunning() || entries.isEmpty())
        return;
    m_refresh->dropRunningRead();
    ++m_busy;
    m_actions->startUndo(entries, [this](const std::optional<ActionReport>& report) {
        --m_busy;
        if (report)
            onActionDone(*report);
    });
}

HistoryDialog* Form1::showHistory(const QString& key, bool onlyThisTask) {
    if (!m_history) {
        m_history = new HistoryDialog(m_paths.journal(), this);
        connect(m_history, &HistoryDialog::undoRequested, this, &Form1::undoChanges);
    }
    m_history->setTask(key.mid(1), onlyThisTask);
    m_history->show();
    m_history->raise();
    return m_history;
}

void Form1::onActionDone(const ActionReport& report) {
    {
        BusyScope busy(m_busy);
        // The action is done with the ticks once it changed something; when it changed nothing they stay,
        // for another try. Other rebuilds keep them.
        if (report.count(TaskOutcome::Kind::Change) > 0)
            m_model->clearChecks();
        if (!report.problems().isEmpty())
            showMessage(report.problems());
        Check1->setChecked(true);
    }
    // Shown once the list shows the agent's state after the action, so the read's progress does not wipe it.
    // An action's changes can be taken back; an Undo's cannot.
    m_actionSummary = report.summary();
    if (report.action != TaskAction::Undo) {
        m_lastChanges = report.journalEntries();
        if (!m_lastChanges.isEmpty())
            m_actionSummary += QStringLiteral(". Ctrl+Z undoes it");
    } else {
        m_lastChanges.clear();
    }
    if (m_history && m_history->isVisible())
        m_history->reload();
    Form_Load();
}

Form2* Form1::form2() {
    if (!m_form2) {
        m_form2 = new Form2(this);
        // Closed by the technician (Escape, the title bar): View Log says so.
        connect(m_form2, &Form2::closed, this, [this] { CheckViewLog->setChecked(false); });
        if (m_form2Geometry.isEmpty() || !m_form2->restoreGeometry(m_form2Geometry))
            placeBeside(*m_form2);
    }
    return m_form2;
}

// Beside the main window, not over it: to its right where the screen has room, else to its left, else
// below it; wide enough for a usual line of the synchroniser's log.
void Form1::placeBeside(QWidget& window) const {
    const QRect screen = this->screen() ? this->screen()->availableGeometry() : QRect(0, 0, 1920, 1080);
    const QRect main = frameGeometry();
    const int frame = std::max(0, main.width() - width()); // both side borders of a window
    const int wanted = window.fontMetrics().averageCharWidth() * kSyncLogLineChars +
                       window.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int enough = std::min(wanted, kSyncLogMinimumWidth);
    const int rightRoom = screen.right() - main.right() - frame;
    const int leftRoom = main.left() - screen.left() - frame;
    const int height = std::min(main.height(), screen.height());
    if (rightRoom >= enough) {
        window.resize(std::min(wanted, rightRoom), height);
        window.move(main.right() + 1, main.top());
    } else if (leftRoom >= enough) {
        const int width = std::min(wanted, leftRoom);
        window.resize(width, height);
        window.move(main.left() - width - frame, main.top());
    } else {
        window.resize(std::min(wanted, screen.width() - frame), window.height());
        window.move(main.left(), std::min(main.bottom() + 1, screen.bottom() - window.height() - frame));
    }
}

void Form1::BtnPortal_Click() {
    startSync(false);
}

void Form1::followSync() {
    startSync(true);
}

void Form1::startSync(bool follow) {
    if (isSyncRunning())
        return;
    setSyncControlsEnabled(false);
    if (!m_sync) {
        m_sync = new PolicySyncRun(m_paths, m_syncTiming, this);
        connect(m_sync, &PolicySyncRun::statusChanged, this, &Form1::setStatus);
        connect(m_sync, &PolicySyncRun::began, this, [this] {
            form2()->clearLines();
            m_syncPanel->showRun(m_sync->elapsedMs());
            if (CheckViewLog->isChecked())
                form2()->show();
        });
        connect(m_sync, &PolicySyncRun::passed, this, [this](const SyncPass& pass) {
            if (pass.fromStart)
                form2()->clearLines();
            form2()->appendLines(pass.lines);
        });
        connect(m_sync, &PolicySyncRun::summarised, this,
                [this](const QString& summary) { form2()->appendLines({summary}); });
        connect(m_sync, &PolicySyncRun::finished, this, &Form1::onSyncFinished);
        connect(m_syncPanel, &SyncStatusPanel::cancelClicked, m_sync, &PolicySyncRun::abandon);
    }
    m_refresh->dropRunningRead(); // the sync owns the status line
    QString error;
    if (!(follow ? m_sync->follow(error) : m_sync->start(error))) {
        // No rebuild under the message: the list would change while the technician reads it.
        BusyScope busy(m_busy);
        setStatus(QString());
        showMessage(error);
        setSyncControlsEnabled(true);
        return;
    }
    m_syncPanel->showRun(0); // Cancel from the start: the search before the start may wait on another's
}

void Form1::onSyncFinished(PolicySyncRun::Outcome outcome, const QString& message) {
    m_syncPanel->endRun(outcome == PolicySyncRun::Outcome::Abandoned);
    setSyncControlsEnabled(true);
    if (outcome == PolicySyncRun::Outcome::Refused) {
        // Nothing started, nothing changed: the list and its checks stay; the running one may be followed.
        setStatus(QString());
        bool follow = false;
        {
            BusyScope busy(m_busy);
            if (m_sync->runningSynchroniser())
                follow = m_messages.offer(message, kTitle, QStringLiteral("Follow"));
            else
                showMessage(message);
        }
        if (follow)
            followSync();
        return;
    }
    if (outcome != PolicySyncRun::Outcome::Completed) {
        BusyScope busy(m_busy);
        showMessage(message);
    }
    Check1->setChecked(true);
    Form_Load();
}

// During a sync the window stays live, but nothing else may change the agent or the status line: the
// sync's own controls and the other actions are off until it ends, then back as they were.
void Form1::setSyncControlsEnabled(bool enabled) {
    BtnPortal->setEnabled(enabled); // View Log stays usable: a closed log window can be opened again
    if (!enabled) {
        m_enabledBeforeSync.clear();
        for (QWidget* widget : {static_cast<QWidget*>(BtnRefresh), static_cast<QWidget*>(BtnStop),
                                static_cast<QWidget*>(BtnUpdate)}) {
            m_enabledBeforeSync.append({widget, widget->isEnabled()});
            widget->setEnabled(false);
        }
    } else {
        for (const auto& [widget, wasEnabled] : m_enabledBeforeSync)
            widget->setEnabled(wasEnabled);
        m_enabledBeforeSync.clear();
    }
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
    if (isSyncRunning()) {
        disconnect(m_sync, nullptr, this, nullptr); // no message and no rebuild on the way out
        m_sync->abandon();                          // the synchroniser runs on: it belongs to the agent
    }
    event->accept();
}

} // namespace corvane
