#pragma once

#include "AgentTree.h"

#include <QTemporaryDir>

namespace corvane::test {

// Holds the folder, so that it exists before the agent tree below it is set up.
struct TemporaryRoot {
    QTemporaryDir dir;
};

// A simulated agent in a temporary folder that disappears with the object.
class TestAgent : private TemporaryRoot, public fake::AgentTree {
public:
    TestAgent();
    // Every row of a table as "col|col|..." texts, ordered by rowid: for before/after comparisons.
    QStringList dump(const QString& table) const;
};

} // namespace corvane::test
