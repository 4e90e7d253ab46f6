#include "ui/TaskListProxy.h"

#include "ui/TaskListModel.h"

#include <QCollator>
#include <QDateTime>

namespace corvane {

namespace {

constexpr int kInstallColumn = 4;
constexpr int kRescheduleDateColumn = 6;

// Agent times are shown "dd/MM/yy hh:mm": sorted as text, 02/01/27 would come before 31/12/26.
QDateTime agentTimeShown(const QString& text) {
    QDateTime time = QDateTime::fromString(text, QStringLiteral("dd/MM/yy HH:mm"));
    if (time.isValid() && time.date().year() < 1970)
        time = time.addYears(100); // two-digit years are this century's, not 19xx
    return time;
}

} // namespace

TaskListProxy::TaskListProxy(TaskListModel* model, QObject* parent)
    : QSortFilterProxyModel(parent)
    , m_model(model) {
    setSourceModel(model);
    setDynamicSortFilter(true);
    setSortCaseSensitivity(Qt::CaseInsensitive);
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    m_collator.setNumericMode(true); // "Client 9" before "Client 10"
}

void TaskListProxy::setFilterText(const QString& text) {
    if (text == m_filterText)
        return;
    m_filterText = text;
    invalidateFilter();
}

bool TaskListProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (m_filterText.isEmpty() || sourceParent.isValid())
        return true;
    const int columns = m_model->columnCount();
    for (int column = 1; column < columns; ++column) {
        if (m_model->index(sourceRow, column).data().toString().contains(m_filterText, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool TaskListProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const int column = left.column();
    if (column == 0) // the check box column: checked rows first when sorted ascending
        return m_model->isChecked(left.row()) && !m_model->isChecked(right.row());
    const QString leftText = left.data().toString();
    const QString rightText = right.data().toString();
    if (column == kInstallColumn || column == kRescheduleDateColumn) {
        const QDateTime leftTime = agentTimeShown(leftText);
        const QDateTime rightTime = agentTimeShown(rightText);
        if (leftTime.isValid() && rightTime.isValid())
            return leftTime < rightTime;
        if (leftTime.isValid() != rightTime.isValid())
            return rightTime.isValid(); // "n/a", "Now" and empty texts before any time
    }
    if (column == TaskListModel::kTaskIdColumn) {
        bool leftNumber = false;
        bool rightNumber = false;
        const qlonglong leftId = leftText.toLongLong(&leftNumber);
        const qlonglong rightId = rightText.toLongLong(&rightNumber);
        if (leftNumber && rightNumber)
            return leftId < rightId;
    }
    return m_collator.compare(leftText, rightText) < 0;
}

} // namespace corvane
