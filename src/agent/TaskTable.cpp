#include "agent/TaskTable.h"

namespace corvane {

bool TaskTable::add(const QString& key, const QString& value) {
    if (m_index.contains(key))
        return false;
    if (m_keys.size() >= m_limit) {
        ++m_overflow;
        return false;
    }
    m_index.insert(key, m_keys.size());
    m_keys.append(key);
    m_values.append(value);
    return true;
}

QString TaskTable::item(const QString& key) const {
    const auto it = m_index.constFind(key);
    return it == m_index.constEnd() ? QString() : m_values.at(*it);
}

QString* TaskTable::find(const QString& key) {
    const auto it = m_index.constFind(key);
    return it == m_index.constEnd() ? nullptr : &m_values[*it];
}

} // namespace corvane
