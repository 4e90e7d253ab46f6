#include "agent/ScheduledTasks.h"

#include "agent/AgentTime.h"
#include "agent/TaskRecord.h"
#include "agent/TaskTable.h"

#include "base/AgentFile.h"

#include <QBuffer>
#include <QDir>
#include <QIODevice>
#include <QXmlStreamReader>

#include <functional>

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
bool mergeDocument(TaskTable& table, QIODevice& document, QString& error);

} // namespace

bool mergeScheduledTasks(TaskTable& table, const QString& xmlPath, QString& error) {
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

bool mergeScheduledTasks(TaskTable& table, QIODevice& document, QString& error) {
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
    return mergeDocument(table, buffer, error);
}

namespace {
bool mergeDocument(TaskTable& table, QIODevice& document, QString& error) {
    // Nothing is merged before the whole document has been read and found well-formed, so a broken file
    // merges nothing rather than its first half. The tasks of a usual file are kept from that one reading; a
    // file with very many is read a second time instead, merging as it goes, so memory stays flat (a file
    // the agent rewrites between the two readings may then merge in part, or not at all).
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
    auto merge = [&table](const QString& id, QStringView state, const QString& time) {
        const QString fileFields =
            QLatin1Char(';') + TaskRecord::escaped(state.toString()) + QLatin1Char(';') + time;
        if (QString* record = table.find(id)) {
            // Edited in place, so a file that names one task many times costs what it reads, not its square.
            // A completed record has no tail left, and every later element appends its fields once more,
            // up to a bound: readers use the first six fields only.
            if (record->endsWith(TaskRecord::kUnmergedTail)) {
                record->chop(TaskRecord::kUnmergedTail.size());
                record->append(fileFields);
            } else if (record->size() < kMaxRepeatedRecordLength) {
                record->append(fileFields);
            }
        } else {
            table.add(id, TaskRecord::escaped(id) + QStringLiteral(";7;No;") + fileFields);
        }
    };
    if (tooMany)
        forEachScheduledTask(document, merge, error);
    for (const Task& task : std::as_const(tasks))
        merge(task.id, task.state, task.time);
    return true;
}
} // namespace

} // namespace corvane
