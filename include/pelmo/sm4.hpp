// The SM4 block cipher (GB/T 32907) in ECB and CBC with five padding modes.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include <pelmo/types.hpp>

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

    std::array<std::uint32_t, 32> sk{};
    int mode;
    int padding_mode;
};

}  // namespace pelmo::sm4
