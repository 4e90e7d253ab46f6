#pragma once

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#ifdef Q_OS_LINUX
#include <sched.h>
#include <sys/mount.h>
#endif

namespace corvane::test {

// A regular file whose reads never return, as on a hung network share: a kernel trace pipe bound over the
// file at `path`, in a mount namespace of the calling thread's own and what it starts after (a test's first
// use, then corvanectl). Needs Linux, root and a kernel that mounts tracefs there; isBound() says whether it
// could be made. One trace pipe at a time: the tests that make one do not run side by side.
class BlockingFile {
public:
    explicit BlockingFile(const QString& path)
        : m_path(path) {
#ifdef Q_OS_LINUX
        m_bound =
            ::unshare(CLONE_NEWNS) == 0 &&
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            ::mount("nodev", QFile::encodeName(m_tracefs.path()).constData(), "tracefs", 0, nullptr) == 0;
        m_bound = m_bound &&
                  ::mount(QFile::encodeName(m_tracefs.filePath(QStringLiteral("trace_pipe"))).constData(),
                          QFile::encodeName(m_path).constData(), nullptr, MS_BIND, nullptr) == 0;
#endif
    }
    ~BlockingFile() {
#ifdef Q_OS_LINUX
        ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
        ::umount2(QFile::encodeName(m_tracefs.path()).constData(), MNT_DETACH);
#endif
    }
    BlockingFile(const BlockingFile&) = delete;
    BlockingFile& operator=(const BlockingFile&) = delete;

    bool isBound() const {
        return m_bound;
    }
    static constexpr const char* kCannotBind =
        "No blocking regular file can be made here: binding a trace pipe over a file needs Linux, root and a "
        "kernel that mounts tracefs in a mount namespace of its own";

private:
    QString m_path;
    QTemporaryDir m_tracefs;
    bool m_bound = false;
};

} // namespace corvane::test
