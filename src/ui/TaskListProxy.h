#pragma once

#include <QCollator>
#include <QSortFilterProxyModel>

namespace corvane {

class TaskListModel;

// What the list view shows of the task list: sorted by a header, filtered by the filter field. The actions
// read the task list model itself, so they always walk the rows in the list's own order.
class TaskListProxy : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit TaskListProxy(TaskListModel* model, QObject* parent = nullptr);

    // Keeps the rows with a column text containing `text`, whatever its case; an empty text keeps all.
    void setFilterText(const QString& text);

    TaskListModel* taskListModel() const { return m_model; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    TaskListModel* m_model;
    QString m_filterText;
    QCollator m_collator;
};

} // namespace corvane
