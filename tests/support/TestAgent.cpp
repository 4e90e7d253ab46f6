#include "TestAgent.h"

#include "SqliteConnection.h"

namespace corvane::test {

TestAgent::TestAgent()
    : fake::AgentTree(dir.path()) {}

QStringList TestAgent::dump(const QString& table) const {
    SqliteConnection db(paths().database());
    QList<QStringList> rows;
    QString error;
    if (!db.run(QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(table), rows, error))
        return {QStringLiteral("error: ") + error};
    QStringList lines;
    for (const QStringList& row : rows)
        lines << row.join(QLatin1Char('|'));
    return lines;
}

} // namespace corvane::test
