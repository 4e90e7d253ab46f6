#pragma once

#include <QString>
#include <QStringList>

namespace corvane {

// A task's record: fields joined with ';', no quoting. Readers split at every ';' and use the first six
// fields; a record can hold more (the scheduled-task merge may append twice) or, when damaged, fewer.
namespace TaskRecord {

enum Field {
    kOperationFile = 0,
    kInvokerState = 1,
    kReschedule = 2,
    kRescheduleDate = 3,
    kScheduledState = 4,
    kScheduledTime = 5,
};

// A ';' inside a field text (an operation file name may hold one) would split the record in the wrong place
// and make an action name another operation. Writers escape a field with kEscape: ';' becomes kEscape 's'
// and kEscape itself becomes kEscape kEscape, so two different texts never give the same field, and a
// field without either character is stored as it is. field() undoes it.
inline constexpr QChar kEscape = QChar(0xF03B);

// A field text ready to be joined into a record.
QString escaped(const QString& text);
// The text that escaped() turned into `stored`. A kEscape not followed by 's' or kEscape is kept as is.
QString unescaped(const QString& stored);

// Every field, empty ones included: the number of ';' plus one.
inline QStringList split(const QString& record) {
    return record.split(QLatin1Char(';'));
}
// The text of field `index` of split fields, or an empty text when the record is shorter.
inline QString field(const QStringList& fields, int index) {
    return index < fields.size() ? unescaped(fields.at(index)) : QString();
}

// The text of a record's first field, the operation file, without splitting the rest.
inline QString firstField(const QString& record) {
    return unescaped(record.left(record.indexOf(QLatin1Char(';'))));
}

// The tail of a record that the database loader wrote and the scheduled-task merge has not completed yet.
inline const QString kUnmergedTail = QStringLiteral(";n/a;n/a");
// The entry that stands for a missing agent database.
inline const QString kMissingDatabaseKey = QStringLiteral("1");
inline const QString kMissingDatabaseRecord = QStringLiteral("Database@Error;2;;;;");

} // namespace TaskRecord

// Names of the invoker state codes 0 to 7.
namespace StateNames {

inline const QStringList kNames = {
    QStringLiteral("Resume"),      QStringLiteral("UndoContinue"), QStringLiteral("Waiting"),
    QStringLiteral("UndoWaiting"), QStringLiteral("Active"),       QStringLiteral("Undoing"),
    QStringLiteral("Completed"),   QStringLiteral("n/a"),
};

// The name of a state code given as text; empty for a code that is not a whole number from 0 to 7.
QString name(QStringView code);

} // namespace StateNames

} // namespace corvane
