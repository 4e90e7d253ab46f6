#pragma once

#include "actions/TaskActions.h"
#include "tasklist/TaskRow.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QMap>

namespace corvane {

// The rows of the task list, with the check marks and bold names that live on them until the next rebuild.
class TaskListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit TaskListModel(QObject* parent = nullptr);

    // The column after the list's own seven: the task id, hidden until the technician shows it.
    static constexpr int kTaskIdColumn = 7;

    // Replaces every row. A check mark (and its bold name) stays on a task that can still be checked;
    // every other row comes unchecked.
    void setRows(QList<TaskRow> rows);
    const TaskRow& taskRow(int row) const { return m_rows.at(row); }
    const QList<TaskRow>& rows() const { return m_rows; }
    // The row of the task with `key`, or -1.
    int rowOfKey(const QString& key) const { return m_rowOfKey.value(key, -1); }

    bool isChecked(int row) const { return m_marks.at(row).checked; }
    // Changes a check mark without telling itemCheck: for the check rule's own corrections.
    void setChecked(int row, bool checked);
    void setBold(int row, bool bold);
    // Every row's key and check mark, in list order.
    QList<CheckedRow> checkedRows() const;
    // Takes every check mark and bold name off, as after an action.
    void clearChecks();

    void setIcons(const QMap<TaskRow::Icon, QIcon>& icons) { m_icons = icons; }
    void setBoldFont(const QFont& font) { m_boldFont = font; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

signals:
    // The technician toggled the check box of `row`; the row already holds the new mark.
    void itemCheck(int row);

private:
    struct Marks {
        bool checked = false;
        bool bold = false;
    };
    QList<TaskRow> m_rows;
    QList<Marks> m_marks; // one per row
    QHash<QString, int> m_rowOfKey;

    QMap<TaskRow::Icon, QIcon> m_icons;
    QFont m_boldFont;
};

} // namespace corvane
