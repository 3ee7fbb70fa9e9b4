// Hexadecimal decoding of a secret (keys arrive as text) must not branch on digits.
#include <cstring>

#include "common/hex.hpp"
#include "ct_check.hpp"

PELMO_CT_CHECK_CASE(hex_decode_and_encode_of_a_secret) {
    char text[65] = "3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8";
    pelmo::ct_check::classify(text, 64);
    std::uint8_t raw[32];
    pelmo::detail::from_hex_into(std::string_view(text, 64), raw);
    const std::string back = pelmo::detail::to_hex(raw);
    pelmo::ct_check::declassify(back.data(), back.size());
    if (back.size() != 64) std::abort();
}
