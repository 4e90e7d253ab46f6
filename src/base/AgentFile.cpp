#include "base/AgentFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace corvane {

// The handle of one opened agent file. Shared by its AgentFile and the call reading it, so that a call left
// hanging closes the handle itself once the kernel lets it go.
struct NativeFile {
#ifdef Q_OS_WIN
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~NativeFile() {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
#else
    int fd = -1;
    ~NativeFile() {
        if (fd >= 0)
            ::close(fd);
    }
#endif
    // Reads up to `size` bytes at `offset`: the count, 0 at the end, or -1 with the reason in `error`.
    qint64 readAt(qint64 offset, char* data, qint64 size, QString& error);
};

namespace {

using namespace std::chrono_literals;

QString cannotRead(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot read %1: %2").arg(QDir::toNativeSeparators(path), reason);
}

QString noPermission(const QString& path) {
    return QStringLiteral("no permission to read %1").arg(QDir::toNativeSeparators(path));
}

QString noAnswer(int deadlineMs) {
    return QStringLiteral("it did not answer within %1 s").arg(deadlineMs / 1000);
}

const QString kLinkOutside = QStringLiteral("it is a link outside the agent's folder");

// The most a call of the helper thread reads: memory stays at one such chunk.
constexpr qint64 kMaxReadAhead = 4 * 1024 * 1024;

// Threads that run the calls which may block in the kernel. Never destroyed: a thread stuck in a read may
// outlive main(), and must find its queue still there when it comes back.
class BlockingCallThreads {
public:
    static BlockingCallThreads& instance() {
        static auto* threads = new BlockingCallThreads;
        return *threads;
    }
    // False when no thread could be started for the call.
    bool start(std::function<void()> call) {
        std::unique_lock lock(m_mutex);
        m_queue.push_back(std::move(call));
        if (m_idle >= qsizetype(m_queue.size())) {
            // Woken after the lock is let go, the thread does not wake only to wait for it.
            lock.unlock();
            m_wake.notify_one();
            return true;
        }
        try {
            std::thread([this] { serve(); }).detach();
        } catch (const std::system_error&) {
            m_queue.pop_back();
            return false;
        }
        return true;
    }

private:
    void serve() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            ++m_idle;
            const bool woken = m_wake.wait_for(lock, 30s, [this] { return !m_queue.empty(); });
            --m_idle;
            if (!woken)
                return; // idle for long: the next busy moment starts a new one
            std::function<void()> call = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            call();
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
    qsizetype m_idle = 0;
};

// The paths whose last call still hangs. A file that did not answer is not asked again until that call has
// returned, so a hung file costs one thread however often the list is read. Never destroyed, as the threads.
struct HungPaths {
    std::mutex mutex;
    std::set<QString> paths;
};
HungPaths& hungPaths() {
    static auto* hung = new HungPaths;
    return *hung;
}

bool isHanging(const QString& path) {
    std::lock_guard lock(hungPaths().mutex);
    return hungPaths().paths.count(path) > 0;
}

struct CallState {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::atomic<qint64> progress{0};
};

// Runs `call` on a helper thread, handing it a counter to raise as it makes progress. True once it has
// returned; false when it went `deadlineMs` without progress: it then runs on alone, its results are
// dropped, and `path` counts as hanging until it returns. Whatever `call` writes must be owned by it.
bool callWithDeadline(const QString& path, int deadlineMs, std::function<void(std::atomic<qint64>&)> call) {
    if (isHanging(path))
        return false;
    auto state = std::make_shared<CallState>();
    const bool started =
        BlockingCallThreads::instance().start([state, path, call = std::move(call)]() mutable {
            call(state->progress);
            // What the call holds (an open file) goes before the caller is told: the file is closed as soon
            // as its reader closes it, and the agent can replace it at once (on Windows an open handle would
            // stand in the way).
            call = nullptr;
            {
                std::lock_guard lock(state->mutex);
                state->done = true;
            }
            state->finished.notify_all();
            std::lock_guard lock(hungPaths().mutex);
            hungPaths().paths.erase(path);
        });
    if (!started)
        return false;
    std::unique_lock lock(state->mutex);
    qint64 seen = state->progress;
    while (
        !state->finished.wait_for(lock, std::chrono::milliseconds(deadlineMs), [&] { return state->done; })) {
        const qint64 now = state->progress;
        if (now == seen) {
            // Marked while the call cannot finish (it needs this lock), so it always unmarks after.
            std::lock_guard hungLock(hungPaths().mutex);
            hungPaths().paths.insert(path);
            return false;
        }
        seen = now;
    }
    return true;
}

bool isInside(const QString& real, const QString& folder) {
    if (real.isEmpty() || folder.isEmpty())
        return false;
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity sensitivity = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity sensitivity = Qt::CaseSensitive;
#endif
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    return real.startsWith(prefix, sensitivity);
}

#ifdef Q_OS_WIN
// The real path of an open handle, with the drive form Qt uses; empty when it cannot be had.
QString finalPath(HANDLE handle) {
    wchar_t buffer[MAX_PATH * 4];
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer, DWORD(std::size(buffer)), 0);
    if (length == 0 || length >= std::size(buffer))
        return QString();
    QString path = QString::fromWCharArray(buffer, int(length));
    if (path.startsWith(QLatin1String("\\\\?\\UNC\\")))
        path = QStringLiteral("\\\\") + path.mid(8);
    else if (path.startsWith(QLatin1String("\\\\?\\")))
        path = path.mid(4);
    return QDir::fromNativeSeparators(path);
}

// The real path of what `name` leads to, opened without asking for its data.
QString finalPathOf(const std::wstring& name) {
    HANDLE handle = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return QString();
    const QString path = finalPath(handle);
    CloseHandle(handle);
    return path;
}

#endif

QString realFolderOf(const QString& path) {
    return QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
}

// Whether `real` lies inside the real location of the folder that `path` names. A list reads thousands of
// descriptors of one folder: its real location is looked up once, and again only when a file seems outside
// it (the folder may have moved since).
bool isInsideFolderOf(const QString& real, const QString& path) {
    struct Known {
        std::mutex mutex;
        QString folder;
        QString realFolder;
    };
    static auto* known = new Known; // never destroyed: helper threads may outlive main()
    const QString folder = QFileInfo(path).absolutePath();
    {
        std::lock_guard lock(known->mutex);
        if (known->folder == folder && isInside(real, known->realFolder))
            return true;
    }
#ifdef Q_OS_WIN
    const QString realFolder = finalPathOf(QDir::toNativeSeparators(folder).toStdWString());
#else
    const QString realFolder = QFileInfo(folder).canonicalFilePath();
#endif
    std::lock_guard lock(known->mutex);
    known->folder = folder;
    known->realFolder = realFolder;
    return isInside(real, realFolder);
}

struct Opened {
    AgentFileStatus status = AgentFileStatus::Read;
    QString error;
    std::shared_ptr<NativeFile> file;
    qint64 size = 0;
};

// The names of the entries of one folder, as they really are, for a list that reads many of its files.
struct FolderNames {
    QString folder; // as the paths name it, without the final separator
    QSet<QString> names;
};

#ifdef Q_OS_WIN
QString folderPart(const QString& path) {
    return path.left(std::max<qsizetype>(path.lastIndexOf(QLatin1Char('/')), 0));
}
#endif

#ifdef Q_OS_WIN
// Whether Windows takes `fileName` for a device (NUL, CON, COM1, ...), whatever its extension.
bool isDeviceName(const QString& fileName) {
    static const QStringList kDevices = {
        QStringLiteral("CON"),  QStringLiteral("PRN"),  QStringLiteral("AUX"),  QStringLiteral("NUL"),
        QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"), QStringLiteral("COM4"),
        QStringLiteral("COM5"), QStringLiteral("COM6"), QStringLiteral("COM7"), QStringLiteral("COM8"),
        QStringLiteral("COM9"), QStringLiteral("LPT1"), QStringLiteral("LPT2"), QStringLiteral("LPT3"),
        QStringLiteral("LPT4"), QStringLiteral("LPT5"), QStringLiteral("LPT6"), QStringLiteral("LPT7"),
        QStringLiteral("LPT8"), QStringLiteral("LPT9")};
    const QString base = fileName.section(QLatin1Char('.'), 0, 0).trimmed();
    return kDevices.contains(base, Qt::CaseInsensitive);
}

// The names in `folder`, or nothing when it holds more than `atMost` entries (a list of a few files in a
// large folder opens them the long way) or cannot be listed.
std::optional<FolderNames> listFolder(const QString& folder, qsizetype atMost) {
    WIN32_FIND_DATAW entry{};
    const std::wstring pattern = QDir::toNativeSeparators(folder + QStringLiteral("/*")).toStdWString();
    HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE)
        return std::nullopt;
    FolderNames listed;
    listed.folder = folder;
    bool fits = true;
    do {
        listed.names.insert(QString::fromWCharArray(entry.cFileName));
        fits = listed.names.size() <= atMost;
    } while (fits && FindNextFileW(find, &entry));
    FindClose(find);
    if (!fits)
        return std::nullopt;
    return listed;
}

// Opens a file whose name the folder's listing holds exactly: one CreateFile and one query of its size
// and kind. Being in the listing, it is no device, no other file's alias and not another case of its name;
// a link or anything else that is no plain file is left to the long way (false).
bool openListed(const std::wstring& name, Opened& opened) {
    // FILE_FLAG_OPEN_REPARSE_POINT: a link is opened as itself, so that its target is never opened here.
    HANDLE handle =
        CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    auto file = std::make_shared<NativeFile>();
    file->handle = handle;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)))
        return false;
    opened.size = qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    opened.file = std::move(file);
    return true;
}

void openNative(const QString& path, Opened& opened, const FolderNames* listed = nullptr) {
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    if (listed) {
        const QString fileName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        if (listed->folder == folderPart(path) && listed->names.contains(fileName) &&
            !isDeviceName(fileName) && !fileName.endsWith(QLatin1Char('.')) &&
            !fileName.endsWith(QLatin1Char(' ')) && openListed(name, opened))
            return;
    }
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        opened.status = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                            ? AgentFileStatus::Missing
                            : AgentFileStatus::Unreadable;
        opened.error = cannotRead(path, qt_error_string(int(error)));
        return;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        opened.status = AgentFileStatus::Missing;
        opened.error = cannotRead(path, QStringLiteral("it is a folder"));
        return;
    }
    // A symbolic link or junction is followed only where it stays in the folder: its target is looked up
    // without being opened for reading.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !isInsideFolderOf(finalPathOf(name), path)) {
        opened.status = AgentFileStatus::Unreadable;
        opened.error = cannotRead(path, kLinkOutside);
        return;
    }
    // The agent keeps writing, renaming and deleting its files while they are read: share every mode.
    HANDLE handle =
        CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        opened.status = AgentFileStatus::Unreadable;
        opened.error =
            error == ERROR_ACCESS_DENIED ? noPermission(path) : cannotRead(path, qt_error_string(int(error)));
        return;
    }
    auto file = std::make_shared<NativeFile>();
    file->handle = handle;
    // A pipe or a device (NUL, CON, COM1) is no file of the agent's.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        opened.status = AgentFileStatus::Unreadable;
        opened.error = cannotRead(path, QStringLiteral("it is not a regular file"));
        return;
    }
    const QString real = finalPath(handle);
    if (!isInsideFolderOf(real, path)) {
        opened.status = AgentFileStatus::Unreadable;
        opened.error = cannotRead(path, kLinkOutside);
        return;
    }
    // Windows finds a file under another case, a short 8.3 alias, or with trailing dots or spaces dropped:
    // that is another file of the agent's, not the one named.
    if (QFileInfo(real).fileName() != QFileInfo(path).fileName()) {
        opened.status = AgentFileStatus::Missing;
        opened.error =
            cannotRead(path, QStringLiteral("its real name is %1").arg(QFileInfo(real).fileName()));
        return;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size)) {
        opened.status = AgentFileStatus::Unreadable;
        opened.error = cannotRead(path, qt_error_string(int(GetLastError())));
        return;
    }
    opened.size = size.QuadPart;
    opened.file = std::move(file);
}
#else
// Where the open descriptor `fd` really is.
QString realPathOf(int fd, const QString& path) {
#ifdef Q_OS_LINUX
    char target[PATH_MAX + 1];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t length = ::readlink(link.constData(), target, PATH_MAX);
    if (length > 0)
        return QFile::decodeName(QByteArray(target, qsizetype(length)));
#else
    Q_UNUSED(fd);
#endif
    return QFileInfo(path).canonicalFilePath();
}

void openNative(const QString& path, Opened& opened, const FolderNames* = nullptr) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer. O_NOFOLLOW: a final link is
    // looked at before its target is opened. The type and the place are checked on the opened descriptor,
    // so a file swapped between a check and the open cannot slip through. A list opens thousands of
    // descriptors: a plain file costs an open, an fstat and the close, and only a link is looked at further.
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW;
    QString opening = path;
    int fd = ::open(QFile::encodeName(path).constData(), kFlags);
    // Opened without a link as its last step, the file lies in the folder the path names, wherever that
    // folder really is; opened through a link, where it really is is checked once it is open.
    bool throughLink = false;
    if (fd < 0 && errno == ELOOP) {
        opening = QFileInfo(path).canonicalFilePath();
        if (opening.isEmpty()) { // a link to nothing
            opened.status = AgentFileStatus::Missing;
            opened.error = cannotRead(path, QStringLiteral("it is a link to no file"));
            return;
        }
        if (!isInsideFolderOf(opening, path)) {
            opened.status = AgentFileStatus::Unreadable;
            opened.error = cannotRead(path, kLinkOutside);
            return;
        }
        throughLink = true;
        fd = ::open(QFile::encodeName(opening).constData(), kFlags);
    }
    if (fd < 0) {
        const int error = errno;
        opened.status =
            error == ENOENT || error == ENOTDIR ? AgentFileStatus::Missing : AgentFileStatus::Unreadable;
        opened.error = error == EACCES ? noPermission(path) : cannotRead(path, qt_error_string(error));
        return;
    }
    auto file = std::make_shared<NativeFile>();
    file->fd = fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const bool folder = S_ISDIR(info.st_mode);
        opened.status = folder ? AgentFileStatus::Missing : AgentFileStatus::Unreadable;
        opened.error = cannotRead(path, folder ? QStringLiteral("it is a folder")
                                               : QStringLiteral("it is not a regular file"));
        return;
    }
    if (throughLink && !isInsideFolderOf(realPathOf(fd, opening), path)) {
        opened.status = AgentFileStatus::Unreadable;
        opened.error = cannotRead(path, kLinkOutside);
        return;
    }
    // O_NONBLOCK stays: a regular file reads the same with it. The few special ones that answer "try again"
    // instead (a kernel trace pipe) are put back in the usual mode by their first read.
    opened.size = qint64(info.st_size);
    opened.file = std::move(file);
}
#endif

} // namespace

qint64 NativeFile::readAt(qint64 offset, char* data, qint64 size, QString& error) {
#ifdef Q_OS_WIN
    OVERLAPPED at{};
    at.Offset = DWORD(quint64(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = DWORD(quint64(offset) >> 32);
    DWORD got = 0;
    if (!ReadFile(handle, data, DWORD(std::min<qint64>(size, 1 << 30)), &got, &at)) {
        const DWORD failure = GetLastError();
        if (failure == ERROR_HANDLE_EOF)
            return 0;
        error = qt_error_string(int(failure));
        return -1;
    }
    return qint64(got);
#else
    for (;;) {
        const size_t wanted = size_t(std::min<qint64>(size, 1 << 30));
        ssize_t got = ::pread(fd, data, wanted, off_t(offset));
        // A regular file that cannot seek (a kernel pipe file) is read as a stream, from where it stands.
        if (got < 0 && errno == ESPIPE)
            got = ::read(fd, data, wanted);
        if (got >= 0)
            return qint64(got);
        const int failure = errno;
        if (failure == EINTR)
            continue;
        // A special file that refuses a read without blocking ("try again", "busy": a kernel trace pipe)
        // is asked again in the usual mode, which may wait; the caller's deadline guards that.
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0 && (flags & O_NONBLOCK) && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0)
            continue;
        error = qt_error_string(failure);
        return -1;
    }
#endif
}

AgentFile::~AgentFile() {
    AgentFile::close();
}

void AgentFile::close() {
    QIODevice::close();
    m_native.reset(); // a call still hanging on it keeps it until it returns
    m_head.clear();
    m_ahead.clear();
    m_offset = 0;
    m_aheadStart = 0;
    m_hintFrom = m_hintTo = 0;
    m_failed = false;
}

bool AgentFile::seek(qint64 pos) {
    if (!QIODevice::seek(pos))
        return false;
    m_offset = pos;
    return true;
}

int AgentFile::fill(qint64 wanted) {
    // Each call to the helper reads what was asked and at most a large chunk, so memory stays at one chunk.
    // A read right after the last one (the XML reader asks for a few kilobytes at a time) reads ahead four
    // times what the last one did; a read elsewhere (a fingerprint of a few kilobytes) reads no more than
    // a small chunk. A log read a few megabytes at a time takes one call per chunk, into the same buffer.
    constexpr qint64 kMinReadAhead = 4 * 1024;
    if (!m_native)
        return -1;
    struct Chunk {
        QByteArray bytes;
        QString error;
        qint64 got = 0;
    };
    auto chunk = std::make_shared<Chunk>();
    const bool following = !m_ahead.isEmpty() && m_offset == m_aheadStart + m_ahead.size();
    const bool hinted = m_offset >= m_hintFrom && m_offset < m_hintTo;
    const qint64 ahead = following ? std::min<qint64>(m_ahead.size() * 4, kMaxReadAhead)
                         : hinted  ? std::min<qint64>(m_hintTo - m_offset, kMaxReadAhead)
                                   : kMinReadAhead;
    wanted = std::clamp(wanted, ahead, kMaxReadAhead);
    chunk->bytes = std::move(m_ahead); // its memory is used again
    chunk->bytes.resize(qsizetype(wanted));
    const qint64 offset = m_offset;
    const bool answered = callWithDeadline(
        m_path, m_deadlineMs, [chunk, native = m_native, offset, wanted](std::atomic<qint64>&) {
            chunk->got = native->readAt(offset, chunk->bytes.data(), wanted, chunk->error);
        });
    if (!answered || chunk->got < 0) {
        setErrorString(cannotRead(m_path, answered ? chunk->error : noAnswer(m_deadlineMs)));
        m_native.reset(); // nothing more is asked of a file that failed
        m_failed = true;
        return -1;
    }
    chunk->bytes.truncate(qsizetype(chunk->got));
    m_ahead = std::move(chunk->bytes);
    m_aheadStart = offset;
    return chunk->got > 0 ? 1 : 0;
}

qint64 AgentFile::readData(char* data, qint64 maxSize) {
    qint64 copied = 0;
    if (m_offset < m_head.size()) {
        copied = std::min<qint64>(maxSize, m_head.size() - m_offset);
        std::copy_n(m_head.constData() + m_offset, copied, data);
        m_offset += copied;
    }
    while (copied < maxSize) {
        const qint64 inAhead = m_offset - m_aheadStart;
        if (inAhead < 0 || inAhead >= m_ahead.size()) {
            const int filled = fill(maxSize - copied);
            if (filled < 0)
                return copied > 0 ? copied : -1;
            if (filled == 0)
                break;
            continue;
        }
        const qint64 count = std::min<qint64>(maxSize - copied, m_ahead.size() - inAhead);
        std::copy_n(m_ahead.constData() + inAhead, count, data + copied);
        copied += count;
        m_offset += count;
    }
    return copied;
}

bool AgentFile::readView(qint64 maxSize, QByteArrayView& bytes) {
    bytes = QByteArrayView();
    if (!isOpen())
        return false;
    if (m_offset < m_head.size()) {
        const qint64 count = std::min<qint64>(maxSize, m_head.size() - m_offset);
        bytes = QByteArrayView(m_head).sliced(qsizetype(m_offset), qsizetype(count));
        return seek(m_offset + count);
    }
    qint64 inAhead = m_offset - m_aheadStart;
    if (inAhead < 0 || inAhead >= m_ahead.size()) {
        const int filled = fill(maxSize);
        if (filled <= 0)
            return filled == 0;
        inAhead = 0;
    }
    const qint64 count = std::min<qint64>(maxSize, m_ahead.size() - inAhead);
    bytes = QByteArrayView(m_ahead.constData() + inAhead, count);
    return seek(m_offset + count);
}

AgentFileStatus openAgentFile(AgentFile& file, const QString& path, QString& error,
                              const AgentFileReadAhead& ahead) {
    constexpr int deadlineMs = kAgentFileDeadlineMs;
    file.close();
    struct OpenedAhead : Opened {
        QByteArray head;
        QByteArray ahead;
    };
    auto opened = std::make_shared<OpenedAhead>();
    if (!callWithDeadline(path, deadlineMs, [opened, path, ahead](std::atomic<qint64>& progress) {
            openNative(path, *opened);
            if (opened->status != AgentFileStatus::Read)
                return;
            // What cannot be read here is read, or fails, through the usual calls later.
            const auto readAt = [&](qint64 from, qint64 count, QByteArray& bytes) {
                bytes.resize(qsizetype(std::max<qint64>(count, 0)));
                QString ignored;
                qint64 filled = 0;
                while (filled < count) {
                    const qint64 got =
                        opened->file->readAt(from + filled, bytes.data() + filled, count - filled, ignored);
                    if (got <= 0)
                        break;
                    filled += got;
                    ++progress;
                }
                bytes.truncate(qsizetype(filled));
            };
            if (ahead.headBytes > 0)
                readAt(0, std::min(ahead.headBytes, opened->size), opened->head);
            if (ahead.from >= 0 && ahead.from < opened->size)
                readAt(ahead.from, std::min(opened->size - ahead.from, kMaxReadAhead), opened->ahead);
        })) {
        error = cannotRead(path, noAnswer(deadlineMs));
        return AgentFileStatus::Unreadable;
    }
    if (opened->status != AgentFileStatus::Read) {
        error = opened->error;
        return opened->status;
    }
    file.m_native = std::move(opened->file);
    file.m_path = path;
    file.m_deadlineMs = deadlineMs;
    file.m_size = opened->size;
    file.m_head = std::move(opened->head);
    file.m_ahead = std::move(opened->ahead);
    file.m_aheadStart = std::max<qint64>(ahead.from, 0);
    file.QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    return AgentFileStatus::Read;
}

namespace {

// Opens and reads the whole of `path` into `opened` and `bytes`, raising `progress` at every step; see
// readAgentFiles. Runs on a helper thread.
void readWhole(const QString& path, qint64 maxBytes, Opened& opened, QByteArray& bytes,
               std::atomic<qint64>& progress, const FolderNames* listed = nullptr) {
    openNative(path, opened, listed);
    if (opened.status != AgentFileStatus::Read)
        return;
    const auto tooLarge = [&] {
        bytes.clear();
        opened.status = AgentFileStatus::Unreadable;
        opened.error = cannotRead(path, QStringLiteral("it holds more than %1 bytes").arg(maxBytes));
    };
    if (opened.size > maxBytes)
        return tooLarge();
    // Read up to one byte past the bound, in steps that follow the file's size, so that a file growing while
    // it is read is still caught at the bound.
    constexpr qint64 kStep = 1024 * 1024;
    qint64 filled = 0;
    bytes.resize(qsizetype(std::min(opened.size, maxBytes) + 1));
    for (;;) {
        if (filled == bytes.size()) {
            if (filled > maxBytes)
                return tooLarge();
            bytes.resize(qsizetype(std::min(filled + kStep, maxBytes + 1)));
        }
        QString error;
        const qint64 asked = std::min<qint64>(bytes.size() - filled, kStep);
        const qint64 got = opened.file->readAt(filled, bytes.data() + filled, asked, error);
        if (got < 0) {
            bytes.clear();
            opened.status = AgentFileStatus::Unreadable;
            opened.error = cannotRead(path, error);
            return;
        }
        if (got == 0)
            break;
        filled += got;
        ++progress;
        // A read that stops short at the size the file had when it was opened has met the end: a regular
        // file is not asked again only to answer 0. One that grew meanwhile filled the byte past that size
        // and is read on.
        if (got < asked && filled == opened.size)
            break;
    }
    if (filled > maxBytes)
        return tooLarge();
    bytes.resize(qsizetype(filled));
    opened.file.reset(); // closed at once
}

} // namespace

void readAgentFiles(int count, const std::function<QString(int)>& pathOf, qint64 maxBytes, int deadlineMs,
                    const AgentFileUse& use) {
    // Shared by the calling thread and the reading threads. A reader whose file stopped answering is left
    // behind by raising the generation: it neither hands that file over nor reads another.
    struct Batch {
        std::mutex mutex;
        std::condition_variable changed;
        int next = 0; // the file to read next
        int generation = 0;
        std::atomic<qint64> progress{0};
        std::function<QString(int)> pathOf;
        AgentFileUse use;
        // On Windows the folder of the files is listed once, by the first reader: a file whose name the
        // listing holds exactly needs no look at its real name.
        bool listing = false;
        std::shared_ptr<const FolderNames> listed;
    };
    auto batch = std::make_shared<Batch>();
    batch->pathOf = pathOf;
    batch->use = use;
    const int total = count;
    const auto reader = [batch, total, maxBytes, deadlineMs](int generation) {
        return [batch, total, maxBytes, deadlineMs, generation] {
            std::unique_lock lock(batch->mutex);
#ifdef Q_OS_WIN
            // A single file is opened the long way: a listing would cost more than it saves.
            if (!std::exchange(batch->listing, true) && total > 1 && batch->next < total) {
                const int first = batch->next;
                const QString folder = folderPart(batch->pathOf(first));
                lock.unlock();
                std::optional<FolderNames> names = listFolder(folder, 4 * qsizetype(total) + 64);
                lock.lock();
                if (batch->generation != generation) { // given up on while it listed: the first file was
                    std::lock_guard hungLock(hungPaths().mutex); // named as not answering
                    hungPaths().paths.erase(batch->pathOf(first));
                    return;
                }
                if (names)
                    batch->listed = std::make_shared<const FolderNames>(std::move(*names));
            }
#endif
            const std::shared_ptr<const FolderNames> listed = batch->listed;
            while (batch->generation == generation && batch->next < total) {
                const int index = batch->next;
                lock.unlock();
                const QString path = batch->pathOf(index);
                Opened opened;
                QByteArray bytes;
                if (path.isEmpty()) {
                    opened.status = AgentFileStatus::Missing;
                } else if (isHanging(path)) {
                    opened.status = AgentFileStatus::Unreadable;
                    opened.error = cannotRead(path, noAnswer(deadlineMs));
                } else {
                    readWhole(path, maxBytes, opened, bytes, batch->progress, listed.get());
                }
                lock.lock();
                if (batch->generation != generation) { // given up on while it read
                    std::lock_guard hungLock(hungPaths().mutex);
                    hungPaths().paths.erase(path);
                    return;
                }
                batch->use(index, opened.status, bytes, opened.error);
                batch->next = index + 1;
                ++batch->progress;
                // The caller looks at the progress once per deadline; waking it for every file would cost
                // two thread switches per file.
                if (batch->next == total)
                    batch->changed.notify_all();
            }
        };
    };
    std::unique_lock lock(batch->mutex);
    if (total <= 0)
        return;
    bool started = BlockingCallThreads::instance().start(reader(batch->generation));
    qint64 seen = batch->progress;
    while (batch->next < total) {
        if (started && (batch->changed.wait_for(lock, std::chrono::milliseconds(deadlineMs)),
                        batch->next >= total || batch->progress != seen)) {
            seen = batch->progress;
            continue;
        }
        // The file being read did not answer (or no thread could read it): it is handed over as such, and
        // the rest is read by a new reader.
        const int index = batch->next;
        const QString path = batch->pathOf(index);
        ++batch->generation;
        if (started) {
            std::lock_guard hungLock(hungPaths().mutex);
            hungPaths().paths.insert(path);
        }
        QByteArray none;
        batch->use(index, AgentFileStatus::Unreadable, none, cannotRead(path, noAnswer(deadlineMs)));
        batch->next = index + 1;
        if (batch->next < total)
            started = BlockingCallThreads::instance().start(reader(batch->generation));
        seen = batch->progress;
    }
    ++batch->generation; // no reader hands anything over once this has returned
}

bool isInsideItsFolder(const QString& path, QString& error) {
    const QFileInfo info(path);
    if (!info.exists())
        return true; // nothing there to lead anywhere
    if (isInside(info.canonicalFilePath(), realFolderOf(path)))
        return true;
    error = cannotRead(path, kLinkOutside);
    return false;
}

} // namespace corvane
