#include "ui/TaskListModel.h"

#include "tasklist/TaskList.h"
#include "tasklist/TaskListExport.h"

#include <QColor>

namespace corvane {

namespace {
QVariant rowColour(TaskRow::Colour colour) {
    switch (colour) {
    case TaskRow::Colour::Red:
        return QColor(220, 0, 0);
    case TaskRow::Colour::Green:
        return QColor(0, 170, 0);
    case TaskRow::Colour::Grey:
        return QColor(150, 150, 150);
    case TaskRow::Colour::Default:
        break;
    }
    return QVariant(); // the list's own text colour
}

constexpr int kApplicationColumn = 1;
const QString kTaskCaption = QStringLiteral("Task");
constexpr qsizetype kToolTipTextLimit = 2000;
const QString kCheckColumnAccessibleName = QStringLiteral("Checked and kind");
} // namespace

TaskListModel::TaskListModel(QObject* parent)
    : QAbstractTableModel(parent) {
    m_boldFont.setBold(true);
}

void TaskListModel::setRows(QList<TaskRow> rows) {
    beginResetModel();
    QHash<QString, Marks> kept;
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_marks.at(row).checked)
            kept.insert(m_rows.at(row).key, m_marks.at(row));
    }
    m_rows = std::move(rows);
    m_marks = QList<Marks>(m_rows.size());
    m_rowOfKey.clear();
    m_rowOfKey.reserve(m_rows.size());
    for (int row = 0; row < m_rows.size(); ++row) {
        const TaskRow& task = m_rows.at(row);
        m_rowOfKey.insert(task.key, row);
        // The check rule would refuse a mark on a row that is no longer a package.
        if (task.tag == TaskRow::Tag::Policy)
            m_marks[row] = kept.value(task.key);
    }
    endResetModel();
}

void TaskListModel::clearChecks() {
    for (int row = 0; row < m_rows.size(); ++row) {
        setChecked(row, false);
        setBold(row, false);
    }
}

void TaskListModel::setChecked(int row, bool checked) {
    if (m_marks.at(row).checked == checked)
        return;
    m_marks[row].checked = checked;
    emit dataChanged(index(row, 0), index(row, 0), {Qt::CheckStateRole});
}

void TaskListModel::setBold(int row, bool bold) {
    if (m_marks.at(row).bold == bold)
        return;
    m_marks[row].bold = bold;
    emit dataChanged(index(row, kApplicationColumn), index(row, kApplicationColumn), {Qt::FontRole});
}

QList<CheckedRow> TaskListModel::checkedRows() const {
    QList<CheckedRow> rows;
    rows.reserve(m_rows.size());
    for (int row = 0; row < m_rows.size(); ++row)
        rows.append({m_rows.at(row).key, m_marks.at(row).checked, m_rows.at(row).application});
    return rows;
}

int TaskListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TaskListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(kTaskColumns.size()) + 1;
}

QVariant TaskListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return QVariant();
    const TaskRow& task = m_rows.at(index.row());
    const Marks& marks = m_marks.at(index.row());
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return column == kTaskIdColumn ? cappedCell(task.key.mid(1)) : task.columnText(column);
    case Qt::ToolTipRole: {
        // Every row names its task; a cell too narrow for its text, or cut, shows it whole here (within
        // reason: a tooltip of megabytes would hang the window as a cell would).
        QString text = column == kTaskIdColumn ? QString() : fullColumnText(task, column);
        if (text.size() > kToolTipTextLimit)
            text = text.left(kToolTipTextLimit) + QStringLiteral(" [...]");
        const QString taskLine = kTaskCaption + QStringLiteral(": ") + task.key.mid(1);
        return text.isEmpty() ? taskLine : text + QLatin1Char('\n') + taskLine;
    }
    case Qt::CheckStateRole:
        return column == 0 ? QVariant(marks.checked ? Qt::Checked : Qt::Unchecked) : QVariant();
    case Qt::DecorationRole:
        return column == 0 ? QVariant(m_icons.value(task.icon)) : QVariant();
    case Qt::ForegroundRole:
        return rowColour(task.colour);
    case Qt::FontRole:
        return column == kApplicationColumn && marks.bold ? QVariant(m_boldFont) : QVariant();
    default:
        return QVariant();
    }
}

QVariant TaskListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return QVariant();
    const QString caption = section == kTaskIdColumn ? kTaskCaption : kTaskColumns.at(section).caption;
    if (role == Qt::DisplayRole)
        return caption;
    if (role == Qt::AccessibleTextRole)
        return section == 0 ? kCheckColumnAccessibleName : caption;
    return QVariant();
}

Qt::ItemFlags TaskListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == 0)
        result |= Qt::ItemIsUserCheckable;
    return result;
}

bool TaskListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !checkIndex(index, CheckIndexOption::IndexIsValid) ||
        index.column() != 0)
        return false;
    setChecked(index.row(), value.toInt() == Qt::Checked);
    emit itemCheck(index.row());
    return true;
}

} // namespace corvane
