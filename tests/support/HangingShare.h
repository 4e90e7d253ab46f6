#pragma once

#include <QFile>
#include <QString>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace corvane::test {

// An agent database whose reads hang, as one on a share that stopped answering: a FIFO stands where SQLite
// looks for the database's rollback journal, and SQLite's open of it waits for a writer. release() lets the
// waiting read end; so does the object's end, so that no thread outlives the test. POSIX only.
class HangingDatabase {
public:
    explicit HangingDatabase(const QString& databasePath)
        : m_fifo(databasePath + QStringLiteral("-journal")) {
#ifndef Q_OS_WIN
        QFile::remove(m_fifo);
        m_made = ::mkfifo(QFile::encodeName(m_fifo).constData(), 0600) == 0;
#endif
    }
    ~HangingDatabase() {
        release();
    }
    HangingDatabase(const HangingDatabase&) = delete;
    HangingDatabase& operator=(const HangingDatabase&) = delete;

    bool isMade() const {
        return m_made;
    }
    // The read waiting on the FIFO sees it end, and the FIFO goes.
    void release() {
#ifndef Q_OS_WIN
        if (!m_made)
            return;
        m_made = false;
        const int writer = ::open(QFile::encodeName(m_fifo).constData(), O_WRONLY | O_NONBLOCK);
        QFile::remove(m_fifo);
        if (writer >= 0)
            ::close(writer);
#endif
    }

private:
    QString m_fifo;
    bool m_made = false;
};

} // namespace corvane::test
