#include <atomic>

#include "common/cpu.hpp"
#include "sm3/compress.hpp"

namespace pelmo::detail::sm3 {

CompressFn kernel_by_name(Kernel k) noexcept {
    switch (k) {
        case Kernel::portable:
            return compress_portable;
        case Kernel::bmi2:
            return cpu_has(kCpuBmi2) ? compress_bmi2 : nullptr;
        case Kernel::avx2:
            return cpu_has(kCpuAvx2 | kCpuBmi2) ? compress_avx2 : nullptr;
        case Kernel::avx512:
            return cpu_has(kCpuAvx512 | kCpuBmi2) ? compress_avx512 : nullptr;
    }
    return nullptr;
}

CompressFn compress_kernel() noexcept {
    static std::atomic<CompressFn> chosen{nullptr};
    static std::atomic<std::uint32_t> chosen_generation{~0u};
    const std::uint32_t gen = cpu_mask_generation();
    CompressFn fn = chosen.load(std::memory_order_acquire);
    if (fn != nullptr && chosen_generation.load(std::memory_order_relaxed) == gen) return fn;
    if (cpu_has(kCpuAvx512 | kCpuBmi2))
        fn = compress_avx512;
    else
        fn = cpu_has(kCpuBmi2) ? compress_bmi2 : compress_portable;
    chosen.store(fn, std::memory_order_release);
    chosen_generation.store(gen, std::memory_order_relaxed);
    return fn;
}

}  // namespace pelmo::detail::sm3
