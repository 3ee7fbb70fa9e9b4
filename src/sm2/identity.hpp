// The identity digest Z of SM2 (signatures over SM3 and key exchange).
#pragma once

#include <string_view>

#include <pelmo/sm3.hpp>
#include <pelmo/types.hpp>

#include "sm2/engine.hpp"

namespace pelmo::detail::sm2 {

/// The identity that signatures over SM3 use: "1234567812345678".
inline constexpr std::string_view kDefaultIdentity = "1234567812345678";

/// The longest identity: its length in bits (ENTL) is written in two octets.
inline constexpr std::size_t kMaxIdentityBytes = 0xffff / 8;

/// Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA), with ENTL the identity's
/// length in bits (two octets, big-endian), the curve entries and the public key taken
/// as the hexadecimal texts they are stored as. A text that is not hexadecimal, an odd
/// number of digits in all, or an identity of more than kMaxIdentityBytes octets is
/// std::invalid_argument.
sm3::SM3::Digest identity_digest(const Curve& c, std::string_view public_key, ByteView id);

}  // namespace pelmo::detail::sm2
