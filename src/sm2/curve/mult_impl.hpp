// The body of Curve<F> (mult.hpp), included by the translation unit of each kernel.
#pragma once

#include "common/ct.hpp"
#include "sm2/curve/mult.hpp"

namespace pelmo::detail::sm2::curve {

namespace mult_detail {

/// w bits of k starting at bit pos (pos is public; bits beyond 255 read as zero).
inline u64 bits(const u64 k[4], unsigned pos, unsigned w) noexcept {
    const unsigned limb = pos / 64, off = pos % 64;
    if (limb >= 4) return 0;
    u64 v = k[limb] >> off;
    if (off + w > 64 && limb + 1 < 4) v |= k[limb + 1] << (64 - off);
    return v & ((u64{1} << w) - 1);
}

/// Signed digits of width W: k = sum d_i 2^(W i) with -2^(W-1) < d_i <= 2^(W-1),
/// computed without branches, as magnitudes and sign masks.
template <unsigned W, unsigned Count>
void recode_signed(const u64 k[4], u64 (&mag)[Count], u64 (&neg)[Count]) noexcept {
    u64 carry = 0;
    for (unsigned i = 0; i < Count; ++i) {
        const u64 w = bits(k, W * i, W) + carry;  // 0 .. 2^W
        carry = ((u64{1} << (W - 1)) - w) >> 63;  // 1 when w > 2^(W-1)
        const u64 d = w - (carry << W);           // two's complement digit
        const u64 sign = 0 - (d >> 63);
        mag[i] = (d ^ sign) - sign;
        neg[i] = ct::value_barrier(sign);
    }
}

inline Sc load_scalar(const Bytes32& k) noexcept {
    u64 v[4];
    load_be(v, k);
    return sc::reduce(v);
}

constexpr unsigned kVarWindow = 5;
constexpr unsigned kVarDigits = 52;  // 5 * 52 = 260 > 256 bits
constexpr unsigned kVarTable = 1u << (kVarWindow - 1);

}  // namespace mult_detail

template <class F>
Jac Curve<F>::var(const Sc& k, const Aff& P) noexcept {
    using namespace mult_detail;
    using G = grp::Group<F>;
    // Multiples 1P .. 16P (P is public).
    Jac table[kVarTable];
    table[0] = grp::from_affine(P);
    table[1] = G::dbl(table[0]);
    for (unsigned i = 2; i < kVarTable; ++i) {
        u64 same;
        table[i] = (i % 2 == 1) ? G::dbl(table[i / 2]) : G::add_mixed(table[i - 1], P, same);
    }

    u64 mag[kVarDigits], neg[kVarDigits];
    recode_signed<kVarWindow>(k.v, mag, neg);

    Jac r = grp::kInfinity;
    for (unsigned idx = kVarDigits; idx-- > 0;) {
        if (idx != kVarDigits - 1)
            for (unsigned s = 0; s < kVarWindow; ++s) r = G::dbl(r);
        // Scan the whole table; a zero digit selects nothing and becomes infinity.
        Jac t{fe::kZero, fe::kZero, fe::kZero};
        for (unsigned i = 0; i < kVarTable; ++i)
            grp::cmov(t, table[i], ct::eq_mask(mag[idx], i + 1));
        fe::cneg(t.Y, neg[idx]);
        if (idx == 0) {
            // Only the last addition can meet r = t (e.g. k = n - 6).
            r = G::add_complete(r, t);
        } else {
            u64 same;
            Jac sum = G::add(r, t, same);
            grp::cmov(sum, t, grp::is_infinity(r));
            grp::cmov(sum, r, grp::is_infinity(t));
            r = sum;
        }
    }
    return r;
}

template <class F>
Jac Curve<F>::base(const Sc& k) noexcept {
    return var(k, kG);
}

template <class F>
Jac Curve<F>::double_vartime(const Sc& s, const Sc& t, const Aff& P) noexcept {
    return grp::Group<F>::add_complete(var(s, kG), var(t, P));
}

namespace mult_detail {

/// Writes the affine form of a; false when a is infinity. The flag is public.
template <class F>
bool finish(Affine& out, const Jac& a) noexcept {
    u64 inf = grp::is_infinity(a);
    ct::declassify(&inf, sizeof inf);
    const Aff r = grp::Group<F>::to_affine(a);
    out.x = fe::to_bytes(r.x);
    out.y = fe::to_bytes(r.y);
    return inf == 0;
}

/// Parses a public point; false when a coordinate is not below p or it is off the curve.
template <class F>
bool parse_point(Aff& out, const Affine& P) noexcept {
    return fe::from_bytes(out.x, P.x) && fe::from_bytes(out.y, P.y) && grp::Group<F>::on_curve(out);
}

}  // namespace mult_detail

template <class F>
bool Curve<F>::is_valid_point(const Affine& P) noexcept {
    Aff a;
    return mult_detail::parse_point<F>(a, P);
}

template <class F>
bool Curve<F>::mul_base(Affine& out, const Bytes32& k) noexcept {
    return mult_detail::finish<F>(out, base(mult_detail::load_scalar(k)));
}

template <class F>
bool Curve<F>::mul(Affine& out, const Bytes32& k, const Affine& P) noexcept {
    Aff p;
    if (!mult_detail::parse_point<F>(p, P)) return false;  // callers only pass valid points
    return mult_detail::finish<F>(out, var(mult_detail::load_scalar(k), p));
}

template <class F>
bool Curve<F>::mul_double_vartime(Affine& out, const Bytes32& s, const Bytes32& t,
                                  const Affine& P) noexcept {
    Aff p;
    if (!mult_detail::parse_point<F>(p, P)) return false;
    return mult_detail::finish<F>(
        out, double_vartime(mult_detail::load_scalar(s), mult_detail::load_scalar(t), p));
}

template <class F>
bool Curve<F>::lift_x(Affine& out, const Bytes32& x, int y_parity) noexcept {
    Fe fx;
    if (!fe::from_bytes(fx, x)) return false;
    Fe y;
    if (!fe::sqrt<F>(y, grp::Group<F>::curve_rhs(fx))) return false;
    Bytes32 yb = fe::to_bytes(y);
    if ((yb[31] & 1) != (y_parity & 1)) yb = fe::to_bytes(fe::neg(y));
    out.x = x;
    out.y = yb;
    return true;
}

}  // namespace pelmo::detail::sm2::curve
