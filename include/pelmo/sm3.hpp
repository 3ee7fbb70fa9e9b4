// The SM3 hash function (GB/T 32905), the SM2 key-derivation function, and HMAC-SM3
// with the key derivations built on it (PBKDF2, HKDF).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include <pelmo/types.hpp>

// What this header declares is pelmo's interface, exported from a shared libpelmo
// (the library's own code is compiled with hidden visibility).
#pragma GCC visibility push(default)

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
/// The digest of a text's octets: sm3_hash("abc") == sm3_hash(as_bytes("abc")).
inline std::string sm3_hash(const Text auto& msg) {
    return sm3_hash(pelmo::as_bytes(msg));
}

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
    SM3& update(std::string_view text) noexcept { return update(pelmo::as_bytes(text)); }
    /// The digest of everything fed so far; the hasher may go on being updated.
    Digest digest() const noexcept;
    /// The digest as 64 lower-case hexadecimal digits.
    std::string hexdigest() const;

    /// One-shot convenience.
    static Digest hash(ByteView data) noexcept;
    static Digest hash(const Text auto& text) noexcept { return hash(pelmo::as_bytes(text)); }

  private:
    friend class HmacSM3;
    // Continues a message whose first `length` bytes, whole blocks, left the chaining
    // value `state` (the keyed states of HMAC).
    SM3(const std::array<std::uint32_t, 8>& state, std::uint64_t length)
    noexcept : state_(state), length_(length) {}

    std::array<std::uint32_t, 8> state_{};
    std::array<std::uint8_t, block_size> buffer_{};
    std::uint64_t length_ = 0;  // bytes fed so far
};

/// Incremental HMAC-SM3 (RFC 2104) under a key of any length (a key longer than a block
/// is hashed first). The SM3 states after the inner and outer key blocks are computed
/// once, at construction, so each message costs only its own compressions plus one;
/// copying a keyed object (or reset()) reuses them. Every key-derived state is wiped
/// when the object dies.
///
///     pelmo::sm3::HmacSM3 mac(key);
///     mac.update(part1).update(part2);
///     pelmo::sm3::SM3::Digest tag = mac.digest();
class HmacSM3 {
  public:
    explicit HmacSM3(ByteView key) noexcept;
    /// Keyed with a text's octets.
    template <Text K>
    explicit HmacSM3(const K& key) noexcept : HmacSM3(pelmo::as_bytes(key)) {}
    HmacSM3(const HmacSM3&) noexcept = default;
    HmacSM3& operator=(const HmacSM3&) noexcept = default;
    ~HmacSM3();

    /// Appends bytes to the message.
    HmacSM3& update(ByteView data) noexcept;
    HmacSM3& update(std::string_view text) noexcept { return update(pelmo::as_bytes(text)); }
    /// The MAC of everything fed so far; the object may go on being updated.
    SM3::Digest digest() const noexcept;
    /// The MAC as 64 lower-case hexadecimal digits.
    std::string hexdigest() const;
    /// Starts a new message under the same key.
    void reset() noexcept;

  private:
    friend Bytes pbkdf2_sm3(ByteView, ByteView, std::uint32_t, std::size_t);

    std::array<std::uint32_t, 8> inner_{};  // after the key block XOR 0x36
    std::array<std::uint32_t, 8> outer_{};  // after the key block XOR 0x5c
    SM3 hash_;                              // the inner hash of the message
};

/// HMAC-SM3 of data under key (RFC 2104, any key length).
SM3::Digest hmac_sm3(ByteView key, ByteView data) noexcept;
/// The same with a text key, a text message, or both (their octets).
inline SM3::Digest hmac_sm3(ByteView key, const Text auto& data) noexcept {
    return hmac_sm3(key, pelmo::as_bytes(data));
}
inline SM3::Digest hmac_sm3(const Text auto& key, ByteView data) noexcept {
    return hmac_sm3(pelmo::as_bytes(key), data);
}
inline SM3::Digest hmac_sm3(const Text auto& key, const Text auto& data) noexcept {
    return hmac_sm3(pelmo::as_bytes(key), pelmo::as_bytes(data));
}

/// PBKDF2 (RFC 8018) with HMAC-SM3: length bytes from password and salt
/// (either may be empty). iterations >= 1 and 1 <= length <= 32 * (2^32 - 1), otherwise
/// std::invalid_argument naming the parameter and its range.
Bytes pbkdf2_sm3(ByteView password, ByteView salt, std::uint32_t iterations, std::size_t length);
/// The same with a text password (its octets), the salt as bytes or text.
inline Bytes pbkdf2_sm3(const Text auto& password, ByteView salt, std::uint32_t iterations,
                        std::size_t length) {
    return pbkdf2_sm3(pelmo::as_bytes(password), salt, iterations, length);
}
inline Bytes pbkdf2_sm3(const Text auto& password, const Text auto& salt, std::uint32_t iterations,
                        std::size_t length) {
    return pbkdf2_sm3(pelmo::as_bytes(password), pelmo::as_bytes(salt), iterations, length);
}

/// HKDF (RFC 5869) with HMAC-SM3, extract then expand: length bytes of keying material
/// from ikm, salt (empty: 32 zero bytes) and info. 1 <= length <= 255 * 32, otherwise
/// std::invalid_argument naming the range.
Bytes hkdf_sm3(ByteView ikm, ByteView salt, ByteView info, std::size_t length);

}  // namespace pelmo::sm3

#pragma GCC visibility pop
