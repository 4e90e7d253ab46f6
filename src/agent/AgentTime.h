#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace corvane {

// Agent time is whole seconds since 01/01/1970 00:00, without time zone. Returns "dd/mm/yy hh:nn"
// (seconds dropped), or nothing when the text is not a whole number or the date falls outside the
// years 100 to 9999.
std::optional<QString> agentTimeText(const QString& seconds);
// The same for seconds written in ASCII, as SQLite writes an integer, without making them text first.
std::optional<QString> agentTimeTextOfAscii(QByteArrayView seconds);

} // namespace corvane
