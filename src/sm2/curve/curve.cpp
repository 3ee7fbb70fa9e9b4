#include "sm2/curve/curve.hpp"

#include "common/ct.hpp"
#include "sm2/curve/mult.hpp"

namespace pelmo::detail::sm2::curve {

namespace {

constexpr Bytes32 hex32(const char (&s)[65]) {
    Bytes32 out{};
    for (unsigned i = 0; i < 32; ++i) {
        auto nib = [](char c) -> std::uint8_t {
            return static_cast<std::uint8_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        };
        out[i] = static_cast<std::uint8_t>((nib(s[2 * i]) << 4) | nib(s[2 * i + 1]));
    }
    return out;
}

Sc load_scalar(const Bytes32& k) noexcept {
    u64 v[4];
    load_be(v, k);
    return sc::reduce(v);
}

/// Writes the affine form of a; false when a is infinity. The flag is public.
bool finish(Affine& out, const Jac& a) noexcept {
    u64 inf = grp::is_infinity(a);
    ct::declassify(&inf, sizeof inf);
    const Aff r = grp::to_affine(a);
    out.x = fe::to_bytes(r.x);
    out.y = fe::to_bytes(r.y);
    return inf == 0;
}

/// Parses a public point; false when a coordinate is not below p or it is off the curve.
bool parse_point(Aff& out, const Affine& P) noexcept {
    return fe::from_bytes(out.x, P.x) && fe::from_bytes(out.y, P.y) && grp::on_curve(out);
}

}  // namespace

const Bytes32 kP = hex32("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF");
const Bytes32 kN = hex32("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123");
const Bytes32 kB = hex32("28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93");
const Bytes32 kGx = hex32("32c4ae2c1f1981195f9904466a39c9948fe30bbff2660be1715a4589334c74c7");
const Bytes32 kGy = hex32("bc3736a2f4f6779c59bdcee36b692153d0a9877cc62a474002df32e52139f0a0");

bool is_valid_point(const Affine& P) noexcept {
    Aff a;
    return parse_point(a, P);
}

bool mul_base(Affine& out, const Bytes32& k) noexcept {
    return finish(out, mult::base(load_scalar(k)));
}

bool mul(Affine& out, const Bytes32& k, const Affine& P) noexcept {
    Aff p;
    if (!parse_point(p, P)) return false;  // callers only pass valid points
    return finish(out, mult::var(load_scalar(k), p));
}

bool mul_double_vartime(Affine& out, const Bytes32& s, const Bytes32& t, const Affine& P) noexcept {
    Aff p;
    if (!parse_point(p, P)) return false;
    return finish(out, mult::double_vartime(load_scalar(s), load_scalar(t), p));
}

bool lift_x(Affine& out, const Bytes32& x, int y_parity) noexcept {
    Fe fx;
    if (!fe::from_bytes(fx, x)) return false;
    Fe y;
    if (!fe::sqrt(y, grp::curve_rhs(fx))) return false;
    Bytes32 yb = fe::to_bytes(y);
    if ((yb[31] & 1) != (y_parity & 1)) yb = fe::to_bytes(fe::neg(y));
    out.x = x;
    out.y = yb;
    return true;
}

}  // namespace pelmo::detail::sm2::curve
