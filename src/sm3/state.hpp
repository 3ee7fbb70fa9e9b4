// The SM3 chaining value as bytes: each word big-endian, whatever the CPU's byte order.
#pragma once

#include <cstdint>

namespace pelmo::detail::sm3 {

/// Writes the eight words of state to out[0..31], most significant byte first.
inline void store_state(const std::uint32_t state[8], std::uint8_t out[32]) noexcept {
    for (int i = 0; i < 8; ++i) {
        out[4 * i] = static_cast<std::uint8_t>(state[i] >> 24);
        out[4 * i + 1] = static_cast<std::uint8_t>(state[i] >> 16);
        out[4 * i + 2] = static_cast<std::uint8_t>(state[i] >> 8);
        out[4 * i + 3] = static_cast<std::uint8_t>(state[i]);
    }
}

}  // namespace pelmo::detail::sm3
