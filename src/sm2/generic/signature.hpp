// Signing and verification on any curve table with GMP, following the algorithms step
// by step, in variable time (GMP's arithmetic and the double-and-add depend on the
// values). The recommended curve uses it only for a private key or K whose value
// exceeds 256 bits and for public keys that are not points of the curve; tests use it
// as the reference for the fixed-width path.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <pelmo/types.hpp>

#include "sm2/engine.hpp"

namespace pelmo::detail::sm2::generic {

/// sign(): data non-empty is the caller's check; d_hex is the private key. No
/// signature for a key outside [1, n - 2] or one whose 1 + d has no inverse mod n.
std::optional<std::string> sign(const Curve& c, ByteView data, std::string_view d_hex,
                                std::string_view k_hex, bool asn1);

/// verify() with the public key (absent: std::invalid_argument once it is needed).
bool verify(const Curve& c, std::string_view sig, ByteView data,
            const std::optional<std::string>& public_key, bool asn1);

}  // namespace pelmo::detail::sm2::generic
