// Reproducible pseudo-random test inputs (never used for anything secret).
#pragma once

#include <cstdint>
#include <random>
#include <string_view>

#include <pelmo/types.hpp>

namespace pelmo::test {

/// The generator every test uses; the seed is fixed so failures reproduce.
inline std::mt19937_64& rng() {
    static std::mt19937_64 gen(0x5e11'0123'4567'89abULL);
    return gen;
}

inline Bytes random_bytes(std::size_t n) {
    Bytes out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng()());
    return out;
}

using pelmo::as_bytes;

}  // namespace pelmo::test
