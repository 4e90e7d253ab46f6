// A list row built from any record text and any descriptor answer. Input: the record, a line break, then
// the answer (no line break: the descriptor could not be read).
#include "FuzzInput.h"
#include "tasklist/TaskList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString input = QString::fromUtf8(fuzzBytes(data, size));
    const qsizetype split = input.indexOf(QLatin1Char('\n'));
    const QString record = split < 0 ? input : input.left(split);
    std::optional<QString> answer;
    if (split >= 0)
        answer = input.mid(split + 1);

    const corvane::TaskRow row = corvane::buildTaskRow(QStringLiteral("7"), record, answer);
    FUZZ_REQUIRE(row.key == QStringLiteral("k7"));
    using corvane::TaskRow;
    const bool package = row.kind == TaskRow::Kind::Package;
    FUZZ_REQUIRE((row.tag == TaskRow::Tag::Policy) == package);
    FUZZ_REQUIRE(package || row.colour == TaskRow::Colour::Grey);
    FUZZ_REQUIRE(package == (corvane::kindLetter(row) == QStringLiteral("S")));
    const int target = corvane::scrollTargetRow({row, row});
    FUZZ_REQUIRE(target >= -1 && target < 2);
    return 0;
}
