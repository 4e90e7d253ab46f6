#pragma once

namespace corvane::test {

// How many times slower than the plain build a sanitizer build runs. Every time limit a test asserts or waits
// for is written for the plain build and passed through scaledMs, so that it holds under the sanitizers
// without being loosened where it is measured as written.
#if defined(CORVANE_TSAN)
constexpr int kSlowdown = 6;
#elif defined(CORVANE_SANITIZED)
constexpr int kSlowdown = 4;
#else
constexpr int kSlowdown = 1;
#endif

// The plain build's limit `ms`, for this build.
constexpr int scaledMs(int ms) {
    return ms * kSlowdown;
}

} // namespace corvane::test
