#include "ScheduledTasks.h"

#include "AgentTime.h"
#include "TaskRecord.h"
#include "TaskTable.h"

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <functional>

namespace corvane {

namespace {

// A declared entity may expand to this many characters at most, so a small file cannot grow into gigabytes.
constexpr int kEntityExpansionLimit = 4096;

// Calls `visit(id, state, time)` for each complete "task" child of the root, in document order, and says
// whether the whole document is well-formed. Nothing is kept between elements, whatever the file's size.
// Without a `visit` it only checks the document.
using TaskVisitor = std::function<void(const QString& id, QStringView state, const QString& time)>;
bool forEachScheduledTask(const QByteArray& document, const TaskVisitor& visit) {
    QXmlStreamReader xml(document);
    xml.setEntityExpansionLimit(kEntityExpansionLimit);
    if (!xml.readNextStartElement())
        return false;
    while (xml.readNextStartElement()) {
        if (visit && xml.qualifiedName() == QLatin1String("task")) {
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
        xml.skipCurrentElement();
    }
    // Anything after the root, or an error inside it, spoils the whole document.
    while (!xml.atEnd())
        xml.readNext();
    return !xml.hasError();
}

} // namespace

bool mergeScheduledTasks(TaskTable& table, const QString& xmlPath) {
    if (!QFileInfo(xmlPath).isFile())
        return true;
    QFile file(xmlPath);
    return file.open(QIODevice::ReadOnly) && mergeScheduledTasks(table, file);
}

bool mergeScheduledTasks(TaskTable& table, QIODevice& document) {
    // The document is checked whole before anything is merged, so a broken file merges nothing rather than
    // its first half; both passes read the same bytes, even if the agent rewrites the file meanwhile.
    const QByteArray bytes = document.readAll();
    if (!forEachScheduledTask(bytes, {}))
        return false;
    forEachScheduledTask(bytes, [&](const QString& id, QStringView state, const QString& time) {
        const QString fileFields =
            QLatin1Char(';') + TaskRecord::escaped(state.toString()) + QLatin1Char(';') + time;
        if (QString* record = table.find(id)) {
            // Edited in place, so a file that names one task many times costs what it reads, not its square.
            // A completed record has no tail left, and every later element appends its fields once more.
            if (record->endsWith(TaskRecord::kUnmergedTail))
                record->chop(TaskRecord::kUnmergedTail.size());
            record->append(fileFields);
        } else {
            table.add(id, TaskRecord::escaped(id) + QStringLiteral(";7;No;") + fileFields);
        }
    });
    return true;
}

} // namespace corvane
