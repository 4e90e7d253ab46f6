#pragma once

#include "TaskListModel.h"

namespace corvane::test {

// The position of the row with `key` in the list, or -1.
inline int rowOf(const TaskListModel& model, const QString& key) {
    for (int row = 0; row < model.rowCount(); ++row) {
        if (model.taskRow(row).key == key)
            return row;
    }
    return -1;
}

// Ticks (or clears) the check box of a row as a click in the list does.
inline void check(TaskListModel& model, const QString& key, bool checked = true) {
    model.setData(model.index(rowOf(model, key), 0), checked ? Qt::Checked : Qt::Unchecked,
                  Qt::CheckStateRole);
}

} // namespace corvane::test
