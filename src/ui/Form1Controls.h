#pragma once

#include <QIcon>
#include <QMap>

#include "tasklist/TaskRow.h"

class QAction;
class QCheckBox;
class QLabel;
class QPushButton;
class QSplitter;
class QWidget;

namespace corvane {

class Clock;
class InvokerLogBox;
class LogSearchBar;
class NoticePanel;
class SyncStatusPanel;
class TaskFilterBar;
class TaskListModel;
class TaskListProxy;
class TaskListView;

// The main window's controls, made and laid out as on the design: the banner on the left, the list above
// the row of controls, the log box below, the status bar at the bottom. Extra space goes to the list and the
// log box; the splitter between them shares it.
struct Form1Controls {
    Form1Controls(QWidget* form, const QString& synchroniserPath, const Clock& clock);

    QMap<TaskRow::Icon, QIcon> ImageList1;
    TaskListModel* model = nullptr;
    TaskListProxy* proxy = nullptr;
    TaskFilterBar* filterBar = nullptr;
    LogSearchBar* logSearch = nullptr;
    QSplitter* splitter = nullptr;
    InvokerLogBox* Text1 = nullptr;
    TaskListView* ListView1 = nullptr;
    QPushButton* BtnRefresh = nullptr;
    QLabel* Picture1 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* BtnPortal = nullptr;
    QPushButton* BtnUpdate = nullptr;
    QWidget* StatusBar1 = nullptr;
    NoticePanel* statusPanel1 = nullptr;
    QLabel* statusUpdated = nullptr;
    QLabel* statusPanel2 = nullptr;
    // The workstation the tab shows, first in the status bar: shown once there is more than one tab.
    QLabel* statusWorkstation = nullptr;
    // Above the list of another workstation: its name and share, and "Allow changes over the network".
    QWidget* workstationBar = nullptr;
    QLabel* workstationLabel = nullptr;
    QCheckBox* allowChanges = nullptr;
    SyncStatusPanel* syncPanel = nullptr;
    QCheckBox* Check1 = nullptr;
    QPushButton* BtnStop = nullptr;
    QCheckBox* CheckViewLog = nullptr;
    // "Preview before changing the agent database", in the menu of Stop Install and Reinstall.
    QAction* askAction = nullptr;
};

} // namespace corvane
