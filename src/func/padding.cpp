#include "func/padding.hpp"

#include <algorithm>
#include <stdexcept>

#include "common/ct.hpp"

namespace pelmo::detail::padding {

namespace {

/// 1 when b == v, else 0, without a branch (b, v < 256).
inline unsigned byte_eq(unsigned b, unsigned v) {
    return ((b ^ v) - 1u) >> 31;
}

/// The position of the last 0x80 (std::out_of_range when there is none).
std::size_t last_marker(ByteView data) {
    // The last 16 bytes, where well-formed padding has its marker, without branches.
    const std::size_t n = data.size(), tail = std::min<std::size_t>(n, 16);
    std::size_t pos = 0;
    unsigned found = 0;
    for (std::size_t i = tail; i-- > 0;) {
        const std::size_t at = n - 1 - i;
        const unsigned hit = byte_eq(data[at], 0x80);
        pos = (pos & (std::size_t{0} - (1u - hit))) | (at & (std::size_t{0} - hit));
        found |= hit;
    }
    ct::declassify(&found, sizeof found);
    ct::declassify(&pos, sizeof pos);
    if (found != 0) return pos;
    // Malformed padding: keep searching backwards. Where the marker is becomes the
    // length of the result, so each comparison is public.
    for (std::size_t at = n - tail; at-- > 0;) {
        unsigned hit = byte_eq(data[at], 0x80);
        ct::declassify(&hit, sizeof hit);
        if (hit != 0) return at;
    }
    throw std::out_of_range("no 0x80 padding marker in the data");
}

void check_marker_length(ByteView data) {
    if (data.size() < 16) throw std::invalid_argument("Data length error!");
}

}  // namespace

std::size_t pkcs7_kept(ByteView data) {
    if (data.empty()) throw std::out_of_range("PKCS#7 unpadding of empty data");
    const std::size_t n = data.size();
    const unsigned k = data[n - 1];
    const auto limit = static_cast<unsigned>(std::min<std::size_t>(n, 16));
    // k in 1..limit, and the last k bytes all equal k.
    unsigned bad = ((k - 1u) >> 31) | ((limit - k) >> 31);
    for (unsigned i = 0; i < limit; ++i) {
        const unsigned in_pad = (i - k) >> 31;  // i < k
        bad |= in_pad & (1u - byte_eq(data[n - 1 - i], k));
    }
    ct::declassify(&bad, sizeof bad);
    if (bad != 0) throw std::invalid_argument("invalid PKCS#7 padding");
    std::size_t kept = n - k;
    ct::declassify(&kept, sizeof kept);
    return kept;
}

std::size_t zero_kept(ByteView data) {
    if (data.empty()) throw std::out_of_range("zero unpadding of empty data");
    const std::size_t n = data.size(), limit = std::min<std::size_t>(n, 16);
    std::size_t run = 0;
    unsigned still = 1;
    for (std::size_t i = 0; i < limit; ++i) {
        still &= byte_eq(data[n - 1 - i], 0);
        run += still;
    }
    std::size_t kept = n - run;
    ct::declassify(&kept, sizeof kept);
    return kept;
}

std::size_t pboc_kept(ByteView data) {
    check_marker_length(data);
    if (data.size() == 16) return 16;
    return last_marker(data);
}

std::size_t iso9797m2_kept(ByteView data) {
    check_marker_length(data);
    return last_marker(data);
}

}  // namespace pelmo::detail::padding
