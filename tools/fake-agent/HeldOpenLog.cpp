#include "AgentTree.h"

#include <QDateTime>
#include <QFile>
#include <QThread>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace corvane::fake {

namespace {

// One file handle for the whole run, opened for appending as the agent's own logger opens it: on Windows it
// lets others read but not write (FILE_SHARE_READ), so a reader that asks for less sharing fails.
class HeldOpenFile {
public:
    explicit HeldOpenFile(const QString& path) {
#ifdef Q_OS_WIN
        m_handle = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), FILE_APPEND_DATA,
                                 FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
#else
        m_file.setFileName(path);
        m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
#endif
    }
    ~HeldOpenFile() {
#ifdef Q_OS_WIN
        if (isOpen())
            ::CloseHandle(m_handle);
#endif
    }
    bool isOpen() const {
#ifdef Q_OS_WIN
        return m_handle != INVALID_HANDLE_VALUE;
#else
        return m_file.isOpen();
#endif
    }
    bool append(const QByteArray& bytes) {
#ifdef Q_OS_WIN
        DWORD written = 0;
        return ::WriteFile(m_handle, bytes.constData(), DWORD(bytes.size()), &written, nullptr) &&
               written == DWORD(bytes.size());
#else
        return m_file.write(bytes) == bytes.size();
#endif
    }

private:
#ifdef Q_OS_WIN
    HANDLE m_handle = INVALID_HANDLE_VALUE;
#else
    QFile m_file;
#endif
};

} // namespace

bool appendToHeldOpenLog(const QString& path, int lines, int intervalMs, QString& error) {
    HeldOpenFile file(path);
    if (!file.isOpen()) {
        error = QStringLiteral("cannot open ") + path;
        return false;
    }
    std::fputs("open\n", stdout);
    std::fflush(stdout);
    for (int line = 1; line <= lines; ++line) {
        QThread::msleep(ulong(intervalMs));
        if (!file.append(stampedLine(QDateTime::currentDateTime(),
                                     QStringLiteral("policy.client.invoker: held open %1").arg(line)))) {
            error = QStringLiteral("cannot append to ") + path;
            return false;
        }
    }
    // Held open until whoever started us says it has seen enough, by closing our standard input.
    while (std::fgetc(stdin) != EOF) {
    }
    return true;
}

} // namespace corvane::fake
