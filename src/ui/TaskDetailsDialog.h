#pragma once

#include "agent/AgentPaths.h"
#include "tasklist/TaskRow.h"

#include <QDialog>

#include <atomic>
#include <memory>

class QPlainTextEdit;

namespace corvane {

// Everything the agent says about one task: its id, operation file, descriptor and package name, the
// invoker's and the scheduler's states, the reschedule policy, the record, and every line of the invoker
// log, all days, that names the task's operation file. The log is read off the interface thread.
class TaskDetailsDialog : public QDialog {
    Q_OBJECT

public:
    // How many of the log's lines about one task are shown, the latest ones.
    static constexpr int kMaxLogLines = 5000;

    TaskDetailsDialog(const AgentPaths& paths, const TaskRow& row, QWidget* parent = nullptr);
    ~TaskDetailsDialog() override { m_closed->store(true); }

    // The log lines shown, once read.
    QString logText() const;
    bool isLogRead() const { return m_logRead; }

signals:
    void logRead();

private:
    void readChanges(const QString& journalPath, const QString& taskId);

    QPlainTextEdit* m_log = nullptr;
    QPlainTextEdit* m_changes = nullptr;
    bool m_logRead = false;
    // Set when the dialog goes: the log search running for it stops.
    std::shared_ptr<std::atomic<bool>> m_closed = std::make_shared<std::atomic<bool>>(false);
};

} // namespace corvane
