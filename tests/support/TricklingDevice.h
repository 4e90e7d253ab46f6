#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QList>

#include <algorithm>
#include <cstring>

namespace corvane::test {

// Bytes handed out a few at a time, as a slow share may answer: each read returns at most the next of
// `steps` bytes, so a reader that takes what one read returns as a chunk meets lines, line breaks and the
// text it searches for cut at every place. Open it with QIODevice::Unbuffered.
class TricklingDevice : public QIODevice {
public:
    TricklingDevice(QByteArray bytes, QList<qint64> steps)
        : m_bytes(std::move(bytes))
        , m_steps(std::move(steps)) {}

    qint64 size() const override { return m_bytes.size(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qint64 step =
            m_steps.isEmpty() ? maxSize : std::max<qint64>(m_steps.at(m_next++ % m_steps.size()), 1);
        const qint64 count = std::min({maxSize, step, m_bytes.size() - pos()});
        std::memcpy(data, m_bytes.constData() + pos(), size_t(count));
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    QList<qint64> m_steps;
    qsizetype m_next = 0;
};

} // namespace corvane::test
