// What the harnesses assert: a violated property aborts, which libFuzzer reports
// as a finding with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#define FUZZ_CHECK(cond)                                                                       \
    do {                                                                                       \
        if (!(cond)) {                                                                         \
            std::fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

/// Runs fn, letting through only the library's documented input errors.
template <typename Fn>
void allow_documented_errors(Fn fn) {
    try {
        fn();
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
}
