// The key codec's checks for pelmo's own callers (the tool).
#pragma once

#include <string_view>

#include <pelmo/formats.hpp>

namespace pelmo::detail::sm2_keys {

/// The key pair of a private key given as 64 hexadecimal digits (either case): the
/// key in lower case, checked to lie in [1, n - 2] in constant time, and its public
/// key. A wrong length, a bad digit or a key out of range is std::invalid_argument,
/// whose message never holds the key.
formats::Sm2PrivateKey key_pair_from_hex(std::string_view private_key);

}  // namespace pelmo::detail::sm2_keys
