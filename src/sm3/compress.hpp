// The SM3 compression kernels behind every hash pelmo computes.
//
// A kernel consumes whole 64-byte blocks into the eight-word state. The portable
// kernel is plain C++ and runs everywhere; on x86-64 the BMI2 build of the same code
// (rorx rotates without flag dependencies), an AVX2 one (rounds on the scalar ports,
// expansion in vector registers; fastest where vector operations take two cycles, as on
// AMD Zen 5) and an AVX-512 one (rounds in vector registers, expansion on the scalar
// ports) run where CPUID allows; on 64-bit ARM, one on the SM3 instructions runs where
// the CPU has them. The fastest of those is chosen at run time by timing them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelmo::detail::sm3 {

using CompressFn = void (*)(std::uint32_t state[8], const std::uint8_t* blocks,
                            std::size_t nblocks) noexcept;

void compress_portable(std::uint32_t state[8], const std::uint8_t* blocks,
                       std::size_t nblocks) noexcept;
#if defined(__x86_64__)
void compress_bmi2(std::uint32_t state[8], const std::uint8_t* blocks,
                   std::size_t nblocks) noexcept;
void compress_avx2(std::uint32_t state[8], const std::uint8_t* blocks,
                   std::size_t nblocks) noexcept;
void compress_avx512(std::uint32_t state[8], const std::uint8_t* blocks,
                     std::size_t nblocks) noexcept;
#elif defined(__aarch64__)
void compress_armv8_sm3(std::uint32_t state[8], const std::uint8_t* blocks,
                        std::size_t nblocks) noexcept;
#endif

/// The kernel in use: the fastest this CPU runs, timed at first use, or the one that
/// PELMO_SM3_KERNEL names (see common/dispatch.hpp).
CompressFn compress_kernel() noexcept;
/// Its name.
const char* active_kernel_name() noexcept;

/// The kernels built for this target, for tests and benchmarks.
#if defined(__x86_64__)
enum class Kernel { portable, bmi2, avx2, avx512 };
inline constexpr Kernel kAllKernels[] = {Kernel::portable, Kernel::bmi2, Kernel::avx2,
                                         Kernel::avx512};
#elif defined(__aarch64__)
enum class Kernel { portable, armv8_sm3 };
inline constexpr Kernel kAllKernels[] = {Kernel::portable, Kernel::armv8_sm3};
#else
enum class Kernel { portable };
inline constexpr Kernel kAllKernels[] = {Kernel::portable};
#endif
/// The kernel of that name, or nullptr when this CPU cannot run it.
CompressFn kernel_by_name(Kernel k) noexcept;
/// The name PELMO_SM3_KERNEL takes for it.
const char* kernel_name(Kernel k) noexcept;

}  // namespace pelmo::detail::sm3
