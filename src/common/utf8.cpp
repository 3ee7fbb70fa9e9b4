#include "common/utf8.hpp"

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "common/ct.hpp"

namespace pelmo::detail {

std::size_t utf8_error_offset(std::string_view text) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        // Eight ASCII bytes at a time.
        if (i + 8 <= n) {
            std::uint64_t w;
            std::memcpy(&w, p + i, 8);
            if ((w & 0x8080808080808080ull) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        // The lead byte fixes the length and the range of the second byte; later
        // bytes are always 0x80..0xbf.
        std::size_t len;
        unsigned lo = 0x80, hi = 0xbf;
        if (c >= 0xc2 && c <= 0xdf) {
            len = 2;
        } else if (c >= 0xe0 && c <= 0xef) {
            len = 3;
            if (c == 0xe0) lo = 0xa0;  // overlong
            if (c == 0xed) hi = 0x9f;  // surrogates
        } else if (c >= 0xf0 && c <= 0xf4) {
            len = 4;
            if (c == 0xf0) lo = 0x90;  // overlong
            if (c == 0xf4) hi = 0x8f;  // above U+10FFFF
        } else {
            return i;  // continuation byte, overlong C0/C1, or F5..FF
        }
        if (n - i < len) return i;
        if (p[i + 1] < lo || p[i + 1] > hi) return i;
        for (std::size_t k = 2; k < len; ++k)
            if ((p[i + k] & 0xc0) != 0x80) return i;
        i += len;
    }
    return std::string_view::npos;
}

bool is_valid_utf8_ct(std::string_view text) noexcept {
    using ct::byte_in_range;
    // The state after each byte: how many continuation bytes are still due, and the
    // range the next one must lie in (narrower right after E0, ED, F0 and F4), all
    // updated with masks.
    int err = 0, need = 0, lo = 0x80, hi = 0xbf;
    for (const char ch : text) {
        const int c = static_cast<unsigned char>(ch);
        const int cont = ~((need - 1) >> 8);  // -1 while a continuation byte is due
        const int in_lo_hi = ~((c - lo) >> 8) & ~((hi - c) >> 8);
        const int l1 = byte_in_range(c, 0x00, 0x7f), l2 = byte_in_range(c, 0xc2, 0xdf);
        const int l3 = byte_in_range(c, 0xe0, 0xef), l4 = byte_in_range(c, 0xf0, 0xf4);
        err |= (cont & ~in_lo_hi) | (~cont & ~(l1 | l2 | l3 | l4));
        const int lead_need = (l2 & 1) | (l3 & 2) | (l4 & 3);
        const int lead_lo = 0x80 ^ (byte_in_range(c, 0xe0, 0xe0) & (0xa0 ^ 0x80)) ^
                            (byte_in_range(c, 0xf0, 0xf0) & (0x90 ^ 0x80));
        const int lead_hi = 0xbf ^ (byte_in_range(c, 0xed, 0xed) & (0x9f ^ 0xbf)) ^
                            (byte_in_range(c, 0xf4, 0xf4) & (0x8f ^ 0xbf));
        need = (cont & (need - 1)) | (~cont & lead_need);
        lo = (cont & 0x80) | (~cont & lead_lo);
        hi = (cont & 0xbf) | (~cont & lead_hi);
    }
    std::uint64_t ok = ct::is_zero_mask(static_cast<std::uint64_t>(err | need) & 0xffff);
    ct::declassify(&ok, sizeof ok);
    return ok != 0;
}

void check_utf8(std::string_view text, std::string_view what) {
    if (is_valid_utf8_ct(text)) return;
    const std::size_t at = utf8_error_offset(text);
    if (at != std::string_view::npos)
        throw std::invalid_argument("invalid UTF-8 at byte " + std::to_string(at) + " of " +
                                    std::string(what));
}

}  // namespace pelmo::detail
