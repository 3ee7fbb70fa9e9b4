// Random private keys and signing scalars, and public keys from private keys.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <pelmo/sm2.hpp>

#include "sm2/engine.hpp"

namespace pelmo::detail::sm2 {

enum class ScalarRange {
    private_key,  // [1, n - 2]: 1 + d is then invertible mod n
    nonce,        // [1, n - 1]
};

/// A uniformly random value of the range, from the operating system's generator, as
/// para_len lower-case digits. On the recommended curve it is drawn and tested in
/// constant time, and left marked secret for the constant-time check. A table whose
/// "n" is not a number, or is too small for the range to hold a value, is
/// std::invalid_argument.
std::string random_scalar_hex(const Curve& c, ScalarRange range);

/// _kg(value of d, table "g"): the public key of d as affine point text. The point at
/// infinity (d = n or n + 2 mod 2^(4 para_len)) is std::invalid_argument. With the
/// recommended curve and d of up to 64 digits, d never enters a big integer.
std::string public_key_of(const pelmo::sm2::CryptSM2& engine, std::string_view d);

/// The public key of the private key d, or, when d is absent, a private key freshly drawn
/// (random_scalar_hex of the private-key range) and its public key: {private, public}. The
/// private key is handed to the caller, so it leaves marked public for the constant-time
/// check (after the public key is computed from it in constant time). Any failure leaves
/// nothing behind: a drawn key is wiped.
std::pair<std::string, std::string> key_pair(const pelmo::sm2::CryptSM2& engine,
                                             const std::optional<std::string>& d);

}  // namespace pelmo::detail::sm2
