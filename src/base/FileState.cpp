#include "base/FileState.h"

#include "base/AgentFile.h"

#include <QFile>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace corvane {

FileState FileState::of(const QString& path) {
    FileState state;
#ifdef Q_OS_WIN
    // The volume serial number and file index are Windows' inode: a log replaced under the same name is
    // another file. Opened for attributes only, sharing everything, so the agent's writer is never in the
    // way.
    const HANDLE handle = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return state;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(handle, &info);
    ::CloseHandle(handle);
    if (!known)
        return state;
    state.exists = true;
    state.isFile = !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
    state.identity = ((quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow) ^
                     (quint64(info.dwVolumeSerialNumber) << 48);
    state.size = qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    // Ticks of 100 ns: two writes within one millisecond must still differ where the file system can tell.
    state.modifiedNs =
        qint64((quint64(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime) *
        100;
#else
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return state;
    state.exists = true;
    state.isFile = S_ISREG(info.st_mode);
    state.identity = quint64(info.st_ino) ^ (quint64(info.st_dev) << 48);
    state.size = qint64(info.st_size);
    // Nanoseconds: two writes within one millisecond must still differ.
    state.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
#endif
    return state;
}

namespace {

QByteArray bytesAt(QIODevice& file, qint64 from, qint64 count, bool& ok) {
    if (!file.seek(from)) {
        ok = false;
        return QByteArray();
    }
    QByteArray bytes = file.read(count);
    ok = ok && bytes.size() == count;
    return bytes;
}

} // namespace

FileFingerprint FileFingerprint::of(QIODevice& file, qint64 end, const QByteArray& head) {
    FileFingerprint fingerprint;
    fingerprint.end = end;
    if (end <= 0)
        return fingerprint;
    bool ok = true;
    const qint64 tailStart = std::max(kFingerprintSpan, end - kFingerprintSpan);
    if (tailStart < end)
        fingerprint.tail = bytesAt(file, tailStart, end - tailStart, ok);
    fingerprint.head = head.size() == kFingerprintSpan && end >= kFingerprintSpan
                           ? head
                           : bytesAt(file, 0, std::min(end, kFingerprintSpan), ok);
    if (!ok)
        fingerprint.end = -1;
    return fingerprint;
}

bool FileFingerprint::matches(QIODevice& file) const {
    if (end < 0)
        return false;
    // The first bytes first: the last ones come with what follows them, which the reader reads next.
    bool ok = true;
    if (bytesAt(file, 0, std::min(end, kFingerprintSpan), ok) != head || !ok)
        return false;
    const qint64 tailStart = std::max(kFingerprintSpan, end - kFingerprintSpan);
    return tailStart >= end || (bytesAt(file, tailStart, end - tailStart, ok) == tail && ok);
}

GrowingFile::Look GrowingFile::look(const FileState& now, const QString& path) const {
    if (now.unchangedSince(state))
        return Look::Unchanged;
    if (!now.sameFile(state) || now.size < state.size)
        return Look::Restarted;
    AgentFile file;
    QString error;
    if (openAgentFile(file, path, error) != AgentFileStatus::Read)
        return Look::Restarted;
    return look(now, file);
}

GrowingFile::Look GrowingFile::look(const FileState& now, AgentFile& file) const {
    if (now.unchangedSince(state))
        return Look::Unchanged;
    if (!now.sameFile(state) || now.size < state.size || !file.isOpen())
        return Look::Restarted;
    file.readAheadBetween(tailStart(), file.size());
    return fingerprint.matches(file) ? Look::Appended : Look::Restarted;
}

AgentFileReadAhead GrowingFile::readAhead(const FileState& now) const {
    AgentFileReadAhead ahead;
    ahead.from = 0;
    if (!now.sameFile(state) || now.size < state.size)
        return ahead;
    ahead.headBytes = FileFingerprint::kFingerprintSpan;
    ahead.from = tailStart();
    return ahead;
}

void GrowingFile::consume(const FileState& now, QIODevice& file, qint64 end) {
    if (end != consumed || fingerprint.end < 0)
        fingerprint = FileFingerprint::of(file, end, fingerprint.end > 0 ? fingerprint.head : QByteArray());
    consumed = end;
    state = now;
}

} // namespace corvane
