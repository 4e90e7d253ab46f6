#pragma once

#include "TaskActions.h"
#include "TaskRow.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QHash>
#include <QIcon>
#include <QList>

namespace corvane {

// The rows of the task list, with the check marks and bold names that live on them until the next rebuild.
class TaskListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit TaskListModel(QObject* parent = nullptr);

    // Replaces every row; all come unchecked and not bold.
    void setRows(QList<TaskRow> rows);
    const TaskRow& taskRow(int row) const { return m_rows.at(row); }

    bool isChecked(int row) const { return m_marks.at(row).checked; }
    // Changes a check mark without telling itemCheck: for the check rule's own corrections.
    void setChecked(int row, bool checked);
    void setBold(int row, bool bold);
    // Every row's key and check mark, in list order.
    QList<CheckedRow> checkedRows() const;

    void setIcons(const QHash<QString, QIcon>& icons) { m_icons = icons; }
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

    QHash<QString, QIcon> m_icons;
    QFont m_boldFont;
};

} // namespace corvane
