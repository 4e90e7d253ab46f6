#include "agent/ScheduledTasks.h"

#include "agent/AgentTime.h"
#include "agent/TaskRecord.h"
#include "agent/TaskTable.h"

#include "base/AgentFile.h"

#include <QBuffer>
#include <QDir>
#include <QIODevice>
#include <QXmlStreamReader>

#include <algorithm>
#include <functional>
#include <optional>

namespace corvane {

namespace {

// A real file holds hundreds of tasks in kilobytes. The bound leaves room for an agent with millions of
// tasks while keeping a file that never ends out of memory.
constexpr qint64 kMaxScheduledTasksBytes = 512 * 1024 * 1024;

// A task that the file names again appends its fields to its record once more. A file naming one task
// millions of times made that record hundreds of megabytes, split again at every rebuild; past this length
// the repetitions are left out.
constexpr qsizetype kMaxRepeatedRecordLength = 4096;

// Real files nest three levels. Each open level costs the XML reader memory until it closes, so 20 million
// nested elements took gigabytes; past this depth the file is not read.
constexpr int kMaxXmlDepth = 256;

// A declared entity may expand to this many characters at most, so a small file cannot grow into gigabytes.
constexpr int kEntityExpansionLimit = 4096;

// The line and column (both from 1, the column in characters) of the first byte of `document` that is not
// UTF-8, read from its start in chunks; false when every byte is. The XML reader decodes ahead of what it
// parses and names line 1 for a bad byte anywhere in its first chunk.
bool firstInvalidUtf8(QIODevice& document, qint64& line, qint64& column) {
    if (!document.seek(0))
        return false;
    line = 1;
    column = 1;
    int continuations = 0; // still expected in the current character
    constexpr qint64 kChunk = 1024 * 1024;
    QByteArray chunk(kChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 got = document.read(chunk.data(), kChunk);
        if (got <= 0)
            return false;
        for (qint64 i = 0; i < got; ++i) {
            const auto byte = uchar(chunk.at(i));
            if (continuations > 0) {
                if ((byte & 0xC0) != 0x80)
                    return true;
                --continuations;
                continue;
            }
            if (byte == '\n') {
                ++line;
                column = 1;
                continue;
            }
            if (byte >= 0xC2 && byte <= 0xDF)
                continuations = 1;
            else if (byte >= 0xE0 && byte <= 0xEF)
                continuations = 2;
            else if (byte >= 0xF0 && byte <= 0xF4)
                continuations = 3;
            else if (byte >= 0x80)
                return true;
            ++column;
        }
    }
}

// A file in the plain form the agent writes is read this large at most without the XML reader: decoding
// every byte to text and the reader's own bookkeeping were most of a list's read of it.
constexpr qint64 kMaxPlainDocumentBytes = 16 * 1024 * 1024;

// One "task" child of the root in a plain document, as its attribute values (each empty when absent).
struct PlainTask {
    QByteArrayView id;
    QByteArrayView state;
    QByteArrayView time;
    bool complete = false;
};

// Reads a document written in the plain form: an optional declaration of version 1.0 in UTF-8, the root,
// and children of the root without content (or with white space only) whose attribute values are printable
// ASCII without '&', '<' or white space other than spaces; only ASCII anywhere, white space between the
// parts, no comment, processing instruction, DOCTYPE, namespace or text. Such a document is well-formed, and
// every reader of XML takes it for these tasks. Nothing (the caller then uses the XML reader) for anything
// else, well-formed or not.
class PlainDocument {
public:
    explicit PlainDocument(QByteArrayView bytes)
        : m_bytes(bytes) {}

    std::optional<QList<PlainTask>> tasks() {
        QList<PlainTask> tasks;
        for (const char c : m_bytes) {
            const auto byte = uchar(c);
            if (byte >= 0x80 || (byte < 0x20 && !isSpace(c)) || byte == 0x7F)
                return std::nullopt;
        }
        if (m_bytes.startsWith("<?xml") && !declaration())
            return std::nullopt;
        skipSpace();
        QByteArrayView root;
        bool empty = false;
        if (!startTag(root, nullptr, empty))
            return std::nullopt;
        while (!empty) {
            skipSpace();
            if (m_bytes.sliced(m_at).startsWith("</")) {
                if (!endTag(root))
                    return std::nullopt;
                break;
            }
            QByteArrayView name;
            PlainTask task;
            bool childEmpty = false;
            if (!startTag(name, &task, childEmpty))
                return std::nullopt;
            if (!childEmpty) {
                skipSpace();
                if (!endTag(name))
                    return std::nullopt;
            }
            if (name == "task" && task.complete)
                tasks.append(task);
        }
        skipSpace();
        if (m_at != m_bytes.size())
            return std::nullopt;
        return tasks;
    }

private:
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    static bool isNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
    static bool isNameChar(char c) {
        return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
    }

    bool atEnd() const { return m_at >= m_bytes.size(); }
    char current() const { return m_bytes.at(m_at); }
    bool skipSpace() {
        const qsizetype from = m_at;
        while (!atEnd() && isSpace(current()))
            ++m_at;
        return m_at > from;
    }
    bool name(QByteArrayView& into) {
        const qsizetype from = m_at;
        if (atEnd() || !isNameStart(current()))
            return false;
        while (!atEnd() && isNameChar(current()))
            ++m_at;
        into = m_bytes.sliced(from, m_at - from);
        // "xml" in any case begins the names the standard keeps for itself (xmlns declares a namespace).
        return into.size() < 3 || into.first(3).compare("xml", Qt::CaseInsensitive) != 0;
    }
    bool quoted(QByteArrayView& into) {
        if (atEnd() || (current() != '"' && current() != '\''))
            return false;
        const char quote = current();
        const qsizetype from = ++m_at;
        while (!atEnd() && current() != quote) {
            const char c = current();
            if (c == '<' || c == '&' || (isSpace(c) && c != ' '))
                return false;
            ++m_at;
        }
        if (atEnd())
            return false;
        into = m_bytes.sliced(from, m_at - from);
        ++m_at;
        return true;
    }
    // The '=' after an attribute's name and its quoted value, with any white space around the '='.
    bool equalsValue(QByteArrayView& value) {
        skipSpace();
        if (atEnd() || current() != '=')
            return false;
        ++m_at;
        skipSpace();
        return quoted(value);
    }
    // name="value" pairs up to '>' or "/>"; the three a task reads go to `task`, when given.
    bool startTag(QByteArrayView& tagName, PlainTask* task, bool& empty) {
        if (atEnd() || current() != '<')
            return false;
        ++m_at;
        if (!name(tagName))
            return false;
        constexpr int kMostAttributes = 8;
        QByteArrayView seen[kMostAttributes];
        int seenCount = 0;
        bool taskId = false, state = false, time = false;
        for (;;) {
            const bool spaced = skipSpace();
            if (atEnd())
                return false;
            if (current() == '>' || m_bytes.sliced(m_at).startsWith("/>")) {
                empty = current() == '/';
                m_at += empty ? 2 : 1;
                break;
            }
            QByteArrayView attribute, value;
            if (!spaced || !name(attribute) || seenCount == kMostAttributes ||
                std::find(seen, seen + seenCount, attribute) != seen + seenCount)
                return false;
            seen[seenCount++] = attribute;
            if (!equalsValue(value))
                return false;
            if (!task)
                continue;
            if (attribute == "taskid")
                task->id = value, taskId = true;
            else if (attribute == "state")
                task->state = value, state = true;
            else if (attribute == "time")
                task->time = value, time = true;
        }
        if (task)
            task->complete = taskId && state && time;
        return true;
    }
    bool endTag(QByteArrayView tagName) {
        if (!m_bytes.sliced(m_at).startsWith("</"))
            return false;
        m_at += 2;
        QByteArrayView closing;
        if (!name(closing) || closing != tagName)
            return false;
        skipSpace();
        if (atEnd() || current() != '>')
            return false;
        ++m_at;
        return true;
    }
    // <?xml version="1.0"?>, with encoding="UTF-8" (in any case) and standalone="yes" or "no" after it.
    bool declaration() {
        m_at = 5;
        const QByteArrayView keys[] = {"version", "encoding", "standalone"};
        int next = 0;
        for (;;) {
            const bool spaced = skipSpace();
            if (m_bytes.sliced(m_at).startsWith("?>")) {
                m_at += 2;
                return next > 0;
            }
            QByteArrayView key, value;
            if (!spaced || !name(key))
                return false;
            while (next < 3 && key != keys[next]) {
                if (next == 0) // the version comes first
                    return false;
                ++next;
            }
            if (next == 3)
                return false;
            if (!equalsValue(value))
                return false;
            const bool valid = next == 0   ? value == "1.0"
                               : next == 1 ? value.compare("utf-8", Qt::CaseInsensitive) == 0
                                           : value == "yes" || value == "no";
            if (!valid)
                return false;
            ++next;
        }
    }

    QByteArrayView m_bytes;
    qsizetype m_at = 0;
};

// Calls `visit(id, state, time)` for each complete "task" child of the root, in document order, and says
// whether the whole document is well-formed (if not, why in `error`). The document is read from its start
// as a stream: nothing is kept between elements, and at most a chunk of it is in memory, whatever its size.
using TaskVisitor = std::function<void(const QString& id, QStringView state, const QString& time)>;
bool forEachScheduledTask(QIODevice& document, const TaskVisitor& visit, QString& error) {
    if (!document.seek(0)) {
        error = document.errorString();
        return false;
    }
    QXmlStreamReader xml(&document);
    xml.setEntityExpansionLimit(kEntityExpansionLimit);
    const auto notWellFormed = [&xml, &error, &document] {
        if (!xml.hasError()) {
            error = QStringLiteral("no root element");
            return false;
        }
        qint64 line = xml.lineNumber();
        qint64 column = xml.columnNumber() + 1;
        const bool badByte =
            xml.errorString().contains(QLatin1String("encoded")) && firstInvalidUtf8(document, line, column);
        error = badByte
                    ? QStringLiteral("a byte that is not UTF-8 at line %1, column %2").arg(line).arg(column)
                    : QStringLiteral("not well-formed XML at line %1, column %2: %3")
                          .arg(line)
                          .arg(column)
                          .arg(xml.errorString());
        return false;
    };
    if (!xml.readNextStartElement())
        return notWellFormed();
    // Skips the rest of a child of the root (depth 2), counting how deep its content nests.
    const auto skipChild = [&xml, &error] {
        int depth = 2;
        while (depth >= 2) {
            switch (xml.readNext()) {
            case QXmlStreamReader::StartElement:
                if (++depth > kMaxXmlDepth) {
                    error = QStringLiteral("elements nested deeper than %1 levels at line %2")
                                .arg(kMaxXmlDepth)
                                .arg(xml.lineNumber());
                    return false;
                }
                break;
            case QXmlStreamReader::EndElement:
                --depth;
                break;
            case QXmlStreamReader::Invalid:
                return true; // the error is the caller's to report
            default:
                break;
            }
        }
        return true;
    };
    while (xml.readNextStartElement()) {
        if (document.pos() > kMaxScheduledTasksBytes) { // a file that grows while it is read
            error = QStringLiteral("it holds more than %1 bytes").arg(kMaxScheduledTasksBytes);
            return false;
        }
        if (xml.qualifiedName() == QLatin1String("task")) {
            const QXmlStreamAttributes attributes = xml.attributes();
            const bool complete = attributes.hasAttribute(QLatin1String("taskid")) &&
                                  attributes.hasAttribute(QLatin1String("state")) &&
                                  attributes.hasAttribute(QLatin1String("time"));
            if (complete) {
                const auto time = agentTimeText(attributes.value(QLatin1String("time")).toString());
                if (time)
                    visit(attributes.value(QLatin1String("taskid")).toString(),
                          attributes.value(QLatin1String("state")), *time);
            }
        }
        if (!skipChild())
            return false;
    }
    // Anything after the root, or an error inside it, spoils the whole document.
    while (!xml.atEnd())
        xml.readNext();
    return !xml.hasError() || notWellFormed();
}

// Merges a whole document; see mergeScheduledTasks.
bool mergeDocument(TaskTable& table, QIODevice& document, QString& error,
                   ScheduledTasksReading reading = ScheduledTasksReading::Any);
// Merges a document in the plain form (see PlainDocument); false, merging nothing, for any other.
bool mergePlainDocument(TaskTable& table, QByteArrayView bytes);

} // namespace

bool mergeScheduledTasks(TaskTable& table, const QString& xmlPath, QString& error) {
    // A file of a usual size is opened and read whole in one call of the helper thread, and parsed from those
    // bytes. A larger one is read as a stream, as is one that could not be read, whose reason then comes
    // from that opening.
    AgentFileStatus status = AgentFileStatus::Unreadable;
    QByteArray bytes;
    readAgentFiles(
        1, [&xmlPath](int) { return xmlPath; }, kMaxPlainDocumentBytes, kAgentFileDeadlineMs,
        [&](int, AgentFileStatus read, QByteArray& content, const QString&) {
            status = read;
            bytes = std::move(content);
        });
    if (status == AgentFileStatus::Missing) {
        error.clear();
        return true;
    }
    if (status == AgentFileStatus::Read) {
        if (mergePlainDocument(table, bytes))
            return true;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        if (mergeDocument(table, buffer, error, ScheduledTasksReading::XmlReader))
            return true;
        error = QStringLiteral("Cannot read %1: %2").arg(QDir::toNativeSeparators(xmlPath), error);
        return false;
    }
    bytes.clear();
    AgentFile document;
    switch (openAgentFile(document, xmlPath, error)) {
    case AgentFileStatus::Missing:
        error.clear();
        return true;
    case AgentFileStatus::Unreadable:
        return false;
    case AgentFileStatus::Read:
        break;
    }
    if (document.size() > kMaxScheduledTasksBytes) {
        error = QStringLiteral("Cannot read %1: it holds more than %2 bytes")
                    .arg(QDir::toNativeSeparators(xmlPath))
                    .arg(kMaxScheduledTasksBytes);
        return false;
    }
    if (!mergeDocument(table, document, error)) {
        if (document.hasFailed()) { // the reader saw an early end: the file failed or did not answer
            error = document.errorString();
            return false;
        }
        error = QStringLiteral("Cannot read %1: %2").arg(QDir::toNativeSeparators(xmlPath), error);
        return false;
    }
    return true;
}

bool mergeScheduledTasks(TaskTable& table, QIODevice& document, QString& error,
                         ScheduledTasksReading reading) {
    // A file tells its size; a stream is read in steps, since asking it for the whole bound at once would
    // allocate the bound for a small document.
    constexpr qint64 kStep = 1024 * 1024;
    QByteArray bytes;
    bool tooLarge = false;
    if (!document.isSequential()) {
        tooLarge = document.size() - document.pos() > kMaxScheduledTasksBytes;
        if (!tooLarge)
            bytes = document.readAll();
    }
    while (document.isSequential() && !tooLarge) {
        const QByteArray step = document.read(kStep);
        if (step.isEmpty())
            break;
        bytes += step;
        tooLarge = bytes.size() > kMaxScheduledTasksBytes;
    }
    if (tooLarge) {
        error = QStringLiteral("it holds more than %1 bytes").arg(kMaxScheduledTasksBytes);
        return false;
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return mergeDocument(table, buffer, error, reading);
}

namespace {
// Gives the task `id` of `table` the file's `state` and `time`, or appends it when the table lacks it.
void mergeTask(TaskTable& table, const QString& id, QStringView state, const QString& time) {
    const auto appendFileFields = [&state, &time](QString& record) {
        record += QLatin1Char(';');
        if (state.contains(QLatin1Char(';')) || state.contains(TaskRecord::kEscape))
            record += TaskRecord::escaped(state.toString());
        else
            record += state;
        record += QLatin1Char(';');
        record += time;
    };
    if (QString* record = table.find(id)) {
        // Edited in place, so a file that names one task many times costs what it reads, not its square.
        // A completed record has no tail left, and every later element appends its fields once more, up to
        // a bound: readers use the first six fields only.
        if (record->endsWith(TaskRecord::kUnmergedTail)) {
            record->chop(TaskRecord::kUnmergedTail.size());
            appendFileFields(*record);
        } else if (record->size() < kMaxRepeatedRecordLength) {
            appendFileFields(*record);
        }
        return;
    }
    QString record = TaskRecord::escaped(id) + QStringLiteral(";7;No;");
    appendFileFields(record);
    table.add(id, record);
}

bool mergePlainDocument(TaskTable& table, QByteArrayView bytes) {
    const std::optional<QList<PlainTask>> tasks = PlainDocument(bytes).tasks();
    if (!tasks)
        return false;
    for (const PlainTask& task : *tasks) {
        if (const auto time = agentTimeTextOfAscii(task.time))
            mergeTask(table, QString::fromLatin1(task.id), QString::fromLatin1(task.state), *time);
    }
    return true;
}

bool mergeDocument(TaskTable& table, QIODevice& document, QString& error, ScheduledTasksReading reading) {
    // Nothing is merged before the whole document has been read and found well-formed, so a broken file
    // merges nothing rather than its first half. The tasks of a usual file are kept from that one reading; a
    // file with very many is read a second time instead, merging as it goes, so memory stays flat (a file
    // the agent rewrites between the two readings may then merge in part, or not at all).
    const auto merge = [&table](const QString& id, QStringView state, const QString& time) {
        mergeTask(table, id, state, time);
    };
    if (reading == ScheduledTasksReading::Any && document.size() <= kMaxPlainDocumentBytes) {
        // One byte more than the size: a file that grew since it was opened is left to the XML reader.
        const QByteArray bytes = document.seek(0) ? document.read(document.size() + 1) : QByteArray();
        if (bytes.size() == document.size() && mergePlainDocument(table, bytes))
            return true;
    }
    constexpr qsizetype kKeptTasks = 20000;
    struct Task {
        QString id;
        QString state;
        QString time;
    };
    QList<Task> tasks;
    bool tooMany = false;
    const bool wellFormed = forEachScheduledTask(
        document,
        [&](const QString& id, QStringView state, const QString& time) {
            if (tooMany)
                return;
            if (tasks.size() == kKeptTasks) {
                tooMany = true;
                tasks.clear();
                return;
            }
            tasks.append({id, state.toString(), time});
        },
        error);
    if (!wellFormed)
        return false;
    if (tooMany)
        forEachScheduledTask(document, merge, error);
    for (const Task& task : std::as_const(tasks))
        merge(task.id, task.state, task.time);
    return true;
}
} // namespace

} // namespace corvane
