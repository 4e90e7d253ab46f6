#pragma once

#include <QString>

namespace corvane {

// Corvane's own settings file (the window's arrangement), where its settings live in a file: on Windows they
// are in the registry and there is no file, so this is empty.
QString userSettingsFile();

// Settings are a few kilobytes of text. A file at `path` that is not a regular file under this size (a FIFO
// would keep the window from ever appearing, hundreds of megabytes cost seconds at every start and close) is
// renamed aside so that the defaults are used; returns the notice that says so, empty when nothing was done.
// A file that cannot be renamed is left, and the notice says the settings are not used.
constexpr qint64 kMaxSettingsBytes = 1024 * 1024;
QString setAsideUnusableSettings(const QString& path);

} // namespace corvane
