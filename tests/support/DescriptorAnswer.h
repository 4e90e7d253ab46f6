#pragma once

#include "agent/PackageDescriptor.h"

#include <QFileInfo>

#include <optional>

namespace corvane::test {

// The answer the list's reader gives for the descriptor at `path`: the name, or nothing with the reason in
// `error`.
inline std::optional<QString> descriptorAnswer(const QString& path, QString& error) {
    const QFileInfo file(path);
    std::optional<QString> answer;
    descriptorTaskNames(
        file.path() + QLatin1Char('/'), {file.fileName()}, [](int) { return kMaxNameChars; },
        [&](int, const std::optional<QString>& read, bool, const QString& why) {
            answer = read;
            error = why;
        });
    return answer;
}

} // namespace corvane::test
