// CryptSM2: public-key recovery, and its path on the recommended curve.
#include "sm2/recover.hpp"

#include <pelmo/sm2.hpp>

#include <algorithm>
#include <cstring>
#include <span>
#include <stdexcept>

#include "common/ct.hpp"
#include "common/hex.hpp"
#include "sm2/fast.hpp"

namespace pelmo::detail::sm2 {

std::optional<long> recovery_byte(std::string_view sign, std::size_t para_len,
                                  std::optional<int> v) {
    if (sign.size() <= 2 * para_len) return v;
    const std::string_view digits = slice(sign, 2 * para_len, 2);
    check_hex_number(digits, "recovery byte");
    return parse_hex_int(digits).get_si();
}

namespace fast {

namespace {

namespace cv = curve;
namespace sc = cv::scalar;

bool is_zero(const Bytes32& a) {
    return std::all_of(a.begin(), a.end(), [](std::uint8_t v) { return v == 0; });
}

// p - y for 0 < y < p.
Bytes32 negate_y(const Bytes32& y) {
    Bytes32 out;
    int borrow = 0;
    for (int i = 31; i >= 0; --i) {
        const int d = cv::kP[i] - y[i] - borrow;
        out[i] = static_cast<std::uint8_t>(d);
        borrow = d < 0 ? 1 : 0;
    }
    return out;
}

}  // namespace

std::optional<std::set<std::string>> recover(std::string_view sign, ByteView data,
                                             std::optional<int> v_arg) {
    Bytes32 r, s;
    parse_scalar(slice(sign, 0, 64), r, "signature r");
    parse_scalar(slice(sign, 64, 64), s, "signature s");
    // Nothing here is secret.
    ct::declassify(r.data(), r.size());
    ct::declassify(s.data(), s.size());
    const auto v = recovery_byte(sign, 64, v_arg);
    if (v && *v != 0 && *v != 27 && *v != 28) return std::nullopt;
    if (data.empty()) throw std::invalid_argument("empty byte string has no integer value");

    // R = (x, y) with x = (r - e) mod n, the only x tried.
    const Bytes32 x = sc::sub(sc::reduce(r), message_mod_n(data));
    Affine even;  // R with the even y
    if (!cv::lift_x(even, x, 0)) throw std::invalid_argument(kNoPointWithX);

    const Bytes32 t = sc::add(sc::reduce(r), sc::reduce(s));
    if (is_zero(t))
        throw std::invalid_argument("degenerate signature: (r + s) mod n is 0, no key to recover");
    // [s]G as _kg gives it: G itself for s = 0, nothing for s = n and s = n + 2.
    static const Affine G{cv::kGx, cv::kGy};
    auto sG = kg(s, G);
    if (!sG)
        throw std::invalid_argument(
            "degenerate signature: [s]G is the point at infinity, "
            "no key to recover");
    ct::declassify(&*sG, sizeof *sG);
    // [s]G - R is formed by an addition without a doubling case: a point that shares
    // R's x (R itself or -R) leaves no key to recover.
    if (sG->x == x)
        throw std::invalid_argument(
            "degenerate signature: [s]G - R is the point at infinity, "
            "no key to recover");

    // PA = [w]([s]G - R) = [w s']G + [w](-R) with w = -(r + s)^-1 and s' the scalar that
    // [s]G was computed with.
    const Bytes32 w = sc::sub(Bytes32{}, sc::inv(t));
    Bytes32 s_used = sc::reduce(s);
    if (is_zero(s)) s_used[31] = 1;
    const Bytes32 ws = sc::mul(w, s_used);

    std::set<std::string> keys;
    const long both[] = {27, 28};
    const long one[] = {v.value_or(0)};
    const bool single = v && *v != 0;
    for (const long c : single ? std::span<const long>(one) : std::span<const long>(both)) {
        // v = 27 asks for R with even y, 28 for odd y; the sum takes -R, of the other parity.
        const Affine neg_R{x, c == 27 ? negate_y(even.y) : even.y};
        Affine PA;
        if (!cv::mul_double_vartime(PA, ws, w, neg_R))
            throw std::invalid_argument(
                "degenerate signature: the recovered key is the point "
                "at infinity");
        keys.insert(format_point(PA));
    }
    return keys;
}

}  // namespace fast

}  // namespace pelmo::detail::sm2

namespace pelmo::sm2 {

std::set<std::string> CryptSM2::recover_public_keys(std::string_view sign, ByteView data,
                                                    std::optional<int> v) const {
    const detail::sm2::Curve& c = detail::sm2::EngineAccess::curve(*this);
    if (c.recommended) {
        if (auto keys = detail::sm2::fast::recover(sign, data, v)) return std::move(*keys);
    }
    return detail::sm2::generic::recover(c, sign, data, v);
}

}  // namespace pelmo::sm2
