// The length limit of the key-derivation function: its 32-bit big-endian counter runs
// from 1 to 2^32 - 1, one 32-byte digest per value, so no key is longer than
// 32 * (2^32 - 1) bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace pelmo::detail {

inline constexpr std::uint64_t kSm3KdfMaxBytes = 32 * std::uint64_t{0xffffffff};
static_assert(sizeof(std::size_t) >= sizeof kSm3KdfMaxBytes, "every key length fits in a size_t");

/// klen as a byte count: 0 for klen <= 0, klen itself up to kSm3KdfMaxBytes; a longer
/// key is std::invalid_argument. Nothing is computed from klen before the comparison.
inline std::size_t sm3_kdf_length(std::int64_t klen) {
    if (klen <= 0) return 0;
    if (static_cast<std::uint64_t>(klen) > kSm3KdfMaxBytes)
        throw std::invalid_argument("key length " + std::to_string(klen) +
                                    " bytes exceeds the key-derivation limit of " +
                                    std::to_string(kSm3KdfMaxBytes) + " bytes (2^32 - 1 digests)");
    return static_cast<std::size_t>(klen);
}

}  // namespace pelmo::detail
