#include "tasklist/TaskList.h"

#include "agent/TaskRecord.h"
#include "agent/TaskTable.h"

#include <QRegularExpression>

#include <algorithm>

namespace corvane {

const QList<TaskColumn> kTaskColumns = {
    {QString(), 0.07},
    {QStringLiteral("Application"), 0.26},
    {QStringLiteral("Database"), 0.11},
    {QStringLiteral("SDClient"), 0.11},
    {QStringLiteral("Install"), 0.15},
    {QStringLiteral("Reschedule"), 0.11},
    {QStringLiteral("Reschedule Date"), 0.15},
};

namespace {
const QString kUnknownMarker = QStringLiteral("Unknow;");
const QString kActive = QStringLiteral("ACTIVE");

// Whether `text` in capitals is "ACTIVE". Text of plain ASCII (every real state) is compared as it stands;
// other text is put in capitals first, since some letters become others there (a dotless i becomes I).
bool isActive(const QString& text) {
    const bool ascii = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    return ascii ? text.compare(kActive, Qt::CaseInsensitive) == 0 : text.toUpper() == kActive;
}
} // namespace

QString cappedText(const QString& text, qsizetype limit) {
    if (text.size() <= limit)
        return text;
    // A package name cut when it was read already says how much it lost: that counts as left out too.
    static const QRegularExpression kCutName(QStringLiteral(" \\[\\.\\.\\. (\\d+) more characters\\]$"));
    qsizetype leftOut = text.size() - limit;
    const QRegularExpressionMatch cut = kCutName.match(text, std::max<qsizetype>(0, text.size() - 64));
    if (cut.hasMatch() && cut.capturedStart() >= limit)
        leftOut = cut.capturedStart() - limit + cut.captured(1).toLongLong();
    return cutNameText(text.left(limit), leftOut);
}

QString TaskRow::columnText(int column) const {
    switch (column) {
    case 1:
        return cappedCell(application);
    case 2:
        return cappedCell(database);
    case 3:
        return cappedCell(sdclient);
    case 4:
        return cappedCell(install);
    case 5:
        return cappedCell(reschedule);
    case 6:
        return cappedCell(rescheduleDate);
    default:
        return QString();
    }
}

namespace {
// The text of field `index` of a record split in place, as TaskRecord::field gives it.
QString fieldText(const QList<QStringView>& fields, int index) {
    if (index >= fields.size())
        return QString();
    const QStringView stored = fields.at(index);
    return stored.contains(TaskRecord::kEscape) ? TaskRecord::unescaped(stored.toString())
                                                : stored.toString();
}
// The reschedule field: one of the database loader's usual texts is shared instead of copied for each row.
QString sharedReschedule(const QList<QStringView>& fields, int index) {
    static const QString kUsual[] = {QStringLiteral("Yes:Policy"), QStringLiteral("Yes:Error"),
                                     QStringLiteral("No")};
    if (index < fields.size()) {
        for (const QString& usual : kUsual) {
            if (fields.at(index) == usual)
                return usual;
        }
    }
    return fieldText(fields, index);
}
} // namespace

TaskRow buildTaskRow(const QString& taskId, const QString& record,
                     const std::optional<QString>& descriptorAnswer) {
    using namespace TaskRecord;
    // Split in place: a refresh builds thousands of rows, and a copy of every field would cost each its
    // own allocation.
    const QList<QStringView> fields = QStringView(record).split(QLatin1Char(';'));
    TaskRow row;
    row.key = QLatin1Char('k') + taskId;
    row.record = record;

    // A descriptor that exists but yields no name is shown like one of another kind.
    const QString answer = descriptorAnswer.value_or(kUnknownLaunchpadAnswer);
    QString letter = QStringLiteral("S");
    if (answer.contains(kUnknownMarker)) {
        const QStringList pieces = answer.split(QLatin1Char(';'));
        row.application = pieces.at(0);
        letter = pieces.at(1);
    } else {
        row.application = answer;
    }
    if (letter == QLatin1String("S")) {
        row.kind = TaskRow::Kind::Package;
    } else if (letter == QLatin1String("P")) {
        row.kind = TaskRow::Kind::Push;
    } else if (letter == QLatin1String("L")) {
        row.kind = TaskRow::Kind::Launchpad;
    } else {
        row.kind = TaskRow::Kind::Other;
        row.otherKind = letter;
    }

    // A stored state code with kEscape in it names no state, as its text would not.
    row.database = kInvokerState < fields.size() ? StateNames::name(fields.at(kInvokerState)) : QString();
    row.sdclient = fieldText(fields, kScheduledState);
    row.install = fieldText(fields, kScheduledTime);
    row.reschedule = sharedReschedule(fields, kReschedule);
    row.rescheduleDate = fieldText(fields, kRescheduleDate);

    // Colour rules in order, the later winning: error reschedule, active task, not a package.
    // A state code with no name gives no colour of its own.
    if (!row.database.isEmpty()) {
        if (row.reschedule == QLatin1String("Yes:Error"))
            row.colour = TaskRow::Colour::Red;
        if (isActive(row.database) && isActive(row.sdclient))
            row.colour = TaskRow::Colour::Green;
    }
    switch (row.kind) {
    case TaskRow::Kind::Package:
        // The missing-database entry stands for no task: it shows as a package but cannot be checked.
        if (!(taskId == kMissingDatabaseKey && record == kMissingDatabaseRecord))
            row.tag = TaskRow::Tag::Policy;
        row.icon = TaskRow::Icon::Policy;
        return row;
    case TaskRow::Kind::Push:
        row.icon = TaskRow::Icon::Push;
        break;
    case TaskRow::Kind::Launchpad:
        row.icon = TaskRow::Icon::Launchpad;
        break;
    case TaskRow::Kind::Other:
        break;
    }
    row.colour = TaskRow::Colour::Grey;
    return row;
}

QString descriptorNotice(const QList<TaskRow>& rows) {
    int unread = 0;
    int cut = 0;
    QString first;
    QString firstCut;
    for (const TaskRow& row : rows) {
        if (row.nameCut && cut++ == 0)
            firstCut = row.key.mid(1);
        if (row.descriptorError.isEmpty())
            continue;
        if (unread++ == 0)
            first = row.descriptorError;
    }
    QStringList notices;
    if (unread == 1)
        notices << QStringLiteral("Can't read a package descriptor: ") + first;
    else if (unread > 1)
        notices << QStringLiteral("Can't read %1 package descriptors; the first: %2").arg(unread).arg(first);
    if (cut == 1)
        notices << QStringLiteral("The package name of task %1 is too long and was cut").arg(firstCut);
    else if (cut > 1)
        notices << QStringLiteral("%1 package names are too long and were cut; the first: task %2")
                       .arg(cut)
                       .arg(firstCut);
    return notices.join(QStringLiteral("; "));
}

QList<TaskRow> buildTaskRows(const TaskTable& table, const QString& descriptorFolder,
                             const std::function<void(const TaskRow&)>& built) {
    QList<TaskRow> rows;
    rows.reserve(table.count());
    QStringList operationFiles;
    operationFiles.reserve(table.count());
    for (const QString& record : table.items())
        operationFiles << TaskRecord::firstField(record);
    qsizetype longPartsLeft = kListNameChars;
    descriptorTaskNames(
        descriptorFolder, operationFiles,
        [&](int) { return std::min(kMaxNameChars, kCellTextLimit + longPartsLeft); },
        [&](int index, const std::optional<QString>& answer, bool nameCut, const QString& error) {
            TaskRow row = buildTaskRow(table.keys().at(index), table.items().at(index), answer);
            if (!answer)
                row.descriptorError = error;
            row.nameCut = answer && nameCut;
            longPartsLeft -=
                std::min(longPartsLeft, std::max<qsizetype>(0, row.application.size() - kCellTextLimit));
            if (built)
                built(row);
            rows.append(std::move(row));
        });
    return rows;
}

int scrollTargetRow(const QList<TaskRow>& rows) {
    const bool anyGreen = std::any_of(
        rows.cbegin(), rows.cend(), [](const TaskRow& row) { return row.colour == TaskRow::Colour::Green; });
    if (!anyGreen)
        return -1;
    for (int i = 0; i < rows.size(); ++i) {
        for (int column = 1; column < kTaskColumns.size(); ++column) {
            if (rows.at(i).columnText(column).startsWith(QLatin1String("Active")))
                return i;
        }
    }
    return -1;
}

QString colourName(TaskRow::Colour colour) {
    switch (colour) {
    case TaskRow::Colour::Red:
        return QStringLiteral("red");
    case TaskRow::Colour::Green:
        return QStringLiteral("green");
    case TaskRow::Colour::Grey:
        return QStringLiteral("grey");
    case TaskRow::Colour::Default:
        break;
    }
    return QStringLiteral("default");
}

QString kindLetter(const TaskRow& row) {
    switch (row.kind) {
    case TaskRow::Kind::Package:
        return QStringLiteral("S");
    case TaskRow::Kind::Push:
        return QStringLiteral("P");
    case TaskRow::Kind::Launchpad:
        return QStringLiteral("L");
    case TaskRow::Kind::Other:
        break;
    }
    return row.otherKind;
}

QString iconName(TaskRow::Icon icon) {
    switch (icon) {
    case TaskRow::Icon::Policy:
        return QStringLiteral("policy");
    case TaskRow::Icon::Push:
        return QStringLiteral("push");
    case TaskRow::Icon::Launchpad:
        return QStringLiteral("launchpad");
    case TaskRow::Icon::None:
        break;
    }
    return QString();
}

QString tagName(TaskRow::Tag tag) {
    return tag == TaskRow::Tag::Policy ? QStringLiteral("policy") : QString();
}

} // namespace corvane
