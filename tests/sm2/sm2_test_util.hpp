// Shared helpers of the SM2 tests.
#pragma once

#include <pelmo/sm2.hpp>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/hex.hpp"
#include "sm2/engine.hpp"
#include "sm2/fast.hpp"
#include "support/random_input.hpp"

namespace pelmo::test::sm2 {

inline BigInt H(std::string_view hex) {
    return pelmo::detail::parse_hex_int(hex);
}

inline const BigInt& N() {
    static const BigInt v = H("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123");
    return v;
}
inline const BigInt& P() {
    static const BigInt v = H("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF");
    return v;
}
inline const std::string& G() {
    return pelmo::sm2::default_ecc_table.at("g");
}
inline BigInt two_256() {
    return BigInt(1) << 256;
}

inline std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}
inline std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

inline std::string hex64(const BigInt& v) {
    return pelmo::detail::int_to_hex(v, 64);
}

/// A uniformly distributed value below 2^bits from the tests' fixed-seed generator.
inline BigInt random_below_pow2(unsigned bits) {
    const Bytes raw = random_bytes((bits + 7) / 8);
    BigInt v = H(pelmo::detail::to_hex(raw));
    return v & ((BigInt(1) << bits) - 1);
}

/// The value of a hexadecimal text as the fixed-width core reads it (it must fit in 256 bits).
inline pelmo::detail::sm2::curve::Bytes32 scalar_of(std::string_view hex) {
    pelmo::detail::sm2::curve::Bytes32 v;
    if (!pelmo::detail::sm2::fast::parse_scalar(hex, v, "scalar"))
        throw std::logic_error("more than 256 bits: " + std::string(hex));
    return v;
}

inline const pelmo::detail::sm2::Curve& curve_of(const pelmo::sm2::CryptSM2& e) {
    return pelmo::detail::sm2::EngineAccess::curve(e);
}

/// Fewer iterations under the sanitizers.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr int kScale = 5;
#else
inline constexpr int kScale = 1;
#endif

}  // namespace pelmo::test::sm2
