// Points of the recommended curve as the formats encode them: bare x || y, 04 || x || y
// and compressed 02/03 || x. Points are public: everything here runs in variable time.
#pragma once

#include <string_view>

#include <pelmo/types.hpp>

#include "sm2/curve/curve.hpp"

namespace pelmo::detail::sm2_points {

/// x || y (exactly 64 bytes) on the curve; std::invalid_argument naming `what` otherwise.
sm2::curve::Affine decode_bare(ByteView xy, std::string_view what);
/// 04 || x || y (65 bytes) or 02/03 || x (33 bytes) on the curve, decompressed;
/// std::invalid_argument naming `what` otherwise.
sm2::curve::Affine decode_prefixed(ByteView point, std::string_view what);
/// The length of the prefixed point that starts `data` (65 for 04, 33 for 02 or 03), or
/// zero for any other first byte or empty data.
std::size_t prefixed_length(ByteView data) noexcept;
/// Appends x || y, 04 || x || y or (compressed) 02/03 || x.
void append(Bytes& out, const sm2::curve::Affine& P, bool prefixed, bool compressed);

}  // namespace pelmo::detail::sm2_points
