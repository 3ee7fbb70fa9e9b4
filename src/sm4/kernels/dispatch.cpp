// Choosing the SM4 kernel from CPUID.
#include <atomic>

#include "common/cpu.hpp"
#include "sm4/kernels/kernel.hpp"

namespace pelmo::detail::sm4 {

std::uint32_t kernel_features(KernelId id) noexcept {
    switch (id) {
        case KernelId::portable:
            return 0;
        case KernelId::aesni:
            return kCpuAesNi;
        case KernelId::aesni_avx2:
            return kCpuAesNi | kCpuAvx2;
        case KernelId::gfni_avx512:
            return kCpuGfni | kCpuAvx512;
    }
    return ~0u;
}

const Kernel& kernel_of(KernelId id) noexcept {
    switch (id) {
        case KernelId::aesni:
            return kAesni;
        case KernelId::aesni_avx2:
            return kAesniAvx2;
        case KernelId::gfni_avx512:
            return kGfniAvx512;
        case KernelId::portable:
            break;
    }
    return kPortable;
}

const Kernel* kernel_by_id(KernelId id) noexcept {
    return cpu_has(kernel_features(id)) ? &kernel_of(id) : nullptr;
}

const Kernel& active_kernel() noexcept {
    static std::atomic<const Kernel*> chosen{nullptr};
    static std::atomic<std::uint32_t> chosen_generation{~0u};
    const std::uint32_t gen = cpu_mask_generation();
    const Kernel* k = chosen.load(std::memory_order_acquire);
    if (k != nullptr && chosen_generation.load(std::memory_order_relaxed) == gen) return *k;
    // Fastest first.
    for (KernelId id : {KernelId::gfni_avx512, KernelId::aesni_avx2, KernelId::aesni}) {
        if ((k = kernel_by_id(id)) != nullptr) break;
    }
    if (k == nullptr) k = &kPortable;
    chosen.store(k, std::memory_order_release);
    chosen_generation.store(gen, std::memory_order_relaxed);
    return *k;
}

}  // namespace pelmo::detail::sm4
