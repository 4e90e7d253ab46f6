#pragma once

#include "ui/Form1.h"
#include "ui/TaskListModel.h"

#include <QSignalSpy>

#include <functional>

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

// Does what starts a read of the agent (Form_Load, a button) and waits until the window shows its outcome.
inline bool readAfter(Form1& form, const std::function<void()>& start, int timeoutMs = 30000) {
    QSignalSpy read(&form, &Form1::taskListRead);
    start();
    return !read.isEmpty() || read.wait(timeoutMs);
}

// Runs Form_Load and waits until the list shows what it read.
inline bool load(Form1& form) {
    return readAfter(form, [&form] { form.Form_Load(); });
}

} // namespace corvane::test
