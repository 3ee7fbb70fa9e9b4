#include "common/dispatch.hpp"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace pelmo::detail {

const char* requested_kernel(const char* env_var) noexcept {
    // secure_getenv: a set-user-ID program does not let its caller pick kernels.
    const char* v = ::secure_getenv(env_var);
    return v != nullptr && *v != '\0' ? v : nullptr;
}

std::size_t choose_kernel(const char* env_var, std::span<const KernelOption> options,
                          void (*work)(std::size_t)) noexcept {
    if (const char* wanted = requested_kernel(env_var)) {
        for (std::size_t i = 0; i < options.size(); ++i)
            if (options[i].available && std::strcmp(options[i].name, wanted) == 0) return i;
    }
    std::size_t count = 0, first = 0;
    for (std::size_t i = options.size(); i-- > 0;)
        if (options[i].available) ++count, first = i;
    if (count <= 1) return first;

    // Every kernel once to warm caches and clocks, then the trials round-robin so that
    // a frequency change or an interruption hits all kernels alike; the minimum of each
    // kernel's trials is its undisturbed time.
    using clock = std::chrono::steady_clock;
    constexpr int kTrials = 5;
    constexpr std::size_t kMaxOptions = 16;
    double best[kMaxOptions];
    const std::size_t n = options.size() < kMaxOptions ? options.size() : kMaxOptions;
    for (std::size_t i = 0; i < n; ++i) {
        best[i] = std::numeric_limits<double>::infinity();
        if (options[i].available) work(i);
    }
    for (int t = 0; t < kTrials; ++t) {
        for (std::size_t i = 0; i < n; ++i) {
            if (!options[i].available) continue;
            const auto start = clock::now();
            work(i);
            const double seconds = std::chrono::duration<double>(clock::now() - start).count();
            if (seconds < best[i]) best[i] = seconds;
        }
    }
    std::size_t fastest = first;
    for (std::size_t i = first + 1; i < n; ++i)
        if (options[i].available && best[i] < best[fastest]) fastest = i;
    return fastest;
}

}  // namespace pelmo::detail
