#pragma once

#include <QString>

namespace corvane {

// What one list row shows for one task-table entry.
struct TaskRow {
    enum class Colour { Default, Red, Green, Grey };

    QString key;    // "k" + task id
    QString record; // the TaskRecord text it was built from
    QString application;
    QString database;
    QString sdclient;
    QString install;
    QString reschedule;
    QString rescheduleDate;
    QString kind; // "S" package, "P" no descriptor, "L" descriptor of another kind
    QString icon; // "policy", "push", "launchpad" or empty
    Colour colour = Colour::Default;
    QString tag;             // "policy" marks the rows that can be checked
    QString descriptorError; // why the package name could not be read, when it could not

    // The six column texts after the first (check box and icon) column, in column order, as shown: cut at
    // kCellTextLimit. The fields themselves keep the whole texts.
    QString columnText(int column) const;
};

inline const QString kPolicyTag = QStringLiteral("policy");

// A shown cell is cut at this many characters: the list lays out a name of megabytes for minutes when it
// paints it, and a real package name or state is a few dozen characters.
constexpr qsizetype kCellTextLimit = 300;

// `text` cut at kCellTextLimit, saying how much was left out, as the log box cuts its long lines.
QString cappedCell(const QString& text);

} // namespace corvane
