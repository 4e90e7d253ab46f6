#include "ui/TaskListView.h"

#include "base/Clock.h"
#include "tasklist/TaskList.h"
#include "tasklist/TaskListExport.h"
#include "ui/TaskListModel.h"
#include "ui/TaskListProxy.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelection>
#include <QMenu>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>

namespace corvane {

namespace {
// A column shown from the header's menu that had no width yet.
constexpr int kShownColumnWidth = 90;

const QString kLegend = QStringLiteral(
    "Icons\n"
    "Clock with a green arrow: a package of a policy. Only these rows can be checked for Stop Install and "
    "Reinstall.\n"
    "Rings with a green arrow: a pushed task.\n"
    "Clock beside a person: a portal task, or a task whose descriptor is not a package's.\n\n"
    "Colours\n"
    "Red: the installation failed and the agent reschedules it (Reschedule \"Yes:Error\").\n"
    "Green: the package is being installed now (Active for the agent and its scheduler).\n"
    "Grey: not a package of a policy (pushed or portal), or no descriptor; it cannot be checked.\n"
    "Black: any other package.\n\n"
    "The hidden \"Task\" column (the task id) is turned on in this menu, the menu of the column headers.");

// A red, green or grey row keeps its colour when selected, focused or not: the text is drawn in it on a
// light tint of the selection colour, which it stays readable on.
class TaskRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QVariant foreground = index.data(Qt::ForegroundRole);
        if (!(option->state & QStyle::State_Selected) || !foreground.canConvert<QColor>())
            return;
        const QColor colour = foreground.value<QColor>();
        const QColor highlight = option->palette.color(QPalette::Active, QPalette::Highlight);
        const QColor base = option->palette.color(QPalette::Active, QPalette::Base);
        const QColor tint((highlight.red() + 3 * base.red()) / 4, (highlight.green() + 3 * base.green()) / 4,
                          (highlight.blue() + 3 * base.blue()) / 4);
        option->palette.setColor(QPalette::Active, QPalette::Highlight, tint);
        option->palette.setColor(QPalette::HighlightedText, colour);
    }
};
} // namespace

TaskListView::TaskListView(TaskListProxy* proxy, const Clock& clock, QWidget* parent)
    : QTreeView(parent)
    , m_proxy(proxy)
    , m_model(proxy->taskListModel())
    , m_clock(clock) {
    setModel(proxy);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(true); // the current row is drawn across the whole list
    setIconSize(QSize(18, 16));
    setItemDelegate(new TaskRowDelegate(this));

    QHeaderView* header = this->header();
    header->setStretchLastSection(false);
    header->setSectionsMovable(true);
    header->setFirstSectionMovable(false); // the check boxes stay on the left
    header->setSortIndicatorClearable(true);
    header->setSortIndicator(-1, Qt::AscendingOrder); // the list's own order until a header is clicked
    setSortingEnabled(true);
    header->setSectionHidden(TaskListModel::kTaskIdColumn, true);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QHeaderView::customContextMenuRequested, this, &TaskListView::showHeaderMenu);
    connect(header, &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        if (m_fitting || m_restoring)
            return;
        m_sizedColumns.insert(column);
        if (column == 0 && size < firstColumnMinimum())
            QTimer::singleShot(0, this, [this] { fitColumns(); }); // not narrower than its icon
    });

    // Turning the filter off or on, or sorting, keeps the current row in view: it is the technician's.
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_proxy, signal, this, &TaskListView::keepCurrentInView);
    connect(m_proxy, &QAbstractItemModel::layoutChanged, this, &TaskListView::keepCurrentInView);
    connect(m_proxy, &QAbstractItemModel::modelAboutToBeReset, this, &TaskListView::rememberPlace);
    connect(m_proxy, &QAbstractItemModel::modelReset, this, &TaskListView::restorePlace);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &TaskListView::noteTechnicianMoved);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (!m_restoring)
            noteTechnicianMoved();
    });
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            emit detailsRequested(keyAt(index));
    });
}

QString TaskListView::keyAt(const QModelIndex& index) const {
    const QModelIndex source = m_proxy->mapToSource(index);
    return source.isValid() ? m_model->taskRow(source.row()).key : QString();
}

QModelIndex TaskListView::indexOfKey(const QString& key, int column) const {
    const int row = m_model->rowOfKey(key);
    return row < 0 ? QModelIndex() : m_proxy->mapFromSource(m_model->index(row, column));
}

QStringList TaskListView::selectedKeys() const {
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList keys;
    for (const QModelIndex& index : rows)
        keys << keyAt(index);
    return keys;
}

QString TaskListView::currentKey() const {
    return keyAt(currentIndex());
}

QString TaskListView::selectedRowsText() const {
    return rowsText(selectedKeys());
}

QString TaskListView::rowsText(const QStringList& keys) const {
    QList<TaskRow> rows;
    for (const QString& key : keys)
        rows << m_model->taskRow(m_model->rowOfKey(key));
    return taskListTsv(rows);
}

void TaskListView::copyRows(const QStringList& keys) {
    if (!keys.isEmpty())
        QApplication::clipboard()->setText(rowsText(keys));
}

void TaskListView::copyTaskIds(const QStringList& keys) {
    QStringList ids;
    for (const QString& key : keys)
        ids << key.mid(1);
    if (!ids.isEmpty())
        QApplication::clipboard()->setText(ids.join(QLatin1Char('\n')));
}

void TaskListView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        copyRows(selectedKeys());
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid()) {
        emit detailsRequested(currentKey());
        return;
    }
    // Shift+F10 opens the row menu as the Menu key does.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        showRowMenu(currentIndex(), menuPlaceOf(currentIndex()));
        return;
    }
    QTreeView::keyPressEvent(event);
}

// Where a menu opened from the keyboard appears: under the current row's start, or the list's corner.
QPoint TaskListView::menuPlaceOf(const QModelIndex& index) const {
    const QRect row = visualRect(index);
    return viewport()->mapToGlobal(index.isValid() && viewport()->rect().intersects(row) ? row.bottomLeft()
                                                                                         : QPoint(0, 0));
}

void TaskListView::contextMenuEvent(QContextMenuEvent* event) {
    // From the keyboard the menu is for the current row; a mouse names its row by where it is.
    if (event->reason() == QContextMenuEvent::Mouse)
        showRowMenu(indexAt(viewport()->mapFromGlobal(event->globalPos())), event->globalPos());
    else
        showRowMenu(currentIndex(), menuPlaceOf(currentIndex()));
}

// The menu of the row at `index` (none: the list's own entries). Opening it moves neither the selection nor
// the current row; its entries act on that row, or on the selection when the row is part of it.
void TaskListView::showRowMenu(const QModelIndex& index, const QPoint& globalPos) {
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("RowMenu"));
    if (index.isValid()) {
        const QString key = keyAt(index);
        const QStringList keys =
            selectionModel()->isRowSelected(index.row(), QModelIndex()) ? selectedKeys() : QStringList{key};
        const TaskRow& row = m_model->taskRow(m_model->rowOfKey(key));
        menu.addAction(QStringLiteral("&Details..."), this, [this, key] { emit detailsRequested(key); });
        menu.addAction(QStringLiteral("&Copy"), this, [this, keys] { copyRows(keys); });
        menu.addAction(QStringLiteral("Copy task &id"), this, [this, keys] { copyTaskIds(keys); });
        menu.addSeparator();
        // The same rules as the buttons: only a package row can be checked and acted on.
        for (const auto& [action, caption] :
             {std::pair{TaskAction::StopInstall, QStringLiteral("S&top Install")},
              std::pair{TaskAction::Reinstall, QStringLiteral("Re&install")}}) {
            QAction* entry = menu.addAction(
                caption, this, [this, action = action, key] { emit actionRequested(action, key); });
            entry->setEnabled(row.tag == TaskRow::Tag::Policy &&
                              (!m_actionAvailable || m_actionAvailable(action)));
        }
        menu.addSeparator();
        menu.addAction(QStringLiteral("&Only this task in the log"), this,
                       [this, key] { emit onlyThisTaskRequested(key); });
        menu.addAction(QStringLiteral("&History..."), this, [this, key] { emit historyRequested(key); });
    }
    menu.addAction(QStringLiteral("&Export..."), this, &TaskListView::exportRequested);
    QAction* connectEntry =
        menu.addAction(QStringLiteral("Connect to &workstation..."), this, &TaskListView::connectRequested);
    connectEntry->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K)); // shown: the window's shortcut
    menu.addAction(QStringLiteral("&Find on workstations..."), this,
                   &TaskListView::findOnWorkstationsRequested);
    menu.exec(globalPos);
}

void TaskListView::showHeaderMenu(const QPoint& position) {
    QHeaderView* header = this->header();
    QMenu menu(this);
    for (int column = 1; column < m_model->columnCount(); ++column) {
        QAction* entry = menu.addAction(m_model->headerData(column, Qt::Horizontal).toString());
        entry->setCheckable(true);
        entry->setChecked(!header->isSectionHidden(column));
        connect(entry, &QAction::toggled, this, [this, header, column](bool shown) {
            header->setSectionHidden(column, !shown);
            if (shown && header->sectionSize(column) < header->minimumSectionSize() * 2)
                header->resizeSection(column, kShownColumnWidth);
        });
    }
    menu.addSeparator();
    menu.addAction(QStringLiteral("&Export..."), this, &TaskListView::exportRequested);
    menu.addAction(QStringLiteral("&Legend..."), this, [this] { emit legendRequested(kLegend); });
    menu.exec(header->mapToGlobal(position));
}

int TaskListView::firstColumnMinimum() const {
    // Up to the icon's right edge, where the style draws it after the check box.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration;
    option.decorationSize = iconSize();
    option.icon = QIcon(QPixmap(iconSize()));
    option.checkState = Qt::Checked;
    option.rect = QRect(0, 0, 1000, iconSize().height() + 4);
    return style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, this).right() + 1;
}

void TaskListView::fitColumns() {
    m_fitting = true;
    const int listWidth = width();
    for (int column = 0; column < kTaskColumns.size(); ++column) {
        if (!m_sizedColumns.contains(column))
            header()->resizeSection(column, int(listWidth * kTaskColumns.at(column).widthFraction));
    }
    // However narrow the list, the row's icon shows whole.
    if (header()->sectionSize(0) < firstColumnMinimum())
        header()->resizeSection(0, firstColumnMinimum());
    m_fitting = false;
}

void TaskListView::keepCurrentInView() {
    if (m_restoring || m_keepingInView)
        return;
    // Once the view has taken in every change of the same step.
    m_keepingInView = true;
    QTimer::singleShot(0, this, [this] {
        m_keepingInView = false;
        if (currentIndex().isValid())
            scrollTo(currentIndex());
    });
}

void TaskListView::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    fitColumns();
}

QByteArray TaskListView::headerState() const {
    return header()->saveState();
}

QList<int> TaskListView::sizedColumns() const {
    QList<int> columns = m_sizedColumns.values();
    std::sort(columns.begin(), columns.end());
    return columns;
}

void TaskListView::restoreHeaderState(const QByteArray& state, const QList<int>& sizedColumns) {
    m_restoring = true;
    if (!state.isEmpty() && header()->restoreState(state))
        m_sizedColumns = QSet<int>(sizedColumns.begin(), sizedColumns.end());
    m_restoring = false;
    fitColumns();
}

void TaskListView::noteTechnicianMoved() {
    m_technicianMovedAt = m_clock.now();
}

void TaskListView::rememberPlace() {
    m_restoring = true;
    m_place = Place();
    m_place.selectedKeys = selectedKeys();
    m_place.currentKey = currentKey();
    m_place.currentColumn = std::max(0, currentIndex().column());
    m_place.topKey = keyAt(indexAt(QPoint(1, 1)));
    m_place.horizontalScroll = horizontalScrollBar()->value();
}

void TaskListView::restorePlace() {
    QItemSelection selection;
    for (const QString& key : std::as_const(m_place.selectedKeys)) {
        const QModelIndex index = indexOfKey(key);
        if (index.isValid())
            selection.select(index, index);
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QModelIndex current = indexOfKey(m_place.currentKey, m_place.currentColumn);
    if (!current.isValid())
        current = m_proxy->index(0, 0); // a row is always current, so the keyboard has a place to start
    if (current.isValid())
        selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);

    // Scroll to the first Active row at the first load and when a task has become Active, unless the
    // technician has looked elsewhere in the list lately.
    const QList<TaskRow>& rows = m_model->rows();
    QSet<QString> activeKeys;
    for (const TaskRow& row : rows) {
        if (row.colour == TaskRow::Colour::Green)
            activeKeys.insert(row.key);
    }
    const QSet<QString> newlyActive = activeKeys - m_activeKeys;
    const bool becameActive = m_loaded && !newlyActive.isEmpty();
    const bool technicianBusy =
        m_technicianMovedAt.isValid() && m_technicianMovedAt.secsTo(m_clock.now()) < kKeepPlaceSeconds;
    // At the first load the first Active row; later the task that has just become Active, which may sit
    // below a row that has been Active all along.
    int target = m_loaded ? -1 : scrollTargetRow(rows);
    if (becameActive) {
        for (int row = 0; row < m_proxy->rowCount(); ++row) {
            const int source = m_proxy->mapToSource(m_proxy->index(row, 0)).row();
            if (newlyActive.contains(rows.at(source).key)) {
                target = source;
                break;
            }
        }
    }
    const QModelIndex targetIndex =
        target < 0 ? QModelIndex() : m_proxy->mapFromSource(m_model->index(target, 0));
    const QModelIndex top = indexOfKey(m_place.topKey);
    // The scroll bars still have the old list's range until the rows are laid out.
    executeDelayedItemsLayout();
    updateGeometries();
    if (targetIndex.isValid() && (!m_loaded || !technicianBusy))
        scrollTo(targetIndex);
    else if (top.isValid())
        scrollTo(top, QAbstractItemView::PositionAtTop);
    horizontalScrollBar()->setValue(m_place.horizontalScroll);
    // A task that became Active while the technician was busy is still news once they are not.
    m_activeKeys =
        (targetIndex.isValid() && m_loaded && technicianBusy) ? (activeKeys & m_activeKeys) : activeKeys;
    m_loaded = m_loaded || !rows.isEmpty();
    fitColumns();
    m_restoring = false;
}

} // namespace corvane
