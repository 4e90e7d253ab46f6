#pragma once

#include <QDialog>
#include <QList>

class QCheckBox;
class QLabel;
class QTreeWidget;

#include <functional>
#include <optional>

namespace corvane {

struct JournalEntry;

// Reads the journal's entries (only the task's when given) off the interface thread; `done` follows on it,
// with the reason when they could not be read.
void readHistoryOffThread(QObject* receiver, const QString& journalPath, const std::optional<QString>& taskId,
                          std::function<void(const QList<JournalEntry>&, const QString&)> done);

// The journal of changes Corvane made to the agent's database: who changed what and when, newest first.
// It can keep to one task's entries, ask for the selected entries to be undone, and copy or export them.
class HistoryDialog : public QDialog {
    Q_OBJECT

public:
    HistoryDialog(const QString& journalPath, QWidget* parent = nullptr);

    // The task "Only this task" keeps to; an empty id turns the choice off.
    void setTask(const QString& taskId, bool only);
    // Reads the journal again, off the interface thread.
    void reload();
    bool isRead() const { return m_read; }
    // The shown entries as text with a header line, tab-separated, for the clipboard.
    QString shownText() const;

signals:
    void undoRequested(const QList<qint64>& entries);
    void read();

private:
    void showEntries(const QList<JournalEntry>& entries, const QString& error);
    QStringList header() const;
    QList<QStringList> shownRows() const;
    void exportShown();

    QString m_journalPath;
    QString m_taskId;
    bool m_read = false;
    QTreeWidget* m_entries = nullptr;
    QCheckBox* m_onlyTask = nullptr;
    QLabel* m_status = nullptr;
};

} // namespace corvane
