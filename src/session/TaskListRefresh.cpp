#include "session/TaskListRefresh.h"

#include "base/Clock.h"
#include "base/OffThread.h"
#include "session/RelayedFeedback.h"
#include "tasklist/TaskList.h"

#include <QDir>
#include <QFileInfo>

#include <memory>

namespace corvane {

namespace {

const QString kNoticeSeparator = QStringLiteral("  |  ");

} // namespace

TaskListRefresh::TaskListRefresh(const AgentPaths& paths, const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_paths(paths)
    , m_clock(clock) {}

void TaskListRefresh::start() {
    Q_ASSERT(onInterfaceThread());
    if (m_running) {
        m_readAgain = true;
        return;
    }
    m_running = true;
    m_dropResult = false;
    const QDateTime startedAt = m_clock.now();
    auto feedback =
        std::make_shared<RelayedFeedback>(this, [this](const QString& text) { showProgress(text); });
    runOffThread(
        this,
        [paths = m_paths, feedback] {
            Read read;
            read.snapshot = loadTaskList(paths, *feedback);
            read.problems = readProblems(read.snapshot);
            read.scheduledTasksMissing = !QFileInfo::exists(paths.scheduledTasks());
            return read;
        },
        [this, startedAt](Read read) { finish(std::move(read), startedAt); });
}

void TaskListRefresh::showProgress(const QString& text) {
    if (!m_dropResult) // what now owns the status line is not interrupted
        emit statusChanged(text);
}

void TaskListRefresh::dropRunningRead() {
    if (m_running)
        m_dropResult = true;
}

bool TaskListRefresh::isDatabaseBack() const {
    return m_databaseMissing && QFileInfo(m_paths.database()).isFile();
}

void TaskListRefresh::finish(Read read, const QDateTime& startedAt) {
    Q_ASSERT(onInterfaceThread());
    m_running = false;
    if (m_readAgain) {
        m_readAgain = false;
        start();
        return;
    }
    if (m_dropResult)
        return;

    // A database that cannot be read would leave only the scheduled-task file's tasks, all grey and
    // uncheckable: the last list read with its database says more, and says from when.
    const bool databaseFailed = read.snapshot.databaseRead == DatabaseRead::Failed;
    if (databaseFailed && m_fullReadAt.isValid()) {
        setNotice(QStringLiteral("Showing the list read at %1: can't read the agent database: %2")
                      .arg(m_fullReadAt.toString(QStringLiteral("HH:mm:ss")), read.snapshot.databaseError));
        emit readEnded();
        return;
    }

    if (!databaseFailed)
        m_fullReadAt = startedAt;
    // Without the file SDClient and Install say "n/a" for every task: say why.
    if (read.scheduledTasksMissing)
        read.problems << QStringLiteral("Can't find the scheduled-task file ") +
                             QDir::toNativeSeparators(m_paths.scheduledTasks());
    m_table = std::move(read.snapshot.table);
    m_readAt = startedAt;
    emit rowsRead(read.snapshot.rows);
    setNotice(read.problems.join(kNoticeSeparator));
    const bool databaseMissing = read.snapshot.databaseRead == DatabaseRead::Missing;
    if (databaseMissing != m_databaseMissing) {
        m_databaseMissing = databaseMissing;
        emit databaseMissingChanged(m_databaseMissing);
    }
    emit readEnded();
}

void TaskListRefresh::setNotice(const QString& notice) {
    if (notice == m_notice)
        return;
    m_notice = notice;
    emit noticeChanged(m_notice);
}

} // namespace corvane
