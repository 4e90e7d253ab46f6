#include "tasklist/TaskListExport.h"

#include "tasklist/TaskList.h"

#include <QDir>
#include <QSaveFile>

namespace corvane {

namespace {

// A spreadsheet runs a cell that begins with one of these as a formula; a name from the agent's files must
// open as the text it is, so such a cell gets a leading single quote.
bool readsAsFormula(const QString& text) {
    static const QString kFormulaStarts = QStringLiteral("=+-@\t\r");
    return !text.isEmpty() && kFormulaStarts.contains(text.front());
}

QString csvField(QString text) {
    if (readsAsFormula(text))
        text.prepend(QLatin1Char('\''));
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString tsvField(QString text) {
    for (QChar& c : text) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    }
    return text;
}

template <typename Field>
QString joinedLines(const QStringList& header, const QList<QStringList>& rows, QChar separator, Field field,
                    const QString& lineEnd) {
    auto line = [&](const QStringList& cells) {
        QStringList fields;
        fields.reserve(cells.size());
        for (const QString& cell : cells)
            fields << field(cell);
        return fields.join(separator) + lineEnd;
    };
    QString text = line(header);
    for (const QStringList& row : rows)
        text += line(row);
    return text;
}

QList<QStringList> exportRows(const QList<TaskRow>& rows) {
    QList<QStringList> cells;
    cells.reserve(rows.size());
    for (const TaskRow& row : rows)
        cells << exportCells(row);
    return cells;
}

} // namespace

QString fullColumnText(const TaskRow& row, int column) {
    switch (column) {
    case 1:
        return row.application;
    case 2:
        return row.database;
    case 3:
        return row.sdclient;
    case 4:
        return row.install;
    case 5:
        return row.reschedule;
    case 6:
        return row.rescheduleDate;
    default:
        return QString();
    }
}

QStringList exportHeader() {
    QStringList header{QStringLiteral("Task")};
    for (int column = 1; column < kTaskColumns.size(); ++column)
        header << kTaskColumns.at(column).caption;
    return header;
}

QStringList exportCells(const TaskRow& row) {
    QStringList cells{row.key.mid(1)};
    for (int column = 1; column < kTaskColumns.size(); ++column)
        cells << fullColumnText(row, column);
    return cells;
}

QString csvText(const QStringList& header, const QList<QStringList>& rows) {
    return joinedLines(header, rows, QLatin1Char(','), csvField, QStringLiteral("\r\n"));
}

QString tsvText(const QStringList& header, const QList<QStringList>& rows) {
    return joinedLines(header, rows, QLatin1Char('\t'), tsvField, QStringLiteral("\n"));
}

QString taskListCsv(const QList<TaskRow>& rows) {
    return csvText(exportHeader(), exportRows(rows));
}

QString taskListTsv(const QList<TaskRow>& rows) {
    return tsvText(exportHeader(), exportRows(rows));
}

bool saveTaskListCsv(const QString& path, const QList<TaskRow>& rows, QString& error) {
    return saveCsv(path, taskListCsv(rows), error);
}

bool saveCsv(const QString& path, const QString& csv, QString& error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv.toUtf8()) < 0 || !file.commit()) {
        error = QStringLiteral("Can't save %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

} // namespace corvane
