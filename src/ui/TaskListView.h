#pragma once

#include "actions/TaskActions.h"

#include <QDateTime>
#include <QSet>
#include <QStringList>
#include <QTreeView>

#include <functional>

namespace corvane {

class Clock;
class TaskListModel;
class TaskListProxy;

// The task list as the technician works with it: sorting by a header, columns shown or hidden from the
// header's menu, a row menu, Ctrl+C, Enter for the details. A rebuild of the rows keeps the technician's
// place (selection, current row, scroll position, column widths), all found again by task key.
class TaskListView : public QTreeView {
    Q_OBJECT

public:
    // Idle time after the technician scrolled or moved in the list before a rebuild may scroll it again.
    static constexpr int kKeepPlaceSeconds = 30;

    TaskListView(TaskListProxy* proxy, const Clock& clock, QWidget* parent = nullptr);

    // Whether the window would run `action` now (its button is enabled); asked when a row menu opens.
    void setActionAvailable(std::function<bool(TaskAction)> available) {
        m_actionAvailable = std::move(available);
    }

    // The keys of the selected rows, in the order shown.
    QStringList selectedKeys() const;
    // The key of the current row, or an empty text.
    QString currentKey() const;
    // The selected rows as tab-separated text with a header line.
    QString selectedRowsText() const;

    // Gives the columns the technician has not resized their share of the list's width.
    void fitColumns();
    // Column widths, order, visibility and sort, and which widths the technician chose, for the settings.
    QByteArray headerState() const;
    QList<int> sizedColumns() const;
    void restoreHeaderState(const QByteArray& state, const QList<int>& sizedColumns);

signals:
    void detailsRequested(const QString& key);
    void actionRequested(TaskAction action, const QString& key);
    void onlyThisTaskRequested(const QString& key);
    void historyRequested(const QString& key);
    void exportRequested();
    // "Connect to workstation...".
    void connectRequested();
    // "Find on workstations...".
    void findOnWorkstationsRequested();
    // The header menu's "Legend...": what the icons and the colours of the rows mean.
    void legendRequested(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QString rowsText(const QStringList& keys) const;
    void copyRows(const QStringList& keys);
    void copyTaskIds(const QStringList& keys);
    QPoint menuPlaceOf(const QModelIndex& index) const;
    void showRowMenu(const QModelIndex& index, const QPoint& globalPos);
    void showHeaderMenu(const QPoint& position);
    void rememberPlace();
    void restorePlace();
    void noteTechnicianMoved();
    int firstColumnMinimum() const;
    void keepCurrentInView();
    QModelIndex indexOfKey(const QString& key, int column = 0) const;
    QString keyAt(const QModelIndex& index) const;

    TaskListProxy* m_proxy;
    TaskListModel* m_model;
    const Clock& m_clock;
    std::function<bool(TaskAction)> m_actionAvailable;

    // The place found again after a rebuild.
    struct Place {
        QStringList selectedKeys;
        QString currentKey;
        int currentColumn = 0;
        QString topKey;
        int horizontalScroll = 0;
    };
    Place m_place;
    bool m_restoring = false;
    bool m_loaded = false;
    QSet<QString> m_activeKeys; // the green rows of the last rebuild
    QDateTime m_technicianMovedAt;

    QSet<int> m_sizedColumns; // widths the technician chose; the others follow the list's width
    bool m_fitting = false;
    bool m_keepingInView = false;
};

} // namespace corvane
