#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QString>

#include <functional>
#include <memory>

namespace corvane {

// How opening or reading one of the agent's files ended, beside the reason in `error`. Its callers tell a
// missing file (often no failure at all: no scheduled-task file, no log yet) apart from one that is there but
// cannot be read, so this status stands where other readers return a bool.
enum class AgentFileStatus {
    Read,       // opened (and read, where the whole content was asked for)
    Missing,    // no file at the path; a folder counts as no file
    Unreadable, // there, but not a regular file, outside its folder, larger than allowed, failing or not
                // answering
};

// How long a read of an agent file may go without progress before the file counts as unreadable. A file on
// a hung network share or an offline cloud placeholder can block a read in the kernel for ever.
constexpr int kDescriptorDeadlineMs = 2000;
constexpr int kAgentFileDeadlineMs = 10000;

struct NativeFile;

// Bytes to read in the same call of the helper thread that opens a file: its first `headBytes`, and from
// `from` on a chunk at most, up to the size it has. A follower that looks at a log's first bytes and at the
// last ones it read, then reads what follows them, asks the helper thread once per tick instead of three
// times: on a busy machine each call's wake-up costs more than reading a megabyte.
struct AgentFileReadAhead {
    qint64 headBytes = 0;
    qint64 from = -1; // none
};

// One of the agent's files, opened by openAgentFile and read through the usual QIODevice calls. Every call
// that reaches the disk runs on a helper thread and is given up once it makes no progress for the deadline:
// the read then fails with "did not answer within N s", while the call left hanging keeps only its own
// thread and the file's handle. Reads ahead a bounded chunk at a time.
class AgentFile : public QIODevice {
public:
    AgentFile() = default;
    ~AgentFile() override;

    bool isSequential() const override { return false; }
    // The size the file had when it was opened.
    qint64 size() const override { return m_size; }
    bool seek(qint64 pos) override;
    void close() override;
    // A read failed or did not answer; errorString() says why. Readers that see only an early end ask.
    bool hasFailed() const { return m_failed; }
    // Reads up to `maxSize` bytes as read() does, but hands them over where they were read to, without a
    // copy: `bytes` holds until the next read. Empty at the end; false, errorString() saying why, on failure.
    bool readView(qint64 maxSize, QByteArrayView& bytes);
    // A read that starts between `from` and `to` (not after the last read) reads on up to `to`, a chunk at
    // most: a reader that reads a few bytes there and then what follows them asks the helper thread once.
    void readAheadBetween(qint64 from, qint64 to) {
        m_hintFrom = from;
        m_hintTo = to;
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    friend AgentFileStatus openAgentFile(AgentFile& file, const QString& path, QString& error,
                                         const AgentFileReadAhead& ahead);
    // Reads the chunk at m_offset into m_ahead, at least `wanted` bytes where the file has them: 1 when it
    // read some, 0 at the end, -1 when the read failed or did not answer.
    int fill(qint64 wanted);
    std::shared_ptr<NativeFile> m_native;
    QString m_path;
    int m_deadlineMs = kAgentFileDeadlineMs;
    qint64 m_size = 0;
    qint64 m_offset = 0; // where the next read starts
    QByteArray m_head;   // the file's first bytes, when they were read with the open
    QByteArray m_ahead;  // bytes read ahead, starting at m_aheadStart
    qint64 m_aheadStart = 0;
    qint64 m_hintFrom = 0;
    qint64 m_hintTo = 0;
    bool m_failed = false;
};

// Opens the agent's file at `path` for reading when it is a regular file whose real location lies inside the
// folder that the path names for it, and never waits to do so: a FIFO, a device or a socket is refused
// without being read, since a read from one may block forever or never end, and a link (or on Windows a
// junction) leading out of the folder is refused without opening its target. The agent may go on writing,
// renaming or deleting the file while it is open: on Windows it is opened sharing reading, writing and
// deleting. A read gives up after kAgentFileDeadlineMs without progress. The bytes `ahead` names are read
// with the open, where the file has them.
AgentFileStatus openAgentFile(AgentFile& file, const QString& path, QString& error,
                              const AgentFileReadAhead& ahead = {});

// Called with each file of readAgentFiles: its status, its whole content when read, and the reason when not.
using AgentFileUse =
    std::function<void(int index, AgentFileStatus status, QByteArray& content, const QString& error)>;

// Reads the files `pathOf(0)` to `pathOf(count - 1)` whole, each opened as openAgentFile opens it and
// refused when it holds more than `maxBytes` (memory never exceeds the bound, even for a file that grows
// while it is read), one after the other on a helper thread, and hands each to `use` in that order; returns
// once all are handed over. A list reads thousands of descriptors, and a hand-over between threads for each
// would cost more than the reads. A file
// that makes no progress for `deadlineMs` is handed over as not answering, and the rest are read by another
// thread. An empty path is not read: it comes as Missing with no reason. `use` runs on the helper threads or
// the calling one, for one file at a time, and never after this returns.
void readAgentFiles(int count, const std::function<QString(int)>& pathOf, qint64 maxBytes, int deadlineMs,
                    const AgentFileUse& use);

// False, with the reason in `error`, when the file at `path` is a link or junction whose real location
// lies outside the folder that the path names for it. For the openers that are not this one's (SQLite).
bool isInsideItsFolder(const QString& path, QString& error);

} // namespace corvane
