#include "TaskRecord.h"

namespace corvane::StateNames {

QString name(const QString& code) {
    bool ok = false;
    const int value = code.trimmed().toInt(&ok);
    return ok && value >= 0 && value < kNames.size() ? kNames.at(value) : QString();
}

} // namespace corvane::StateNames
