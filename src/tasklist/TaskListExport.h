#pragma once

#include "tasklist/TaskRow.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace corvane {

// The whole text of list column `column` (1 to 6) of a row: what the list shows before it is cut for the
// screen. Copies, exports and tooltips carry the whole text.
QString fullColumnText(const TaskRow& row, int column);

// The columns of a copied or exported list: the task id, then the list's six captioned columns.
QStringList exportHeader();
// The texts of one row in the order of exportHeader().
QStringList exportCells(const TaskRow& row);

// The rows as CSV: the header line, then one line per row, fields quoted where they hold a comma, a quote or
// a line break (quotes doubled), every line ended by CR LF. A field beginning with "=", "+", "-", "@", a tab
// or a carriage return is prefixed with a single quote, so that a spreadsheet does not run it as a formula.
QString taskListCsv(const QList<TaskRow>& rows);
// The rows as tab-separated text with a header line, for the clipboard. A tab or line break inside a cell
// becomes a space, since the format has no quoting.
QString taskListTsv(const QList<TaskRow>& rows);

// Any table as CSV or tab-separated text, written as the list is: the list's own writers for other tables.
QString csvText(const QStringList& header, const QList<QStringList>& rows);
QString tsvText(const QStringList& header, const QList<QStringList>& rows);
// Writes `csv` to `path` in UTF-8, replacing the file only once the whole text is written; false with the
// reason in `error` when it cannot.
bool saveCsv(const QString& path, const QString& csv, QString& error);

// Writes taskListCsv(rows) to `path` in UTF-8, replacing the file only once the whole text is written;
// false with the reason in `error` when it cannot.
bool saveTaskListCsv(const QString& path, const QList<TaskRow>& rows, QString& error);

} // namespace corvane
