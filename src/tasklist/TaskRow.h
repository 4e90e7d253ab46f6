#pragma once

#include <QString>

namespace corvane {

// What one list row shows for one task-table entry.
struct TaskRow {
    enum class Colour { Default, Red, Green, Grey };
    // What the descriptor's answer says the task is: a package, no descriptor, a descriptor of another kind,
    // or a letter the list knows nothing of.
    enum class Kind { Package, Push, Launchpad, Other };
    enum class Icon { None, Policy, Push, Launchpad };
    // Only the package rows carry the policy tag, and only they can be checked.
    enum class Tag { None, Policy };

    QString key;    // "k" + task id
    QString record; // the TaskRecord text it was built from
    QString application;
    QString database;
    QString sdclient;
    QString install;
    QString reschedule;
    QString rescheduleDate;
    Kind kind = Kind::Package;
    QString otherKind; // the answer's kind letter when it names no known kind
    Icon icon = Icon::None;
    Colour colour = Colour::Default;
    Tag tag = Tag::None;
    QString descriptorError; // why the package name could not be read, when it could not
    bool nameCut = false;    // the package name was longer than the list keeps, and was cut

    // The six column texts after the first (check box and icon) column, in column order, as shown: cut at
    // kCellTextLimit. The fields themselves keep the whole texts.
    QString columnText(int column) const;
};

// A shown cell is cut at this many characters: the list lays out a name of megabytes for minutes when it
// paints it, and a real package name or state is a few dozen characters.
constexpr qsizetype kCellTextLimit = 300;

// `text` cut at `limit` characters, saying how much was left out, as the log box cuts its long lines.
QString cappedText(const QString& text, qsizetype limit);
inline QString cappedCell(const QString& text) {
    return cappedText(text, kCellTextLimit);
}

} // namespace corvane
