// Choosing the SM3 compression kernel: the fastest this CPU runs, by measurement.
#include <array>

#include "common/cpu.hpp"
#include "common/dispatch.hpp"
#include "sm3/compress.hpp"

namespace pelmo::detail::sm3 {

namespace {

struct KernelInfo {
    const char* name;
    CompressFn fn;
    std::uint32_t features;
};

// In Kernel order.
constexpr KernelInfo kKernels[] = {
    {"portable", compress_portable, 0},
#if defined(__x86_64__)
    {"bmi2", compress_bmi2, kCpuBmi2},
    {"avx2", compress_avx2, kCpuAvx2 | kCpuBmi2},
    {"avx512", compress_avx512, kCpuAvx512 | kCpuBmi2},
#elif defined(__aarch64__)
    {"armv8_sm3", compress_armv8_sm3, kCpuArmAsimd | kCpuArmSm3},
#endif
};
static_assert(std::size(kKernels) == std::size(kAllKernels));

// 1 KiB of blocks, a few microseconds for any kernel.
void calibration_work(std::size_t index) {
    alignas(64) static const std::uint8_t blocks[16 * 64] = {};
    std::uint32_t state[8] = {};
    kKernels[index].fn(state, blocks, 16);
    __asm__ __volatile__("" : : "r"(state) : "memory");
}

KernelChoice g_choice;

std::size_t chosen_index() noexcept {
    return g_choice.get(
        "PELMO_SM3_KERNEL",
        [] {
            std::array<KernelOption, std::size(kKernels)> options;
            for (std::size_t i = 0; i < options.size(); ++i)
                options[i] = {kKernels[i].name, cpu_has(kKernels[i].features)};
            return options;
        },
        calibration_work);
}

}  // namespace

CompressFn kernel_by_name(Kernel k) noexcept {
    const KernelInfo& info = kKernels[static_cast<std::size_t>(k)];
    return cpu_has(info.features) ? info.fn : nullptr;
}

const char* kernel_name(Kernel k) noexcept {
    return kKernels[static_cast<std::size_t>(k)].name;
}

CompressFn compress_kernel() noexcept {
    return kKernels[chosen_index()].fn;
}

const char* active_kernel_name() noexcept {
    return kKernels[chosen_index()].name;
}

}  // namespace pelmo::detail::sm3
