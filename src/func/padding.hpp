// Unpadding as a length: how many leading bytes of a decrypted message remain after
// each scheme's padding is removed. pelmo::func's unpadding functions and the SM4 modes
// (which unpad their output buffer in place) share these.
//
// The checks look at the padding bytes without branching on them; only the outcome
// (the kept length, or that the padding is malformed) is published, since the caller
// reveals it anyway by the length it returns or the exception it throws.
#pragma once

#include <cstddef>

#include <pelmo/types.hpp>

namespace pelmo::detail::padding {

/// PKCS#7: the last byte k must lie in 1..16, be at most the length, and the last k
/// bytes must all equal k. Empty data: std::out_of_range; malformed:
/// std::invalid_argument("invalid PKCS#7 padding").
std::size_t pkcs7_kept(ByteView data);
/// Zero padding: the trailing run of zero bytes, at most 16, is removed.
/// Empty data: std::out_of_range.
std::size_t zero_kept(ByteView data);
/// PBOC: fewer than 16 bytes is std::invalid_argument("Data length error!"), exactly
/// 16 are kept whole, otherwise everything from the last 0x80 on is removed
/// (std::out_of_range when there is none).
std::size_t pboc_kept(ByteView data);
/// ISO/IEC 9797-1 method 2: as pboc_kept, but a single block is unpadded too.
std::size_t iso9797m2_kept(ByteView data);

}  // namespace pelmo::detail::padding
