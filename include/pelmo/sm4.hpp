// The SM4 block cipher (GB/T 32907): ECB and CBC with five padding modes, the stream modes
// CTR, CFB-128 and OFB, and the authenticated modes GCM and CCM.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include <pelmo/types.hpp>

// What this header declares is pelmo's interface, exported from a shared libpelmo
// (the library's own code is compiled with hidden visibility).
#pragma GCC visibility push(default)

namespace pelmo::sm4 {

/// Directions.
inline constexpr int SM4_ENCRYPT = 0, SM4_DECRYPT = 1;
/// Padding modes.
inline constexpr int NoPadding = 0, ZERO = 1, ISO9797M2 = 2, PKCS7 = 3, PBOC = 4;

/// The S-box.
extern const std::array<std::uint8_t, 256> SM4_BOXES_TABLE;
/// The system parameters FK0..FK3.
extern const std::array<std::uint32_t, 4> SM4_FK;
/// The fixed parameters CK0..CK31.
extern const std::array<std::uint32_t, 32> SM4_CK;

/// An SM4 engine: set a key and a direction, then encrypt or decrypt whole messages.
///
///     pelmo::sm4::CryptSM4 c;                 // PKCS#7 padding
///     c.set_key(key, pelmo::sm4::SM4_ENCRYPT);
///     pelmo::Bytes ct = c.crypt_cbc(iv, plaintext);
class CryptSM4 {
  public:
    explicit CryptSM4(int mode = SM4_ENCRYPT, int padding_mode = PKCS7);
    /// The round keys are wiped when an engine dies, and taken from an engine that is
    /// moved from (its round keys are then all zero).
    ~CryptSM4();
    CryptSM4(const CryptSM4& other) = default;
    CryptSM4(CryptSM4&& other) noexcept;
    CryptSM4& operator=(const CryptSM4& other) = default;
    CryptSM4& operator=(CryptSM4&& other) noexcept;

    /// Computes the 32 round keys from the first 16 bytes of key (std::out_of_range if
    /// shorter), in reverse order when mode is SM4_DECRYPT, and stores mode.
    void set_key(ByteView key, int mode);
    /// Transforms one block (the first 16 bytes of in_put; std::out_of_range if shorter)
    /// with the round keys sk.
    Bytes one_round(std::span<const std::uint32_t> sk, ByteView in_put) const;
    /// T' of the key schedule.
    static std::uint32_t _round_key(std::uint32_t ka);
    /// The round function F: x0 ^ T(x1 ^ x2 ^ x3 ^ rk).
    static std::uint32_t _f(std::uint32_t x0, std::uint32_t x1, std::uint32_t x2, std::uint32_t x3,
                            std::uint32_t rk);
    /// ECB: pads when mode is SM4_ENCRYPT, unpads when it is SM4_DECRYPT.
    Bytes crypt_ecb(ByteView input_data) const;
    /// CBC with the first 16 bytes of iv: encrypts (and pads) when mode is SM4_ENCRYPT,
    /// otherwise decrypts (and unpads).
    Bytes crypt_cbc(ByteView iv, ByteView input_data) const;
    /// The same on a text's octets.
    Bytes crypt_ecb(const Text auto& input_data) const {
        return crypt_ecb(pelmo::as_bytes(input_data));
    }
    Bytes crypt_cbc(ByteView iv, const Text auto& input_data) const {
        return crypt_cbc(iv, pelmo::as_bytes(input_data));
    }

    std::array<std::uint32_t, 32> sk{};
    int mode;
    int padding_mode;
};

// ---- Stream and authenticated modes -------------------------------------------------------
//
// key: exactly 16 bytes; iv: exactly 16 bytes; any data length, no padding. A wrong length is
// std::invalid_argument naming the parameter and the lengths allowed.

/// CTR with a 128-bit big-endian counter (iv is the first counter block), as OpenSSL's sm4-ctr.
/// Encryption and decryption are the same operation.
Bytes ctr_crypt(ByteView key, ByteView iv, ByteView data);
/// CFB-128, as OpenSSL's sm4-cfb.
Bytes cfb_encrypt(ByteView key, ByteView iv, ByteView data);
Bytes cfb_decrypt(ByteView key, ByteView iv, ByteView data);
/// OFB, as OpenSSL's sm4-ofb. Encryption and decryption are the same operation.
Bytes ofb_crypt(ByteView key, ByteView iv, ByteView data);

/// GCM (NIST SP 800-38D with SM4): nonce of 1 byte or more (12 is the fast case; other
/// lengths are hashed); tag_len 4, 8 or 12..16; plaintext at most 2^36 - 32 bytes. seal
/// returns ciphertext || tag.
Bytes gcm_seal(ByteView key, ByteView nonce, ByteView plaintext, ByteView aad = {},
               std::size_t tag_len = 16);
/// The plaintext, or no value when the tag does not verify (or sealed is shorter than the
/// tag): then no plaintext is released.
std::optional<Bytes> gcm_open(ByteView key, ByteView nonce, ByteView sealed, ByteView aad = {},
                              std::size_t tag_len = 16);

/// CCM (NIST SP 800-38C / RFC 3610 with SM4): nonce 7..13 bytes; tag_len 4, 6, 8, 10, 12, 14 or
/// 16; the plaintext must fit the length field the nonce leaves (15 - nonce length bytes).
Bytes ccm_seal(ByteView key, ByteView nonce, ByteView plaintext, ByteView aad = {},
               std::size_t tag_len = 16);
std::optional<Bytes> ccm_open(ByteView key, ByteView nonce, ByteView sealed, ByteView aad = {},
                              std::size_t tag_len = 16);

// The encrypting calls on a text's octets (a string literal, std::string or std::string_view).
inline Bytes ctr_crypt(ByteView key, ByteView iv, const Text auto& data) {
    return ctr_crypt(key, iv, pelmo::as_bytes(data));
}
inline Bytes cfb_encrypt(ByteView key, ByteView iv, const Text auto& data) {
    return cfb_encrypt(key, iv, pelmo::as_bytes(data));
}
inline Bytes ofb_crypt(ByteView key, ByteView iv, const Text auto& data) {
    return ofb_crypt(key, iv, pelmo::as_bytes(data));
}
inline Bytes gcm_seal(ByteView key, ByteView nonce, const Text auto& plaintext, ByteView aad = {},
                      std::size_t tag_len = 16) {
    return gcm_seal(key, nonce, pelmo::as_bytes(plaintext), aad, tag_len);
}
inline Bytes ccm_seal(ByteView key, ByteView nonce, const Text auto& plaintext, ByteView aad = {},
                      std::size_t tag_len = 16) {
    return ccm_seal(key, nonce, pelmo::as_bytes(plaintext), aad, tag_len);
}

// Private state, defined and used inside the library only.
#pragma GCC visibility pop
namespace detail_state {
struct Stream;
struct Aead;
}  // namespace detail_state
#pragma GCC visibility push(default)

/// Streaming CTR, CFB-128 or OFB: feed the message in pieces of any size; the output of
/// every update is the transformed input, and the concatenation equals the one-shot
/// result. Keys and state are wiped when the object dies.
///
///     pelmo::sm4::SM4Stream s(pelmo::sm4::SM4Stream::CTR, key, iv);
///     out1 = s.update(part1); out2 = s.update(part2);
class SM4Stream {
  public:
    enum Mode { CTR, CFB_ENCRYPT, CFB_DECRYPT, OFB };
    SM4Stream(Mode mode, ByteView key, ByteView iv);
    ~SM4Stream();
    SM4Stream(SM4Stream&&) noexcept;
    SM4Stream& operator=(SM4Stream&&) noexcept;
    /// The next data.size() bytes of output.
    Bytes update(ByteView data);
    Bytes update(const Text auto& data) { return update(pelmo::as_bytes(data)); }
    /// The same into out (out.size() == data.size(); out may be data itself).
    void update(ByteView data, std::span<std::uint8_t> out);

  private:
    std::unique_ptr<detail_state::Stream> state_;
};

/// Streaming GCM or CCM sealing: update() returns ciphertext, finish() the tag (sealed =
/// every update's output || tag). CCM needs the plaintext length up front: pass it as
/// text_length (GCM ignores it); feeding a different total is std::logic_error at finish.
class SM4AeadSeal {
  public:
    enum Mode { GCM, CCM };
    SM4AeadSeal(Mode mode, ByteView key, ByteView nonce, ByteView aad = {},
                std::size_t tag_len = 16, std::size_t text_length = 0);
    ~SM4AeadSeal();
    SM4AeadSeal(SM4AeadSeal&&) noexcept;
    SM4AeadSeal& operator=(SM4AeadSeal&&) noexcept;
    Bytes update(ByteView plaintext);
    /// The same into a caller's buffer of exactly plaintext.size() bytes (std::invalid_argument
    /// otherwise), which may be the plaintext itself.
    void update(ByteView plaintext, std::span<std::uint8_t> out);
    Bytes update(const Text auto& plaintext) { return update(pelmo::as_bytes(plaintext)); }
    /// The tag; the object cannot be used afterwards (std::logic_error).
    Bytes finish();

  private:
    std::unique_ptr<detail_state::Aead> state_;
};

/// Streaming GCM or CCM opening of ciphertext || tag fed in pieces of any size (the last
/// tag_len bytes fed are taken as the tag). What update() returns is UNVERIFIED plaintext:
/// keep it out of reach (a temporary file, a buffer) until finish() returns true, and
/// destroy it when finish() returns false. CCM needs the length of the sealed input (ciphertext
/// and tag) up front as sealed_length (GCM ignores it).
class SM4AeadOpen {
  public:
    using Mode = SM4AeadSeal::Mode;
    SM4AeadOpen(Mode mode, ByteView key, ByteView nonce, ByteView aad = {},
                std::size_t tag_len = 16, std::size_t sealed_length = 0);
    ~SM4AeadOpen();
    SM4AeadOpen(SM4AeadOpen&&) noexcept;
    SM4AeadOpen& operator=(SM4AeadOpen&&) noexcept;
    /// Unverified plaintext of the sealed bytes fed so far, less the last tag_len held back.
    Bytes update_unverified(ByteView sealed);
    /// The same into a caller's buffer of at least sealed.size() bytes (std::invalid_argument
    /// otherwise; never more is released), not overlapping sealed; returns the number of
    /// bytes written.
    std::size_t update_unverified(ByteView sealed, std::span<std::uint8_t> out);
    /// Whether the tag verifies (constant-time comparison); false also for a sealed input
    /// shorter than the tag or (CCM) of a length other than sealed_length. The object
    /// cannot be used afterwards (std::logic_error).
    [[nodiscard]] bool finish();

  private:
    std::unique_ptr<detail_state::Aead> state_;
};

}  // namespace pelmo::sm4

#pragma GCC visibility pop
