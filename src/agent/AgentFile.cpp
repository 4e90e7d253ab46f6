#include "AgentFile.h"

#include <QDir>
#include <QFile>

#include <algorithm>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace corvane {

namespace {

QString cannotRead(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot read %1: %2").arg(QDir::toNativeSeparators(path), reason);
}

// The descriptor of `path` opened for reading, or -1 with the status and reason set.
int openRegularFile(const QString& path, AgentFileStatus& status, QString& errText) {
#ifdef Q_OS_WIN
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        status = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? AgentFileStatus::Missing
                                                                                : AgentFileStatus::Unreadable;
        errText = cannotRead(path, qt_error_string(int(error)));
        return -1;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        status = AgentFileStatus::Missing;
        errText = cannotRead(path, QStringLiteral("it is a folder"));
        return -1;
    }
    // The agent keeps writing, renaming and deleting its files while they are read: share every mode.
    HANDLE handle =
        CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        status = AgentFileStatus::Unreadable;
        errText = cannotRead(path, qt_error_string(int(GetLastError())));
        return -1;
    }
    // A pipe or a device (NUL, CON, COM1) is no file of the agent's.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        status = AgentFileStatus::Unreadable;
        errText = cannotRead(path, QStringLiteral("it is not a regular file"));
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        status = AgentFileStatus::Unreadable;
        errText = cannotRead(path, QStringLiteral("no file descriptor left"));
    }
    return fd;
#else
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer. The type is checked on the
    // opened descriptor, so a file swapped for a FIFO between a check and the open cannot slip through.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        status = error == ENOENT || error == ENOTDIR ? AgentFileStatus::Missing : AgentFileStatus::Unreadable;
        errText = cannotRead(path, qt_error_string(error));
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const bool folder = S_ISDIR(info.st_mode);
        ::close(fd);
        status = folder ? AgentFileStatus::Missing : AgentFileStatus::Unreadable;
        errText = cannotRead(path, folder ? QStringLiteral("it is a folder")
                                          : QStringLiteral("it is not a regular file"));
        return -1;
    }
    // A regular file never blocks; reads go back to the usual mode.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
#endif
}

} // namespace

AgentFileStatus openAgentFile(QFile& file, const QString& path, QString& errText) {
    AgentFileStatus status = AgentFileStatus::Read;
    const int fd = openRegularFile(path, status, errText);
    if (fd < 0)
        return status;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
#ifdef Q_OS_WIN
        ::_close(fd);
#else
        ::close(fd);
#endif
        errText = cannotRead(path, file.errorString());
        return AgentFileStatus::Unreadable;
    }
    return AgentFileStatus::Read;
}

AgentFileStatus readAgentFile(const QString& path, qint64 maxBytes, QByteArray& content, QString& errText) {
    content.clear();
    QFile file;
    const AgentFileStatus status = openAgentFile(file, path, errText);
    if (status != AgentFileStatus::Read)
        return status;
    const auto tooLarge = [&] {
        content.clear();
        errText = cannotRead(path, QStringLiteral("it holds more than %1 bytes").arg(maxBytes));
        return AgentFileStatus::Unreadable;
    };
    if (file.size() > maxBytes)
        return tooLarge();
    // Read up to one byte past the bound, in steps that follow the file's size, so that a file growing
    // while it is read is still caught at the bound.
    constexpr qint64 kStep = 1024 * 1024;
    qint64 filled = 0;
    content.resize(qsizetype(std::min(file.size(), maxBytes) + 1));
    for (;;) {
        if (filled == content.size()) {
            if (filled > maxBytes)
                return tooLarge();
            content.resize(qsizetype(std::min(filled + kStep, maxBytes + 1)));
        }
        const qint64 got = file.read(content.data() + filled, content.size() - filled);
        if (got < 0) {
            content.clear();
            errText = cannotRead(path, file.errorString());
            return AgentFileStatus::Unreadable;
        }
        if (got == 0)
            break;
        filled += got;
    }
    if (filled > maxBytes)
        return tooLarge();
    content.resize(qsizetype(filled));
    return AgentFileStatus::Read;
}

} // namespace corvane
