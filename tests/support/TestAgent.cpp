#include "TestAgent.h"

#include "base/SqliteConnection.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>

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

QStringList TestAgent::dumpAll() const {
    QStringList lines;
    for (const char* table : {"ClientOperations", "InvokerState", "ReschedulePolicy", "PackageState"})
        lines << QLatin1String(table) + QLatin1Char(':') + dump(QLatin1String(table)).join(QLatin1Char('/'));
    return lines;
}

QString TestAgent::integrityCheck() const {
    SqliteConnection db(paths().database());
    QList<QStringList> rows;
    QString error;
    if (!db.run(QStringLiteral("PRAGMA integrity_check"), rows, error))
        return error;
    QStringList lines;
    for (const QStringList& row : rows)
        lines << row.join(QLatin1Char('|'));
    return lines.join(QLatin1Char('\n'));
}

QMap<QString, QByteArray> TestAgent::snapshot() const {
    QMap<QString, QByteArray> files;
    QDirIterator it(root(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(root()).relativeFilePath(path);
        if (relative.startsWith(QLatin1String("ProgramData/Corvane/")))
            continue; // Corvane's own files: its journal of changes
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        files.insert(relative, QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
    }
    return files;
}

DatabaseLock::DatabaseLock(const fake::AgentTree& agent, bool halfWritten) {
    QStringList arguments{QStringLiteral("hold-lock"), QStringLiteral("--agent-root"), agent.root()};
    if (halfWritten)
        arguments << QStringLiteral("--half-written");
    m_process.start(QStringLiteral(FAKE_AGENT_PATH), arguments);
    m_held = m_process.waitForReadyRead(10000) && m_process.readLine().startsWith("locked");
}

bool DatabaseLock::kill() {
    m_process.kill();
    return m_process.waitForFinished(10000);
}

DatabaseLock::~DatabaseLock() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(10000))
        m_process.kill();
}

} // namespace corvane::test
