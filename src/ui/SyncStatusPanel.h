#pragma once

#include "sync/SynchroniserSystem.h"

#include <QElapsedTimer>
#include <QWidget>

#include <optional>

class QLabel;
class QPushButton;
class QTimer;

namespace corvane {

// The Policy Sync part of the status bar. During a run: how long it has run, and Cancel. Otherwise, while a
// policy synchroniser that the window does not follow runs on the machine (left by Cancel, started by the
// agent, another Corvane or corvanectl): which process it is, and Follow. Hidden when there is nothing to
// say.
class SyncStatusPanel : public QWidget {
    Q_OBJECT

public:
    SyncStatusPanel(const QString& synchroniserPath, QWidget* parent = nullptr);

    // The window follows a run from now on, begun `elapsedMs` ago.
    void showRun(qint64 elapsedMs);
    // The run is over. The machine is searched for a synchroniser still running; `abandoned`: it was left
    // running by Cancel.
    void endRun(bool abandoned);
    // Searches the machine for a synchroniser running, and shows it until it exits.
    void lookForSynchroniser();
    // The agent's program folder moved: the synchroniser is looked for at its new place.
    void setSynchroniserPath(const QString& path) { m_synchroniserPath = path; }
    QString synchroniserPath() const { return m_synchroniserPath; }

    QString text() const;

signals:
    void cancelClicked();
    void followClicked();

private:
    void showElapsed();
    void search();
    void showFound(const std::optional<SynchroniserProcess>& process);

    QString m_synchroniserPath;
    QLabel* m_text = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_follow = nullptr;
    QTimer* m_tick = nullptr;
    QElapsedTimer m_runClock;
    qint64 m_runStartMs = 0;
    bool m_inRun = false;
    bool m_searching = false;
    bool m_abandoned = false;
};

} // namespace corvane
