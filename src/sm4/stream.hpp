// The engines behind the SM4 stream and authenticated modes: key schedule, counter-mode
// keystream, CFB and OFB registers. Each keeps its position within a block, so a message can
// be fed in pieces of any size.
#pragma once

#include <cstddef>
#include <cstdint>

#include <pelmo/types.hpp>

#include "sm4/kernels/kernel.hpp"

namespace pelmo::detail::sm4 {

/// Throws std::invalid_argument unless the key and the IV are 16 bytes each.
void check_key(ByteView key);
void check_iv16(ByteView iv);

/// XORs n bytes: out = a ^ b (out may be a or b).
void xor_bytes(std::uint8_t* out, const std::uint8_t* a, const std::uint8_t* b,
               std::size_t n) noexcept;

/// Blocks the counter engine encrypts per kernel call (64 fills the widest kernel).
inline constexpr std::size_t kBatchBlocks = 64;

/// Counter mode: the keystream is E(counter), E(counter + 1), ... where the counter is a
/// 128-bit big-endian number, or (GCM) only its low 32 bits count and wrap.
struct Ctr {
    std::uint32_t rk[32];
    std::uint64_t hi = 0, lo = 0;  // the next counter block, as two big-endian halves
    bool wrap32 = false;
    std::uint8_t ks[16] = {};  // the current keystream block
    unsigned used = 16;        // bytes of ks already used

    void start(const std::uint32_t round_keys[32], const std::uint8_t counter[16],
               bool low32) noexcept;
    /// out = in ^ keystream over n bytes (out may equal in).
    void crypt(const Kernel& k, const std::uint8_t* in, std::uint8_t* out, std::size_t n) noexcept;
    ~Ctr();

  private:
    /// Writes m counter blocks to buf and advances the counter.
    void fill(std::uint8_t* buf, std::size_t m) noexcept;
};

/// CFB-128 (as OpenSSL's, including partial blocks): with used == 0, reg is the previous
/// ciphertext block (the IV at first); otherwise E(previous ciphertext block) with its first
/// `used` bytes replaced by this block's ciphertext so far.
struct Cfb {
    std::uint32_t rk[32];
    std::uint8_t reg[16];
    unsigned used = 0;
    void encrypt(const Kernel& k, const std::uint8_t* in, std::uint8_t* out,
                 std::size_t n) noexcept;
    void decrypt(const Kernel& k, const std::uint8_t* in, std::uint8_t* out,
                 std::size_t n) noexcept;
    ~Cfb();
};

/// OFB: with used == 0, reg is the previous keystream block (the IV at first), otherwise the
/// current one.
struct Ofb {
    std::uint32_t rk[32];
    std::uint8_t reg[16];
    unsigned used = 0;
    void crypt(const Kernel& k, const std::uint8_t* in, std::uint8_t* out, std::size_t n) noexcept;
    ~Ofb();
};

}  // namespace pelmo::detail::sm4
