// The package name cut out of a descriptor's bytes.
#include "FuzzInput.h"
#include "agent/PackageDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray content = corvane::descriptorContent(fuzzBytes(data, size));
    FUZZ_REQUIRE(!content.contains('\r') && !content.contains('\n'));
    const std::optional<QString> name = corvane::taskNameFromContent(content);
    if (name && *name != corvane::kUnknownLaunchpadAnswer)
        FUZZ_REQUIRE(name->size() <= content.size());
    return 0;
}
