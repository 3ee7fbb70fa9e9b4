// Point encodings of the recommended curve for the key and ciphertext formats.
#include "formats/sm2_points.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace pelmo::detail::sm2_points {

namespace {

namespace cv = sm2::curve;

[[noreturn]] void fail(std::string_view what, std::string_view why) {
    throw std::invalid_argument(std::string(what) + ": " + std::string(why));
}

cv::Bytes32 coordinate(ByteView b) {
    cv::Bytes32 v;
    std::copy(b.begin(), b.begin() + 32, v.begin());
    return v;
}

}  // namespace

cv::Affine decode_bare(ByteView xy, std::string_view what) {
    if (xy.size() != 64) fail(what, "a bare point is 64 bytes, got " + std::to_string(xy.size()));
    cv::Affine P{coordinate(xy), coordinate(xy.subspan(32))};
    if (!cv::is_valid_point(P)) fail(what, "not a point of the curve");
    return P;
}

std::size_t prefixed_length(ByteView data) noexcept {
    if (data.empty()) return 0;
    if (data[0] == 0x04) return 65;
    return data[0] == 0x02 || data[0] == 0x03 ? 33 : 0;
}

cv::Affine decode_prefixed(ByteView point, std::string_view what) {
    const std::size_t n = prefixed_length(point);
    if (n == 0) fail(what, "the point does not start with 02, 03 or 04");
    if (point.size() != n)
        fail(what, "a point starting " + std::string(point[0] == 4 ? "04 is 65" : "02/03 is 33") +
                       " bytes, got " + std::to_string(point.size()));
    if (n == 65) return decode_bare(point.subspan(1), what);
    const cv::Bytes32 x = coordinate(point.subspan(1));
    if (!std::lexicographical_compare(x.begin(), x.end(), cv::kP.begin(), cv::kP.end()))
        fail(what, "compressed x is not below p");
    cv::Affine P;
    if (!cv::lift_x(P, x, point[0] & 1)) fail(what, "no point of the curve has this x");
    return P;
}

void append(Bytes& out, const cv::Affine& P, bool prefixed, bool compressed) {
    if (compressed)
        out.push_back(static_cast<std::uint8_t>(0x02 | (P.y[31] & 1)));
    else if (prefixed)
        out.push_back(0x04);
    out.insert(out.end(), P.x.begin(), P.x.end());
    if (!compressed) out.insert(out.end(), P.y.begin(), P.y.end());
}

}  // namespace pelmo::detail::sm2_points
