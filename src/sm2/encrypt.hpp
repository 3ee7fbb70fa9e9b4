// SM2 public-key encryption (GB/T 32918.4): the ciphertext C1 || C2 || C3 (mode 0) or
// C1 || C3 || C2 (mode 1), with C1 = k*G as x || y without a format byte, C2 the
// message under the SM3 key stream of k*PB, and C3 = SM3(x2 || M || y2).
//
// The recommended curve runs on the fixed-width core in constant time in k and in the
// private key, for every k and key whose value fits in 256 bits (texts of any length);
// any other table, and a larger value, runs on GMP through the engine's point
// operations, in variable time.
// Encryption refuses a public key that is not a point of the curve, and decryption a
// C1 that is not one (before the private key is used with it), on either path.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <pelmo/sm2.hpp>
#include <pelmo/types.hpp>

#include "sm2/curve/curve.hpp"
#include "sm2/engine.hpp"

namespace pelmo::detail::sm2 {

/// encrypt() with the scalar k given as hexadecimal text instead of drawn at random,
/// dispatched exactly as encrypt(). For tests, which need reproducible ciphertexts.
std::optional<Bytes> encrypt_with_scalar(const pelmo::sm2::CryptSM2& engine, ByteView data,
                                         std::string_view k_hex);

namespace fast {
/// Encryption to the point PB (valid, reduced) of the recommended curve with k as
/// fast::parse_scalar reads it (data non-empty, checked by the caller).
std::optional<Bytes> encrypt(ByteView data, const curve::Affine& PB, const curve::Bytes32& k,
                             int mode);
/// Decryption with the private key d as fast::parse_scalar reads it; data must hold
/// C1, C3 and at least one byte of C2 (checked by the caller).
std::optional<Bytes> decrypt(ByteView data, const curve::Bytes32& d, int mode);

/// Bit (1 << mode) of decrypt_split's `modes`: the splits of the block after C1 to try.
inline constexpr unsigned kSplitC2C3 = 1u << 0;  // mode 0: C2 || C3
inline constexpr unsigned kSplitC3C2 = 1u << 1;  // mode 1: C3 || C2

/// Decryption of the point C1 and the block holding C2 and C3 (at least 33 bytes,
/// checked by the caller), trying each split that `modes` names, mode 0 first. [d]C1
/// and the key stream are computed once for all splits; each check value is compared
/// in constant time and only its outcome is published. Nothing when C1 is not a point
/// of the curve or no split checks; otherwise the plaintext and, in *mode_found, the
/// mode that checked. Constant time in d.
std::optional<Bytes> decrypt_split(const curve::Affine& C1, ByteView block, const curve::Bytes32& d,
                                   unsigned modes, int* mode_found = nullptr);
}  // namespace fast

namespace generic {
/// Encryption on any table, step by step on the engine's texts (the public key is the
/// caller's to check).
std::optional<Bytes> encrypt(const Curve& c, ByteView data, std::string_view public_key,
                             std::string_view k_hex, int mode);
/// Decryption on any table; data as for fast::decrypt with C1 of para_len bytes.
std::optional<Bytes> decrypt(const Curve& c, ByteView data, std::string_view d_hex, int mode);
/// Whether the affine point text (x then y, para_len digits each) is a point of the
/// table's curve: with both coordinates below p when canonical, by their residues mod p
/// otherwise. A coordinate that is not hexadecimal is std::invalid_argument.
bool is_on_curve(const Curve& c, std::string_view point, bool canonical);
}  // namespace generic

}  // namespace pelmo::detail::sm2
