// The SM3 hash function (GB/T 32905) and the SM2 key-derivation function.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include <pelmo/types.hpp>

namespace pelmo::sm3 {

/// The initial chaining value.
extern const std::array<std::uint32_t, 8> IV;
/// Round constants by round: 0x79cc4519 for rounds 0..15, 0x7a879d8a for 16..63.
extern const std::array<std::uint32_t, 64> T_j;

/// The boolean functions FF_j and GG_j; j outside 0..63 is std::out_of_range.
std::uint32_t sm3_ff_j(std::uint32_t x, std::uint32_t y, std::uint32_t z, int j);
std::uint32_t sm3_gg_j(std::uint32_t x, std::uint32_t y, std::uint32_t z, int j);
/// The permutations P0 and P1.
std::uint32_t sm3_p_0(std::uint32_t x);
std::uint32_t sm3_p_1(std::uint32_t x);

/// One compression: v_i must have 8 words (std::invalid_argument), b_i at least 64
/// bytes (std::out_of_range; bytes past the 64th are ignored).
std::array<std::uint32_t, 8> sm3_cf(std::span<const std::uint32_t> v_i, ByteView b_i);

/// The digest of msg as 64 lower-case hexadecimal digits.
std::string sm3_hash(ByteView msg);

/// The SM2 key-derivation function over the octets that the hexadecimal text z spells
/// (either case; a bad digit or odd length is std::invalid_argument), with a 32-bit
/// big-endian counter from 1: 2*klen lower-case digits ("" for klen <= 0). The counter
/// covers at most 32 * (2^32 - 1) bytes: a longer klen is std::invalid_argument.
std::string sm3_kdf(std::string_view z, std::int64_t klen);

/// Incremental SM3: feed any number of update() calls, read the digest at any point.
///
///     pelmo::sm3::SM3 h;
///     h.update(part1).update(part2);
///     std::string hex = h.hexdigest();
class SM3 {
  public:
    static constexpr std::size_t digest_size = 32;
    static constexpr std::size_t block_size = 64;
    using Digest = std::array<std::uint8_t, digest_size>;

    SM3() noexcept { reset(); }
    SM3(const SM3&) noexcept = default;
    SM3& operator=(const SM3&) noexcept = default;
    /// Zeros the chaining state and the buffered bytes, which derive from the message
    /// (a shared secret, when the hasher serves a key derivation).
    ~SM3();

    /// Starts a new message.
    void reset() noexcept;
    /// Appends bytes to the message.
    SM3& update(ByteView data) noexcept;
    SM3& update(std::string_view text) noexcept {
        return update(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    /// The digest of everything fed so far; the hasher may go on being updated.
    Digest digest() const noexcept;
    /// The digest as 64 lower-case hexadecimal digits.
    std::string hexdigest() const;

    /// One-shot convenience.
    static Digest hash(ByteView data) noexcept;

  private:
    std::array<std::uint32_t, 8> state_{};
    std::array<std::uint8_t, block_size> buffer_{};
    std::uint64_t length_ = 0;  // bytes fed so far
};

}  // namespace pelmo::sm3
