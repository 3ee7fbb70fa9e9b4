#include "common/utf8.hpp"

#include <cstdint>
#include <cstring>
#include <stdexcept>

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

void check_utf8(std::string_view text, std::string_view what) {
    const std::size_t at = utf8_error_offset(text);
    if (at != std::string_view::npos)
        throw std::invalid_argument("invalid UTF-8 at byte " + std::to_string(at) + " of " +
                                    std::string(what));
}

}  // namespace pelmo::detail
