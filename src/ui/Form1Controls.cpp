#include "ui/Form1Controls.h"

#include "session/AgentSession.h"
#include "tasklist/TaskList.h"
#include "ui/InvokerLogBox.h"
#include "ui/LogSearchBar.h"
#include "ui/MenuKeys.h"
#include "ui/NoticePanel.h"
#include "ui/SyncStatusPanel.h"
#include "ui/TaskFilterBar.h"
#include "ui/TaskListModel.h"
#include "ui/TaskListProxy.h"
#include "ui/TaskListView.h"
#include "ui/Twips.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QVBoxLayout>

namespace corvane {

namespace {

const QString kVersionText = QStringLiteral("v1.1 beta 1 build 116");

// The smallest window still shows a few rows and lines, and fits a 1280x720 screen at 200 % scaling.
constexpr int kMinimumPaneHeight = 48;
constexpr int kMinimumGap = 4;
constexpr int kUpdatedPanelWidth = 100;

QLabel* statusPanel(QWidget* parent) {
    auto* panel = new QLabel(parent);
    panel->setMinimumWidth(1); // a long text is cut rather than widen the window
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setIndent(2);
    return panel;
}

} // namespace

Form1Controls::Form1Controls(QWidget* form, const QString& synchroniserPath, const Clock& clock) {
    for (const TaskRow::Icon icon : {TaskRow::Icon::Policy, TaskRow::Icon::Push, TaskRow::Icon::Launchpad})
        ImageList1.insert(icon, QIcon(QStringLiteral(":/corvane/%1.png").arg(iconName(icon))));

    // The design size lays every control out where it always was; extra space goes to the list and the
    // log box, the splitter between them shares it, and the banner keeps its width.
    Text1 = new InvokerLogBox(clock, form);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setAccessibleName(QStringLiteral("Invoker log"));
    Text1->setReadOnly(true); // the next refresh would discard anything typed
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Text1->setMaximumBlockCount(kLogBoxLines);
    Text1->setMinimumHeight(kMinimumPaneHeight);

    model = new TaskListModel(form);
    model->setIcons(ImageList1);
    QFont bold = form->font();
    bold.setBold(true);
    model->setBoldFont(bold);
    proxy = new TaskListProxy(model, form);
    ListView1 = new TaskListView(proxy, clock, form);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(QStringLiteral("Task list"));
    ListView1->setMinimumHeight(kMinimumPaneHeight);
    // The selection shows only while the list has the focus.
    QPalette listPalette = ListView1->palette();
    listPalette.setColor(QPalette::Inactive, QPalette::Highlight, Qt::transparent);
    listPalette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         listPalette.color(QPalette::Inactive, QPalette::Text));
    ListView1->setPalette(listPalette);
    filterBar = new TaskFilterBar(form);
    QObject::connect(filterBar, &TaskFilterBar::filterChanged, proxy, &TaskListProxy::setFilterText);
    QObject::connect(filterBar, &TaskFilterBar::closed, ListView1, [list = ListView1] { list->setFocus(); });
    // The filter says how many rows it shows of how many.
    auto showCounts = [bar = filterBar, shown = proxy, all = model] {
        bar->setCounts(shown->rowCount(), all->rowCount());
    };
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        QObject::connect(proxy, signal, filterBar, showCounts);
    QObject::connect(proxy, &QAbstractItemModel::modelReset, filterBar, showCounts);
    QObject::connect(proxy, &QAbstractItemModel::layoutChanged, filterBar, showCounts);

    BtnRefresh = new QPushButton(QStringLiteral("&Refresh List"), form);
    BtnRefresh->setObjectName(QStringLiteral("BtnRefresh"));
    BtnRefresh->setToolTip(QStringLiteral("Read the agent's tasks again (F5)"));

    Picture1 = new QLabel(form);
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

    BtnPortal = new QPushButton(QStringLiteral("Policy &Sync"), form);
    BtnPortal->setObjectName(QStringLiteral("BtnPortal"));

    BtnUpdate = new QPushButton(QStringLiteral("Re&install"), form);
    BtnUpdate->setObjectName(QStringLiteral("BtnUpdate"));

    StatusBar1 = new QWidget(form);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    // The bar holds the sync panel's buttons: a line of the font inside a button's frame inside a panel's.
    const int buttonFrame = form->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    StatusBar1->setFixedHeight(std::max(twips(240), form->fontMetrics().height() + 2 * buttonFrame + 2));
    statusPanel1 = new NoticePanel(int(AgentSession::Notice::Count), StatusBar1);
    statusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    statusPanel1->setAccessibleName(QStringLiteral("Notices"));
    statusUpdated = statusPanel(StatusBar1);
    statusUpdated->setObjectName(QStringLiteral("StatusPanelUpdated"));
    statusUpdated->setAccessibleName(QStringLiteral("When the list was last read"));
    statusUpdated->setFixedWidth(kUpdatedPanelWidth);
    statusPanel2 = statusPanel(StatusBar1);
    statusPanel2->setObjectName(QStringLiteral("StatusPanel2"));
    statusPanel2->setFixedWidth(twips(3495));
    statusPanel2->setAccessibleName(QStringLiteral("Status"));
    auto* statusLayout = new QHBoxLayout(StatusBar1);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(0);
    statusWorkstation = statusPanel(StatusBar1);
    statusWorkstation->setObjectName(QStringLiteral("StatusPanelWorkstation"));
    statusWorkstation->setAccessibleName(QStringLiteral("Workstation"));
    statusWorkstation->hide();
    statusLayout->addWidget(statusWorkstation);
    statusLayout->addWidget(statusPanel1, 1); // the notices take what the window gains
    statusLayout->addWidget(statusUpdated);
    statusLayout->addWidget(statusPanel2);
    // The first panel holds the Policy Sync's time and its way out, or a synchroniser running to follow.
    syncPanel = new SyncStatusPanel(synchroniserPath, statusPanel1);
    auto* panel1Layout = new QHBoxLayout(statusPanel1);
    panel1Layout->setContentsMargins(0, 0, 2, 0);
    panel1Layout->addStretch(1);
    panel1Layout->addWidget(syncPanel);

    Check1 = new QCheckBox(QStringLiteral("&Auto"), form);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setToolTip(QStringLiteral("Read the agent's tasks every five seconds"));
    Check1->setChecked(true);

    BtnStop = new QPushButton(QStringLiteral("S&top Install"), form);
    BtnStop->setObjectName(QStringLiteral("BtnStop"));

    // The preview before an action can be turned back on after "Don't ask again", from either button.
    askAction = new QAction(QStringLiteral("Preview before changing the agent database"), form);
    askAction->setObjectName(QStringLiteral("AskBeforeChanging"));
    askAction->setCheckable(true);
    for (QPushButton* button : {BtnStop, BtnUpdate}) {
        button->setContextMenuPolicy(Qt::ActionsContextMenu);
        button->addAction(askAction);
        MenuKeys::install(button);
    }

    CheckViewLog = new QCheckBox(QStringLiteral("&View Log"), form);
    CheckViewLog->setObjectName(QStringLiteral("CheckViewLog"));
    CheckViewLog->setToolTip(QStringLiteral("Show the synchroniser's log during a Policy Sync"));

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

    auto* listPane = new QWidget(form);
    auto* listLayout = new QVBoxLayout(listPane);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    workstationBar = new QWidget(listPane);
    workstationBar->setObjectName(QStringLiteral("WorkstationBar"));
    workstationLabel = new QLabel(workstationBar);
    workstationLabel->setObjectName(QStringLiteral("WorkstationLabel"));
    allowChanges = new QCheckBox(QStringLiteral("Allow changes over the network"), workstationBar);
    allowChanges->setObjectName(QStringLiteral("AllowChanges"));
    allowChanges->setToolTip(QStringLiteral("Stop Install, Reinstall and Undo on this workstation's agent, "
                                            "through the same preview and journal"));
    auto* barLayout = new QHBoxLayout(workstationBar);
    barLayout->setContentsMargins(0, 0, 0, 2);
    barLayout->addWidget(workstationLabel, 1);
    barLayout->addWidget(allowChanges);
    workstationBar->hide();
    listLayout->addWidget(workstationBar);
    listLayout->addWidget(filterBar);
    listLayout->addWidget(ListView1);

    auto* logPane = new QWidget(form);
    auto* logLayout = new QVBoxLayout(logPane);
    logLayout->setContentsMargins(0, 0, 0, 0);
    logLayout->setSpacing(twips(3240) - twips(2760 + 375));
    logLayout->addLayout(buttonRow);
    logSearch = new LogSearchBar(Text1, form);
    logLayout->addWidget(logSearch);
    logLayout->addWidget(Text1);

    splitter = new QSplitter(Qt::Vertical, form);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->setHandleWidth(twips(2760) - twips(120 + 2535));
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(listPane);
    splitter->addWidget(logPane);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({twips(2535), twips(3240 + 2150) - twips(2760)});

    auto* body = new QHBoxLayout;
    body->setContentsMargins(twips(120), twips(120), twips(11160 - 1800 - 9255), 0);
    body->setSpacing(0);
    body->addWidget(Picture1);
    body->addWidget(splitter, 1);
    auto* windowLayout = new QVBoxLayout(form);
    windowLayout->setContentsMargins(0, 0, 0, 0);
    windowLayout->setSpacing(0);
    windowLayout->addLayout(body, 1);
    windowLayout->addWidget(StatusBar1);

    // Tab follows the screen: the filter, the list, the row of controls from left to right, the log box.
    QWidget::setTabOrder(filterBar->findChild<QWidget*>(QStringLiteral("FilterField")), ListView1);
    QWidget::setTabOrder(ListView1, BtnRefresh);
    QWidget::setTabOrder(BtnRefresh, Check1);
    QWidget::setTabOrder(Check1, BtnPortal);
    QWidget::setTabOrder(BtnPortal, CheckViewLog);
    QWidget::setTabOrder(CheckViewLog, BtnStop);
    QWidget::setTabOrder(BtnStop, BtnUpdate);
    QWidget::setTabOrder(BtnUpdate, Text1);
    Text1->setFocus();
}

} // namespace corvane
