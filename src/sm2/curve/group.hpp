// The group law of y^2 = x^3 - 3x + b in Jacobian coordinates.
//
// A Jacobian point (X, Y, Z) stands for (X/Z^2, Y/Z^3); Z = 0 is the point at infinity.
// The constant-time functions take masks for the special cases instead of branching,
// and report the one case they cannot handle themselves (adding a point to itself)
// so that a caller can substitute a doubling where that case is reachable.
// The formulas are templates over the multiplication kernel F (field.hpp).
#pragma once

#include "sm2/curve/field.hpp"

namespace pelmo::detail::sm2::curve {

struct Jac {
    Fe X, Y, Z;
};

/// An affine point in Montgomery form (no encoding of infinity).
struct Aff {
    Fe x, y;
};

namespace grp {

PELMO_INLINE Jac from_affine(const Aff& a) noexcept {
    return Jac{a.x, a.y, fe::kOne};
}

PELMO_INLINE void cmov(Jac& r, const Jac& a, u64 mask) noexcept {
    fe::cmov(r.X, a.X, mask);
    fe::cmov(r.Y, a.Y, mask);
    fe::cmov(r.Z, a.Z, mask);
}

PELMO_INLINE u64 is_infinity(const Jac& a) noexcept {
    return fe::is_zero(a.Z);
}

inline constexpr Jac kInfinity = {fe::kOne, fe::kOne, fe::kZero};

template <class F>
struct Group {
    /// 2a, for every a including infinity (a = -3: 4M + 4S). With Y' = 2Y:
    /// M = (X - Z^2) 3(X + Z^2), S = X Y'^2 = 4XY^2, X3 = M^2 - 2S,
    /// Y3 = M(S - X3) - Y'^4/2, Z3 = Y'Z.
    static Jac dbl(const Jac& a) noexcept {
        Jac unused;
        return dbl_coz(a, unused);
    }

    /// 2a, and in a_coz the same point a with the Z of 2a (its coordinates scaled by
    /// Y' = 2Y are S and Y'^4/2, which the doubling computes anyway).
    static PELMO_INLINE Jac dbl_coz(const Jac& a, Jac& a_coz) noexcept {
        const Fe y2 = F::dbl(a.Y);
        const Fe delta = F::sqr(a.Z);
        const Fe gamma = F::sqr(y2);  // 4Y^2
        const Fe s = F::mul(a.X, gamma);
        const Fe m = F::mul(F::sub(a.X, delta), F::triple_sum(a.X, delta));
        const Fe y_scaled = fe::half(F::sqr(gamma));
        Jac r;
        r.X = F::sub(F::sqr(m), F::dbl(s));
        r.Z = F::mul(y2, a.Z);
        r.Y = F::sub(F::mul(m, F::sub(s, r.X)), y_scaled);
        a_coz = Jac{s, y_scaled, r.Z};
        return r;
    }

    /// a + b for a and b with the same Z, neither infinity and a != +-b (5M + 2S; Meloni's
    /// co-Z addition); a is replaced by the same point with the Z of the sum, so that
    /// repeated calls add a to a chain of points.
    static Jac add_coz(Jac& a, const Jac& b) noexcept {
        const Fe d = F::sub(a.X, b.X);
        const Fe c = F::sqr(d);
        const Fe w1 = F::mul(a.X, c), w2 = F::mul(b.X, c);
        const Fe e = F::sub(a.Y, b.Y);
        const Fe a1 = F::mul(a.Y, F::sub(w1, w2));
        Jac r;
        r.X = F::sub(F::sub(F::sqr(e), w1), w2);
        r.Y = F::sub(F::mul(e, F::sub(w1, r.X)), a1);
        r.Z = F::mul(a.Z, d);
        a = Jac{w1, a1, r.Z};
        return r;
    }

    /// a + b for a Jacobian a and an affine b (8M + 3S), a and b not infinity.
    /// `same` is set to all-ones when a = b, where the result is wrong (a zero Z);
    /// when a = -b the result correctly has Z = 0.
    static Jac add_mixed(const Jac& a, const Aff& b, u64& same) noexcept {
        const Fe z1z1 = F::sqr(a.Z);
        const Fe u2 = F::mul(b.x, z1z1);
        const Fe s2 = F::mul(b.y, F::mul(a.Z, z1z1));
        const Fe h = F::sub(u2, a.X);
        const Fe rr = F::sub(s2, a.Y);
        same = fe::is_zero(h) & fe::is_zero(rr);
        const Fe hh = F::sqr(h);
        const Fe hhh = F::mul(h, hh);
        const Fe v = F::mul(a.X, hh);
        Jac r;
        r.X = F::sub(F::sub(F::sqr(rr), hhh), F::dbl(v));
        r.Y = F::sub(F::mul(rr, F::sub(v, r.X)), F::mul(a.Y, hhh));
        r.Z = F::mul(a.Z, h);
        return r;
    }

    /// a + b for Jacobian a and b (12M + 4S), neither infinity; `same` as for add_mixed.
    static Jac add(const Jac& a, const Jac& b, u64& same) noexcept {
        const Fe z1z1 = F::sqr(a.Z);
        const Fe z2z2 = F::sqr(b.Z);
        const Fe u1 = F::mul(a.X, z2z2);
        const Fe u2 = F::mul(b.X, z1z1);
        const Fe s1 = F::mul(a.Y, F::mul(b.Z, z2z2));
        const Fe s2 = F::mul(b.Y, F::mul(a.Z, z1z1));
        const Fe h = F::sub(u2, u1);
        const Fe rr = F::sub(s2, s1);
        same = fe::is_zero(h) & fe::is_zero(rr);
        const Fe hh = F::sqr(h);
        const Fe hhh = F::mul(h, hh);
        const Fe v = F::mul(u1, hh);
        Jac r;
        r.X = F::sub(F::sub(F::sqr(rr), hhh), F::dbl(v));
        r.Y = F::sub(F::mul(rr, F::sub(v, r.X)), F::mul(s1, hhh));
        r.Z = F::mul(F::mul(a.Z, b.Z), h);
        return r;
    }

    /// a + b for any a and b (infinity and doubling included), constant time. Costs a
    /// doubling on top of the addition; used where a = b is reachable.
    static Jac add_complete(const Jac& a, const Jac& b) noexcept {
        u64 same;
        Jac r = add(a, b, same);
        const u64 a_inf = is_infinity(a), b_inf = is_infinity(b);
        cmov(r, dbl(a), same & ~a_inf & ~b_inf);
        cmov(r, b, a_inf);
        cmov(r, a, b_inf);
        return r;
    }

    /// a + b, Jacobian plus affine, for any a and a finite b, constant time.
    static Jac add_mixed_complete(const Jac& a, const Aff& b) noexcept {
        u64 same;
        Jac r = add_mixed(a, b, same);
        const u64 a_inf = is_infinity(a);
        cmov(r, dbl(a), same & ~a_inf);
        cmov(r, from_affine(b), a_inf);
        return r;
    }

    /// The affine form of a finite a given z_inv = 1/Z.
    static Aff affine_with(const Jac& a, const Fe& z_inv) noexcept {
        const Fe zi2 = F::sqr(z_inv);
        return Aff{F::mul(a.X, zi2), F::mul(a.Y, F::mul(zi2, z_inv))};
    }

    /// The affine form of a finite a (one inversion); the caller checks a is not infinity.
    static Aff to_affine(const Jac& a) noexcept { return affine_with(a, fe::inv<F>(a.Z)); }

    /// The right-hand side x^3 - 3x + b.
    static Fe curve_rhs(const Fe& x) noexcept {
        const Fe x3 = F::mul(F::sqr(x), x);
        return F::add(F::sub(x3, F::add(F::dbl(x), x)), fe::kB);
    }

    /// y^2 = x^3 - 3x + b.
    static bool on_curve(const Aff& a) noexcept { return fe::eq(F::sqr(a.y), curve_rhs(a.x)) != 0; }
};

}  // namespace grp
}  // namespace pelmo::detail::sm2::curve
