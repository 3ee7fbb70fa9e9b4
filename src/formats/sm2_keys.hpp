// The key codec's checks for pelmo's own callers (the tool).
#pragma once

#include <string_view>

#include <pelmo/formats.hpp>

#include "sm2/curve/curve.hpp"

namespace pelmo::detail::sm2_keys {

/// The key pair of a private key given as 64 hexadecimal digits (either case): the
/// key in lower case, checked to lie in [1, n - 2] in constant time, and its public
/// key. A wrong length, a bad digit or a key out of range is std::invalid_argument,
/// whose message never holds the key.
formats::Sm2PrivateKey key_pair_from_hex(std::string_view private_key);

/// The octets of a private key given as 64 hexadecimal digits (either case), checked to
/// lie in [1, n - 2], in constant time; errors as key_pair_from_hex. The caller wipes d.
void private_key_octets(std::string_view private_key, sm2::curve::Bytes32& d);

/// A SubjectPublicKeyInfo in DER with either algorithm identifier (id-ecPublicKey with
/// the SM2 curve, or the SM2 OID) and the point uncompressed or compressed, as 128
/// lower-case digits; std::invalid_argument otherwise. Reading a private-key DER, it
/// fails on public structure only (the tags of its first elements).
std::string public_key_from_spki(ByteView der);

}  // namespace pelmo::detail::sm2_keys
