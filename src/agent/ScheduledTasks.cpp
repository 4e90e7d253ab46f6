#include "ScheduledTasks.h"

#include "AgentTime.h"
#include "TaskRecord.h"
#include "TaskTable.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QXmlStreamReader>

namespace corvane {

namespace {

struct ScheduledTask {
    QString id;
    QString state;
    QString time; // already converted
};

// A declared entity may expand to this many characters at most, so a small file cannot grow into gigabytes.
constexpr int kEntityExpansionLimit = 4096;

// Reads the whole document first: a broken file yields nothing rather than its first half.
bool readScheduledTasks(QIODevice& device, QList<ScheduledTask>& tasks) {
    QXmlStreamReader xml(&device);
    xml.setEntityExpansionLimit(kEntityExpansionLimit);
    if (!xml.readNextStartElement())
        return false;
    while (xml.readNextStartElement()) {
        if (xml.qualifiedName() == QLatin1String("task")) {
            const QXmlStreamAttributes attributes = xml.attributes();
            const bool complete = attributes.hasAttribute(QLatin1String("taskid")) &&
                                  attributes.hasAttribute(QLatin1String("state")) &&
                                  attributes.hasAttribute(QLatin1String("time"));
            if (complete) {
                const auto time = agentTimeText(attributes.value(QLatin1String("time")).toString());
                if (time)
                    tasks.append({attributes.value(QLatin1String("taskid")).toString(),
                                  attributes.value(QLatin1String("state")).toString(), *time});
            }
        }
        xml.skipCurrentElement();
    }
    // Anything after the root, or an error inside it, still spoils the whole document.
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
    QList<ScheduledTask> tasks;
    if (!readScheduledTasks(document, tasks))
        return false;
    for (const ScheduledTask& task : tasks) {
        const QString fileFields =
            QLatin1Char(';') + TaskRecord::escaped(task.state) + QLatin1Char(';') + task.time;
        if (QString* record = table.find(task.id)) {
            // Edited in place, so a file that names one task many times costs what it reads, not its square.
            // A completed record has no tail left, and every later element appends its fields once more.
            if (record->endsWith(TaskRecord::kUnmergedTail))
                record->chop(TaskRecord::kUnmergedTail.size());
            record->append(fileFields);
        } else {
            table.add(task.id, TaskRecord::escaped(task.id) + QStringLiteral(";7;No;") + fileFields);
        }
    }
    return true;
}

} // namespace corvane
