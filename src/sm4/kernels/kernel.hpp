// The SM4 kernels behind CryptSM4: whole blocks in, whole blocks out.
//
// A kernel transforms runs of 16-byte blocks with 32 given round keys (encryption or
// decryption order: the transform is the same). ECB and CBC decryption work on many
// blocks at once; CBC encryption is serial and runs the kernel's lowest-latency
// single-block path. `in` and `out` may be the same buffer (not otherwise overlapping).
//
// Kernels; of those the CPU allows, the fastest by measurement at first use runs, or the
// one PELMO_SM4_KERNEL names (common/dispatch.hpp):
//   portable     plain C++ with lookup tables (only for CPUs without a table-free kernel)
// and on x86-64:
//   aesni        AES-NI + SSSE3: the S-box through AESENCLAST, 8 blocks in flight (xmm)
//   aesni_avx2   AES-NI + AVX2: 16 blocks in flight (ymm); single blocks as aesni
//   gfni_avx512  GFNI + AVX-512: 64 blocks in flight (zmm); single blocks with GFNI on xmm
// and on 64-bit ARM:
//   neon_aes     Advanced SIMD + AES: the S-box through AESE, 8 blocks in flight
//   armv8_sm4    SM4E/SM4EKEY: four rounds per instruction, 8 blocks in flight
// Every kernel but the portable one is free of secret-dependent branches and memory
// indices, key schedule included.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelmo::detail::sm4 {

struct Kernel {
    const char* name;
    /// The S-box on each byte of a word.
    std::uint32_t (*tau)(std::uint32_t x) noexcept;
    /// The 32 round keys (encryption order) of a 16-byte key.
    void (*expand_key)(const std::uint8_t key[16], std::uint32_t rk[32]) noexcept;
    /// n blocks, each transformed independently.
    void (*ecb)(const std::uint32_t rk[32], const std::uint8_t* in, std::uint8_t* out,
                std::size_t n) noexcept;
    /// CBC encryption of n blocks; iv is the chaining value in and out.
    void (*cbc_encrypt)(const std::uint32_t rk[32], std::uint8_t iv[16], const std::uint8_t* in,
                        std::uint8_t* out, std::size_t n) noexcept;
    /// CBC decryption of n blocks (rk in decryption order); iv in and out.
    void (*cbc_decrypt)(const std::uint32_t rk[32], std::uint8_t iv[16], const std::uint8_t* in,
                        std::uint8_t* out, std::size_t n) noexcept;
    /// Counter mode over n whole blocks: out = in ^ E(c), E(c + 1), ... with the counter
    /// c = {hi, lo} (the big-endian halves of the counter block), which advances by n; with
    /// wrap32 only its low 32 bits count. The counter blocks never touch memory. nullptr when
    /// the kernel has no such entry: the caller then writes counter blocks and runs ecb.
    void (*ctr)(const std::uint32_t rk[32], std::uint64_t counter[2], bool wrap32,
                const std::uint8_t* in, std::uint8_t* out, std::size_t n) noexcept;
};

/// The kernels built for this target.
#if defined(__x86_64__)
enum class KernelId { portable, aesni, aesni_avx2, gfni_avx512 };
inline constexpr KernelId kAllKernels[] = {KernelId::portable, KernelId::aesni,
                                           KernelId::aesni_avx2, KernelId::gfni_avx512};
#elif defined(__aarch64__)
enum class KernelId { portable, neon_aes, armv8_sm4 };
inline constexpr KernelId kAllKernels[] = {KernelId::portable, KernelId::neon_aes,
                                           KernelId::armv8_sm4};
#else
enum class KernelId { portable };
inline constexpr KernelId kAllKernels[] = {KernelId::portable};
#endif

/// The kernel of that name whether or not this CPU runs it (for its name).
const Kernel& kernel_of(KernelId id) noexcept;
/// The kernel of that name, or nullptr when this CPU (with the current feature mask)
/// cannot run it.
const Kernel* kernel_by_id(KernelId id) noexcept;
/// The CPU features (pelmo::detail::CpuFeature bits) a kernel needs; masking the CPU
/// down to exactly these forces that kernel.
std::uint32_t kernel_features(KernelId id) noexcept;
/// The kernel in use: the fastest this CPU runs, timed at first use (and again after
/// set_cpu_feature_mask), or the one PELMO_SM4_KERNEL names.
const Kernel& active_kernel() noexcept;

extern const Kernel kPortable;
#if defined(__x86_64__)
extern const Kernel kAesni;
extern const Kernel kAesniAvx2;
extern const Kernel kGfniAvx512;

// Entry points of the AES-NI (SSE) kernel that the AVX2 kernel shares.
std::uint32_t aesni_tau(std::uint32_t x) noexcept;
void aesni_expand_key(const std::uint8_t key[16], std::uint32_t rk[32]) noexcept;
void aesni_ecb_serial(const std::uint32_t rk[32], const std::uint8_t* in, std::uint8_t* out,
                      std::size_t n) noexcept;
void aesni_cbc_encrypt(const std::uint32_t rk[32], std::uint8_t iv[16], const std::uint8_t* in,
                       std::uint8_t* out, std::size_t n) noexcept;
#elif defined(__aarch64__)
extern const Kernel kNeonAes;
extern const Kernel kArmv8Sm4;
#endif

/// The key schedule on top of a kernel's S-box (shared by the kernels).
void expand_key_with(std::uint32_t (*tau)(std::uint32_t) noexcept, const std::uint8_t key[16],
                     std::uint32_t rk[32]) noexcept;

}  // namespace pelmo::detail::sm4
