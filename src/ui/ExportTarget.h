#pragma once

#include <QString>

namespace corvane {

// Where "Export..." offers to save first: the user's Documents folder, which a normal user can write to
// (the program's own folder may be under Program Files).
QString defaultExportPath();
// What the status line says once the rows are saved: "26 rows saved to C:\...\tasks.csv".
QString exportedText(int rows, const QString& path);

} // namespace corvane
