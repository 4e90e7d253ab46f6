#include "Form1.h"

#include "CheckRule.h"
#include "ClientDatabase.h"
#include "Form2.h"
#include "InvokerLog.h"
#include "LogBox.h"
#include "MessagePresenter.h"
#include "TaskList.h"
#include "TaskListLoader.h"
#include "TaskListModel.h"
#include "Twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QThreadPool>
#include <QTimer>
#include <QTreeView>

namespace corvane {

namespace {

const QString kTitle = QStringLiteral("Corvane");
// Reading more than this of the invoker log at once goes to a worker thread.
constexpr qint64 kBackgroundReadBytes = 4 * 1024 * 1024;
// Descriptors read between two turns of the event loop while a long list is built (about 10 ms).
constexpr int kRowsPerSlice = 1000;
const QString kVersionText = QStringLiteral("v1.1 beta 1 build 116");

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

QFont windowFont() {
    // Tahoma where the machine has it, else a sans serif of about its width.
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans Condensed"), font.family()});
    font.setPointSizeF(8.25);
    font.setWeight(QFont::Normal);
    return font;
}

QLabel* statusPanel(QWidget* parent, const QRect& geometry) {
    auto* panel = new QLabel(parent);
    panel->setGeometry(geometry);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setIndent(2);
    return panel;
}

} // namespace

Form1::Form1(const AgentPaths& paths, MessagePresenter& messages, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_paths(paths)
    , m_messages(messages)
    , m_logFollower(std::make_shared<InvokerLogFollower>(kLogBoxLines)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kTitle);
    setWindowIcon(QIcon(QStringLiteral(":/corvane/corvane.png")));
    setFont(windowFont());
    setFixedSize(twips(11160), twips(5625));
    createControls();
}

Form1::~Form1() = default;

void Form1::createControls() {
    for (const char* key : {"policy", "push", "launchpad"})
        m_imageList1.insert(QLatin1String(key),
                            QIcon(QStringLiteral(":/corvane/%1.png").arg(QLatin1String(key))));

    Text1 = new QPlainTextEdit(QStringLiteral("Text1"), this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twipsRect(1800, 3240, 9255, 2150));
    Text1->setReadOnly(true); // the next refresh would discard anything typed
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Text1->setMaximumBlockCount(kLogBoxLines);

    m_model = new TaskListModel(this);
    m_model->setIcons(m_imageList1);
    QFont bold = font();
    bold.setBold(true);
    m_model->setBoldFont(bold);
    ListView1 = new QTreeView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(twipsRect(1800, 120, 9255, 2535));
    ListView1->setModel(m_model);
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setIconSize(QSize(18, 16));
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionsMovable(false);
    // The selection shows only while the list has the focus.
    QPalette listPalette = ListView1->palette();
    listPalette.setColor(QPalette::Inactive, QPalette::Highlight, Qt::transparent);
    listPalette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         listPalette.color(QPalette::Inactive, QPalette::Text));
    ListView1->setPalette(listPalette);
    connect(m_model, &TaskListModel::itemCheck, this, &Form1::ListView1_ItemCheck);

    BtnRefresh = new QPushButton(QStringLiteral("Refresh List"), this);
    BtnRefresh->setObjectName(QStringLiteral("BtnRefresh"));
    BtnRefresh->setGeometry(twipsRect(1920, 2760, 1095, 375));
    connect(BtnRefresh, &QPushButton::clicked, this, &Form1::BtnRefresh_Click);

    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(twipsRect(120, 120, 1695, 5415));
    Picture1->setPixmap(QPixmap(QStringLiteral(":/corvane/banner.png")));
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Label1 = new QLabel(kVersionText, Picture1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twipsRect(120, 4620, 855, 375));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    QPalette greyText = Label1->palette();
    greyText.setColor(QPalette::WindowText, QColor(128, 128, 128));
    Label1->setPalette(greyText);

    BtnPortal = new QPushButton(QStringLiteral("Policy Sync"), this);
    BtnPortal->setObjectName(QStringLiteral("BtnPortal"));
    BtnPortal->setGeometry(twipsRect(5400, 2760, 1335, 375));
    connect(BtnPortal, &QPushButton::clicked, this, &Form1::BtnPortal_Click);

    BtnUpdate = new QPushButton(QStringLiteral("Reinstall"), this);
    BtnUpdate->setObjectName(QStringLiteral("BtnUpdate"));
    BtnUpdate->setGeometry(twipsRect(9840, 2760, 1095, 375));
    connect(BtnUpdate, &QPushButton::clicked, this, &Form1::BtnUpdate_Click);

    StatusBar1 = new QWidget(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setGeometry(twipsRect(0, 5385, 11160, 240));
    m_statusPanel1 = statusPanel(StatusBar1, twipsRect(0, 0, 7665, 240));
    m_statusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    m_statusPanel2 = statusPanel(StatusBar1, twipsRect(7665, 0, 3495, 240));
    m_statusPanel2->setObjectName(QStringLiteral("StatusPanel2"));
    // The first panel holds a way out of a Policy Sync while one runs.
    m_cancelSync = new QPushButton(QStringLiteral("Cancel"), m_statusPanel1);
    m_cancelSync->setObjectName(QStringLiteral("BtnCancelSync"));
    m_cancelSync->setGeometry(m_statusPanel1->width() - 62, 1, 60, m_statusPanel1->height() - 2);
    m_cancelSync->setFocusPolicy(Qt::NoFocus);
    m_cancelSync->hide();

    Check1 = new QCheckBox(QStringLiteral("Auto"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setGeometry(twipsRect(3120, 2880, 975, 255));
    Check1->setChecked(true);

    BtnStop = new QPushButton(QStringLiteral("Stop Install"), this);
    BtnStop->setObjectName(QStringLiteral("BtnStop"));
    BtnStop->setGeometry(twipsRect(8640, 2760, 1095, 375));
    connect(BtnStop, &QPushButton::clicked, this, &Form1::BtnStop_Click);

    CheckViewLog = new QCheckBox(QStringLiteral("View Log"), this);
    CheckViewLog->setObjectName(QStringLiteral("CheckViewLog"));
    CheckViewLog->setGeometry(twipsRect(6840, 2880, 975, 255));

    setTabOrder(Text1, ListView1);
    setTabOrder(ListView1, BtnRefresh);
    setTabOrder(BtnRefresh, BtnPortal);
    setTabOrder(BtnPortal, BtnUpdate);
    setTabOrder(BtnUpdate, Check1);
    setTabOrder(Check1, BtnStop);
    setTabOrder(BtnStop, CheckViewLog);
    Text1->setFocus();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kRefreshIntervalMs);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    Timer1->start();
}

void Form1::setStatus(const QString& text) {
    m_statusPanel2->setText(text);
}

void Form1::showMessage(const QString& text) {
    m_messages.show(text, kTitle, MessagePresenter::Icon::None);
}

void Form1::Form_Load() {
    const quint64 load = ++m_loadNumber; // a newer run supersedes a long list still being built
    BusyScope busy(m_busy);
    TaskListSnapshot snapshot = loadTaskTable(m_paths, m_dbErrorText, *this, [this] { onDatabaseMissing(); });
    setNotice(Notice::Database, snapshot.database.failed
                                    ? QStringLiteral("Can't read the agent database: ") + m_dbErrorText
                                    : QString());
    setNotice(Notice::ScheduledTasks,
              snapshot.scheduledTasksRead
                  ? QString()
                  : QStringLiteral("Can't read the scheduled-task file: ") + snapshot.scheduledTasksError);
    m_pendingLoad = std::make_unique<TaskListSnapshot>(std::move(snapshot));
    if (m_pendingLoad->table.count() <= kRowsPerSlice) {
        buildRows(load);
        return;
    }
    // A long list reads its descriptors a slice at a time, so the window keeps serving events. The old rows
    // and table stay, and stay consistent for the actions, until the new ones replace them together.
    m_loadInFlight = true;
    QTimer::singleShot(0, this, [this, load] { buildRows(load); });
}

void Form1::buildRows(quint64 load) {
    if (load != m_loadNumber || !m_pendingLoad)
        return;
    TaskListSnapshot& pending = *m_pendingLoad;
    const int end = std::min(int(pending.rows.size()) + kRowsPerSlice, pending.table.count());
    for (int i = int(pending.rows.size()); i < end; ++i)
        pending.rows.append(buildTaskRowAt(pending.table, i, m_paths.descriptorFolder()));
    if (end < pending.table.count()) {
        QTimer::singleShot(0, this, [this, load] { buildRows(load); });
        return;
    }
    m_loadInFlight = false;
    m_table = std::move(pending.table);
    const int target = scrollTargetRow(pending.rows);
    setNotice(Notice::Descriptors, descriptorNotice(pending.rows));
    m_model->setRows(std::move(pending.rows));
    m_pendingLoad.reset();

    const int listWidth = ListView1->width();
    for (int column = 0; column < kTaskColumns.size(); ++column)
        ListView1->header()->resizeSection(column, int(listWidth * kTaskColumns.at(column).widthFraction));
    if (target >= 0)
        ListView1->scrollTo(m_model->index(target, 0));

    readInvokerLog();
}

void Form1::onDatabaseMissing() {
    BtnPortal->setEnabled(false);
    BtnRefresh->setEnabled(false);
    BtnUpdate->setEnabled(false);
    Check1->setChecked(false);
    Check1->setEnabled(false);
    m_messages.show(kDatabaseMissingMessage + m_paths.database(), QStringLiteral("Error"),
                    MessagePresenter::Icon::Critical);
}

void Form1::readInvokerLog() {
    if (m_logReadRunning)
        return; // the worker's answer is on its way
    const QString path = m_paths.invokerLog();
    const QDate today = QDate::currentDate();
    if (m_logFollower->pendingBytes(path, today) < kBackgroundReadBytes) {
        showLogUpdate(m_logFollower->update(path, today));
        return;
    }
    // A large read (the first of a long log) must not freeze the window.
    m_logReadRunning = true;
    QPointer<Form1> self(this);
    std::shared_ptr<InvokerLogFollower> follower = m_logFollower;
    QThreadPool::globalInstance()->start([self, follower, path, today] {
        const InvokerLogUpdate update = follower->update(path, today);
        QMetaObject::invokeMethod(
            qApp,
            [self, update] {
                if (!self)
                    return;
                self->m_logReadRunning = false;
                self->showLogUpdate(update);
            },
            Qt::QueuedConnection);
    });
}

// Text1 follows the log: new lines are appended, and the text is replaced only when the log was replaced,
// shrank, or the day changed.
void Form1::showLogUpdate(const InvokerLogUpdate& update) {
    switch (update.kind) {
    case InvokerLogUpdate::Kind::Unchanged:
        break;
    case InvokerLogUpdate::Kind::Replaced:
        if (update.status == InvokerLogPart::Status::Unreadable) {
            // Keep what the box shows; say why it no longer follows the log.
            setNotice(Notice::InvokerLog, QStringLiteral("Can't read the invoker log: ") + update.error);
            return;
        }
        Text1->setPlainText(
            update.status == InvokerLogPart::Status::Missing
                ? kLogMissingText
                : (update.truncatedFront || update.lines.isEmpty() ? QString() : QStringLiteral("\n")) +
                      joinedForLogBox(update.lines));
        break;
    case InvokerLogUpdate::Kind::Appended:
        if (update.dropLastShown) {
            QTextCursor cursor(Text1->document());
            cursor.movePosition(QTextCursor::End);
            cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
            cursor.deletePreviousChar();
        }
        if (Text1->document()->isEmpty())
            Text1->setPlainText(QStringLiteral("\n") + joinedForLogBox(update.lines));
        else if (!update.lines.isEmpty())
            Text1->appendPlainText(joinedForLogBox(update.lines));
        break;
    }
    setNotice(Notice::InvokerLog, QString());
    Text1->verticalScrollBar()->setValue(Text1->verticalScrollBar()->maximum());
}

void Form1::setNotice(Notice kind, const QString& text) {
    m_notices[int(kind)] = text;
    QStringList shown;
    for (const QString& notice : m_notices) {
        if (!notice.isEmpty())
            shown << notice;
    }
    m_statusPanel1->setText(shown.join(QStringLiteral("  |  ")));
    m_statusPanel1->setToolTip(shown.join(QLatin1Char('\n')));
}

void Form1::BtnRefresh_Click() {
    Form_Load();
}

void Form1::Timer1_Timer() {
    // The list is not rebuilt under an action, a message or a sync, which owns the status line meanwhile.
    if (Check1->isChecked() && m_busy == 0 && !m_loadInFlight && !isSyncRunning())
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
    runAction(TaskAction::StopInstall);
}

void Form1::BtnUpdate_Click() {
    runAction(TaskAction::Reinstall);
}

void Form1::runAction(TaskAction action) {
    {
        BusyScope busy(m_busy);
        runCheckedRowWalk(m_model->checkedRows(), m_table, action, m_paths.database(), m_dbErrorText, *this);
        Check1->setChecked(true);
    }
    Form_Load();
}

Form2* Form1::form2() {
    if (!m_form2)
        m_form2 = new Form2(this);
    return m_form2;
}

void Form1::BtnPortal_Click() {
    if (isSyncRunning())
        return;
    setSyncControlsEnabled(false);
    if (!m_sync) {
        m_sync = new PolicySyncRun(m_paths, m_syncTiming, this);
        connect(m_sync, &PolicySyncRun::statusChanged, this, &Form1::setStatus);
        connect(m_sync, &PolicySyncRun::passed, this, [this](const SyncPass& pass) {
            if (pass.fromStart)
                form2()->clearLines();
            form2()->appendLines(pass.lines);
        });
        connect(m_sync, &PolicySyncRun::summarised, this,
                [this](const QString& summary) { form2()->appendLines({summary}); });
        connect(m_sync, &PolicySyncRun::finished, this, &Form1::onSyncFinished);
        connect(m_cancelSync, &QPushButton::clicked, m_sync, &PolicySyncRun::abandon);
    }
    if (!m_sync->start()) {
        // No rebuild under the message: the list would change while the technician reads it.
        BusyScope busy(m_busy);
        setStatus(QString());
        showMessage(m_sync->error());
        setSyncControlsEnabled(true);
        return;
    }
    form2()->clearLines();
    m_cancelSync->show();
    if (CheckViewLog->isChecked())
        form2()->show();
}

void Form1::onSyncFinished(PolicySyncRun::Outcome outcome, const QString& message) {
    m_cancelSync->hide();
    if (outcome != PolicySyncRun::Outcome::Completed) {
        BusyScope busy(m_busy);
        showMessage(message);
    }
    setSyncControlsEnabled(true);
    Check1->setChecked(true);
    Form_Load();
}

// During a sync the window stays live, but nothing else may change the agent or the status line: the
// sync's own controls and the other actions are off until it ends, then back as they were.
void Form1::setSyncControlsEnabled(bool enabled) {
    BtnPortal->setEnabled(enabled);
    CheckViewLog->setEnabled(enabled);
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
