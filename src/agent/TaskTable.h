#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <limits>

namespace corvane {

// The in-memory join of everything the agent knows about each task: task id -> TaskRecord text.
// Entries keep their insertion order; giving a present key a new value keeps its place.
class TaskTable {
public:
    // Adds a new entry; refuses (returns false, table unchanged) a key that is already present, and any new
    // key once the table holds `limit()` entries (counted in overflow()).
    bool add(const QString& key, const QString& value);
    // Caps the entries a hostile or broken agent file can make the table hold.
    void setLimit(int limit) { m_limit = limit; }
    int limit() const { return m_limit; }
    // New keys refused because the table was full.
    int overflow() const { return m_overflow; }
    bool exists(const QString& key) const { return m_index.contains(key); }
    // The value under `key`, or an empty text when the key is absent.
    QString item(const QString& key) const;
    // The value under a present key, to change in place (its place in the table stays); null when absent.
    QString* find(const QString& key);
    int count() const { return m_keys.size(); }
    const QStringList& keys() const { return m_keys; }
    const QStringList& items() const { return m_values; }

private:
    QStringList m_keys;
    QStringList m_values;
    QHash<QString, int> m_index;
    int m_limit = std::numeric_limits<int>::max();
    int m_overflow = 0;
};

} // namespace corvane
