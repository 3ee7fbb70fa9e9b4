// Public-key recovery from an SM2 signature: the keys PA with [k]G = [s]G + [r + s]PA
// for the points R = [k]G whose x is (r - e) mod n, PA = [(r + s)^-1](R - [s]G).
//
// Everything here is public (a signature, its message, the candidate keys), so both
// paths run in variable time: the fixed-width core on the recommended curve, GMP and
// the engine's point operations on any other table.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include <pelmo/types.hpp>

#include "sm2/engine.hpp"

namespace pelmo::detail::sm2 {

/// The message when no point of the curve has the x-coordinate (r - e) mod n.
inline constexpr const char* kNoPointWithX = "y*y == g (mod p) 验证失败";

/// The recovery byte in effect: the (at most two) hexadecimal digits after r and s when
/// the text has more than 2 * para_len characters, otherwise v. A bad digit is
/// std::invalid_argument.
std::optional<long> recovery_byte(std::string_view sign, std::size_t para_len,
                                  std::optional<int> v);

namespace generic {
/// recover_public_keys on any table, step by step.
std::set<std::string> recover(const Curve& c, std::string_view sign, ByteView data,
                              std::optional<int> v);
}  // namespace generic

namespace fast {
/// recover_public_keys on the recommended curve, or nothing for a recovery byte other
/// than 0, 27 and 28 (the generic path reads such a byte literally).
std::optional<std::set<std::string>> recover(std::string_view sign, ByteView data,
                                             std::optional<int> v);
}  // namespace fast

}  // namespace pelmo::detail::sm2
