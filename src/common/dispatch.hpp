// Choosing among kernels that compute the same function, by their measured speed.
//
// The newest instruction set is not always the fastest: a kernel scheduled for one
// microarchitecture can be the slowest on another (the SM3 AVX-512 kernel, tuned for
// Intel's three vector ports, runs at half the speed of the scalar one on AMD Zen 5).
// So each algorithm times every kernel the CPU supports on a few microseconds of
// representative work the first time it is used, and keeps the fastest. An
// environment variable (PELMO_SM3_KERNEL, PELMO_SM4_KERNEL, PELMO_SM2_FIELD_KERNEL)
// naming a supported kernel forces it instead, for tests and benchmarks; an unknown
// or unsupported name is ignored. Every kernel gives bit-identical results, so the
// choice only ever changes speed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/cpu.hpp"

namespace pelmo::detail {

/// One kernel of an algorithm, as the chooser sees it.
struct KernelOption {
    const char* name;
    bool available;  // this CPU (under the test feature mask) can run it
};

/// The index of the kernel to use: the available option that the environment variable
/// env_var names, if any; otherwise the available option whose work(index) runs
/// fastest, best of several interleaved trials (well under a millisecond in all).
/// At least one option must be available.
std::size_t choose_kernel(const char* env_var, std::span<const KernelOption> options,
                          void (*work)(std::size_t index)) noexcept;

/// The name the environment variable asks for, or nullptr.
const char* requested_kernel(const char* env_var) noexcept;

/// A kernel choice made at first use, and made again after the CPU feature mask
/// changes (tests) or refresh_kernel_choices() is called.
class KernelChoice {
  public:
    /// The chosen index; make_options() gives the options when a choice must be made.
    template <class MakeOptions>
    std::size_t get(const char* env_var, MakeOptions make_options,
                    void (*work)(std::size_t)) noexcept {
        const std::uint64_t gen = cpu_mask_generation();
        const std::uint64_t cached = cached_.load(std::memory_order_relaxed);
        // Generation in the high half, index + 1 in the low half (0: nothing chosen).
        if (cached != 0 && (cached >> 32) == gen) return (cached & 0xffffffffu) - 1;
        const auto options = make_options();
        const std::size_t index = choose_kernel(env_var, options, work);
        cached_.store((gen << 32) | (index + 1), std::memory_order_relaxed);
        return index;
    }

  private:
    std::atomic<std::uint64_t> cached_{0};
};

}  // namespace pelmo::detail
