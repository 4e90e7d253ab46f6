#pragma once

#include "session/WorkstationReader.h"

#include <QDialog>
#include <QList>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace corvane {

// "Find on workstations...": the tasks of many workstations that a filter keeps, in one table with their
// workstation first. Reads at most WorkstationReader::kReadsAtOnce workstations at a time, off the interface
// thread, and lists those that could not be read (or not whole) with the reason. A double-click asks for
// that workstation's task to be shown.
class FindOnWorkstationsDialog : public QDialog {
    Q_OBJECT

public:
    // `map` turns each name of the list into its workstation (workstationByName: its administrative share).
    explicit FindOnWorkstationsDialog(WorkstationMapping map = workstationByName, QWidget* parent = nullptr);

    void setNames(const QString& names);
    void setFilter(const TaskFilter& filter);
    TaskFilter filter() const;
    WorkstationReader& reader() { return m_reader; }

    // As the Find button: reads the named workstations, or says in the status line why not.
    void find();
    // The tasks found as "Export as CSV" writes them.
    QString foundCsv() const;
    // Each workstation not read, or not read whole, with its reason: "\\WS0123\C$: access is denied".
    QStringList unreadText() const;
    QString statusText() const;

signals:
    void openTask(const Workstation& workstation, const QString& taskId);
    // A search ended: every workstation read or given up, or cancelled.
    void searchEnded();

private:
    void addResult(int index, const WorkstationResult& result);
    void showProgress(int done, int total);
    void ended(bool cancelled);
    void loadNames();
    void exportFound();
    void setSearching(bool searching);

    WorkstationMapping m_map;
    WorkstationReader m_reader;
    QList<Workstation> m_workstations; // of the search shown
    QList<int> m_rowsOf;               // rows shown per workstation, in the list's order
    int m_found = 0;
    int m_read = 0;

    QPlainTextEdit* m_names = nullptr;
    QLineEdit* m_text = nullptr;
    QCheckBox* m_errorReschedule = nullptr;
    QCheckBox* m_active = nullptr;
    QCheckBox* m_notCompleted = nullptr;
    QPushButton* m_find = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_export = nullptr;
    QProgressBar* m_progress = nullptr;
    QTreeWidget* m_tasks = nullptr;
    QTreeWidget* m_unread = nullptr;
    QLabel* m_status = nullptr;
};

} // namespace corvane
