#include "agent/WorkstationShare.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#endif

namespace corvane {

namespace {

// The system's sentence as the end of ours: "Access is denied." becomes "access is denied".
QString asClause(QString text) {
    text = text.trimmed();
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    if (text.size() > 1 && text.at(0).isUpper() && !text.at(1).isUpper())
        text[0] = text.at(0).toLower();
    return text;
}

QString named(const QString& root, const QString& clause) {
    return QDir::toNativeSeparators(root) + QStringLiteral(": ") + clause;
}

} // namespace

bool shareReachable(const QString& root, QString& reason) {
#ifdef Q_OS_WIN
    // A share itself ("\\NAME\C$") is asked with its final backslash, as the folder it is.
    QString native = QDir::toNativeSeparators(root);
    if (native.startsWith(QLatin1String("\\\\")) && native.count(QLatin1Char('\\')) == 3)
        native += QLatin1Char('\\');
    const std::wstring path = native.toStdWString();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return true;
        reason = QStringLiteral("not a folder");
        return false;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
        reason = QStringLiteral("not found"); // a folder standing in for a share
        return false;
    }
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString said =
        length ? QString::fromWCharArray(text, int(length)) : QStringLiteral("Windows error %1").arg(code);
    LocalFree(text);
    reason = asClause(said);
    return false;
#else
    struct stat info {};
    if (::stat(QFile::encodeName(root).constData(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return true;
        reason = QStringLiteral("not a folder");
        return false;
    }
    const int code = errno;
    if (code == EACCES || code == EPERM)
        reason = QStringLiteral("access is denied");
    else if (code == ENOENT || code == ENOTDIR)
        reason = QStringLiteral("not found");
    else
        reason = asClause(QString::fromLocal8Bit(std::strerror(code)));
    return false;
#endif
}

bool shareAnswers(const QString& root, QString& error) {
    QString reason;
    if (shareReachable(root, reason))
        return true;
    error = named(root, reason);
    return false;
}

QString didNotAnswerWithin(int deadlineMs) {
    // Tests give shorter deadlines: a tenth of a second is said as such.
    const QString seconds = deadlineMs % 1000 == 0 ? QString::number(deadlineMs / 1000)
                                                   : QString::number(deadlineMs / 1000.0, 'g', 2);
    return QStringLiteral("did not answer within %1 s").arg(seconds);
}

QString shareDidNotAnswer(const QString& root, int deadlineMs) {
    return named(root, didNotAnswerWithin(deadlineMs));
}

} // namespace corvane
