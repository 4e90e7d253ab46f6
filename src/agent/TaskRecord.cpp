#include "agent/TaskRecord.h"

namespace corvane {

namespace TaskRecord {

QString escaped(const QString& text) {
    if (!text.contains(QLatin1Char(';')) && !text.contains(kEscape))
        return text;
    QString stored;
    stored.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (c == QLatin1Char(';'))
            stored.append(kEscape).append(QLatin1Char('s'));
        else if (c == kEscape)
            stored.append(kEscape).append(kEscape);
        else
            stored += c;
    }
    return stored;
}

QString unescaped(const QString& stored) {
    if (!stored.contains(kEscape))
        return stored;
    QString text;
    text.reserve(stored.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const QChar c = stored.at(i);
        const QChar next = i + 1 < stored.size() ? stored.at(i + 1) : QChar();
        if (c == kEscape && next == QLatin1Char('s')) {
            text += QLatin1Char(';');
            ++i;
        } else if (c == kEscape && next == kEscape) {
            text += kEscape;
            ++i;
        } else {
            text += c;
        }
    }
    return text;
}

} // namespace TaskRecord

namespace StateNames {

QString name(QStringView code) {
    bool ok = false;
    const int value = code.trimmed().toInt(&ok);
    return ok && value >= 0 && value < kNames.size() ? kNames.at(value) : QString();
}

} // namespace StateNames

} // namespace corvane
