// The body of Curve<F> (mult.hpp), included by the translation unit of each kernel.
//
// The helpers that do not depend on the kernel have internal linkage: the BMI2 unit is
// compiled with -mbmi2, and a shared out-of-line copy of a helper could otherwise end
// up serving the portable kernel on a CPU without BMI2.
#pragma once

#include "common/ct.hpp"
#include "sm2/curve/mult.hpp"
#include "sm2/curve/tables.hpp"

namespace pelmo::detail::sm2::curve {

namespace mult_detail {
namespace {

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

/// out = table[idx - 1], or all zeros for idx = 0, reading every entry (idx is secret).
/// T is a point type made only of field elements (Aff or Jac). Written with 128-bit
/// vectors (SSE2 on x86-64, NEON elsewhere), masked and or-ed into the result.
template <class T, unsigned N>
PELMO_INLINE void lookup(T& out, const T (&table)[N], u64 idx) noexcept {
    typedef u64 V2 __attribute__((vector_size(16)));
    constexpr unsigned kVectors = sizeof(T) / sizeof(V2);
    static_assert(sizeof(T) % sizeof(V2) == 0);
    V2 acc[kVectors] = {};
    for (unsigned i = 0; i < N; ++i) {
        const u64 m = ct::eq_mask(idx, i + 1);
        const V2 mv = {m, m};
        const auto* entry = reinterpret_cast<const unsigned char*>(&table[i]);
        PELMO_UNROLL
        for (unsigned j = 0; j < kVectors; ++j) {
            V2 e;
            __builtin_memcpy(&e, entry + sizeof(V2) * j, sizeof(V2));
            acc[j] |= e & mv;
        }
    }
    __builtin_memcpy(&out, acc, sizeof(T));
}

inline Sc load_scalar(const Bytes32& k) noexcept {
    u64 v[4];
    load_be(v, k);
    return sc::reduce(v);
}

constexpr unsigned kVarWindow = 5;
constexpr unsigned kVarDigits = 52;  // 5 * 52 = 260 > 256 bits
constexpr unsigned kVarTable = 1u << (kVarWindow - 1);

}  // namespace
}  // namespace mult_detail

namespace mult_detail {
namespace {

inline Jac to_jacobian(const Aff& a) noexcept {
    return grp::from_affine(a);
}
inline Jac to_jacobian(const Jac& a) noexcept {
    return a;
}

/// Fills out[0], out[step], out[2 step], .. with P, 3P, 5P, .. for P = out[0], finite and
/// of order n: 2P and P on the same Z, then co-Z additions of 2P. Sets out[1] to 2P
/// when step is 2. Variable time; only for public points.
template <class F, unsigned N>
void odd_multiples(Jac (&out)[N], unsigned step) noexcept {
    using G = grp::Group<F>;
    Jac odd;
    Jac twice = G::dbl_coz(out[0], odd);
    if (step == 2) out[1] = twice;
    for (unsigned i = step; i < N; i += step) out[i] = odd = G::add_coz(twice, odd);
}

/// The affine forms of N finite Jacobian points with one inversion (Montgomery's
/// trick). The points are public, so the inversion may take variable time.
template <class F, unsigned N>
void batch_to_affine(Aff (&out)[N], const Jac (&in)[N]) noexcept {
    Fe prefix[N];  // Z_0 * .. * Z_i
    prefix[0] = in[0].Z;
    for (unsigned i = 1; i < N; ++i) prefix[i] = F::mul(prefix[i - 1], in[i].Z);
    Fe inv = fe::inv_vartime<F>(prefix[N - 1]);  // 1/(Z_0 * .. * Z_i), walking down
    for (unsigned i = N; i-- > 0;) {
        const Fe zi = i > 0 ? F::mul(inv, prefix[i - 1]) : inv;
        if (i > 0) inv = F::mul(inv, in[i].Z);
        out[i] = grp::Group<F>::affine_with(in[i], zi);
    }
}

}  // namespace
}  // namespace mult_detail

template <class F>
template <class Point>
Jac Curve<F>::var(const Sc& k, const Point& P) noexcept {
    using namespace mult_detail;
    using G = grp::Group<F>;
    // Multiples 1P .. 16P (P is public and of order n, so jP != +-kP for distinct
    // j, k <= 16), made affine so that the additions of the loop take the cheaper mixed
    // formula. Odd multiples come from co-Z additions of 2P, even ones by doubling.
    Jac multiples[kVarTable];
    multiples[0] = to_jacobian(P);
    odd_multiples<F>(multiples, 2);
    for (unsigned j = 4; j <= kVarTable; j += 2) multiples[j - 1] = G::dbl(multiples[j / 2 - 1]);
    Aff table[kVarTable];
    batch_to_affine<F>(table, multiples);

    u64 mag[kVarDigits], neg[kVarDigits];
    recode_signed<kVarWindow>(k.v, mag, neg);

    // The top digit starts the sum; a zero digit selects nothing and adds nothing.
    Aff t;
    lookup(t, table, mag[kVarDigits - 1]);
    fe::cneg(t.y, neg[kVarDigits - 1]);
    Jac r = grp::kInfinity;
    grp::cmov(r, grp::from_affine(t), ~ct::is_zero_mask(mag[kVarDigits - 1]));
    for (unsigned idx = kVarDigits - 1; idx-- > 0;) {
        for (unsigned s = 0; s < kVarWindow; ++s) r = G::dbl(r);
        lookup(t, table, mag[idx]);
        fe::cneg(t.y, neg[idx]);
        Jac sum;
        if (idx == 0) {
            // Only the last addition can meet r = t (e.g. k = n - 6).
            sum = G::add_mixed_complete(r, t);
        } else {
            u64 same;
            sum = G::add_mixed(r, t, same);
            grp::cmov(sum, grp::from_affine(t), grp::is_infinity(r));
        }
        grp::cmov(r, sum, ~ct::is_zero_mask(mag[idx]));
    }
    return r;
}

namespace mult_detail {
namespace {

/// Width-w non-adjacent form of k: digits[i] is 0 or odd with |digits[i]| < 2^(w-1),
/// k = sum digits[i] 2^i. Returns the number of digits (at most 257). Variable time.
inline unsigned wnaf(int (&digits)[258], const u64 k[4], unsigned w) noexcept {
    for (int& d : digits) d = 0;
    unsigned bit = 0, len = 0;
    u64 carry = 0;
    while (bit < 256) {
        if (((k[bit / 64] >> (bit % 64)) & 1) == carry) {
            ++bit;
            continue;
        }
        u64 word = bits(k, bit, w) + carry;  // odd
        carry = (word >> (w - 1)) & 1;
        digits[bit] = static_cast<int>(static_cast<std::int64_t>(word - (carry << w)));
        len = bit + 1;
        bit += w;
    }
    if (carry) {
        digits[bit] = 1;
        len = bit + 1;
    }
    return len;
}

}  // namespace
}  // namespace mult_detail

template <class F>
Jac Curve<F>::base(const Sc& k) noexcept {
    using namespace mult_detail;
    using G = grp::Group<F>;
    using tables::kComb;
    using tables::kCombBits;
    using tables::kCombWindows;
    // k = sum d_j 2^(6j) with |d_j| <= 32: one table entry per window, no doublings.
    // Adding from the lowest window up, the partial sum r stays below 2^(6j - 1) in
    // absolute value while the entry is at least 2^(6j), so r = +-entry cannot occur
    // for k < n; the last addition is complete anyway.
    u64 mag[kCombWindows], neg[kCombWindows];
    recode_signed<kCombBits>(k.v, mag, neg);
    Jac r = grp::kInfinity;
    for (unsigned j = 0; j < kCombWindows; ++j) {
        Aff t;
        lookup(t, kComb[j], mag[j]);
        fe::cneg(t.y, neg[j]);
        Jac sum;
        if (j + 1 == kCombWindows) {
            sum = G::add_mixed_complete(r, t);
        } else {
            u64 same;
            sum = G::add_mixed(r, t, same);
            grp::cmov(sum, grp::from_affine(t), grp::is_infinity(r));
        }
        grp::cmov(r, sum, ~ct::is_zero_mask(mag[j]));
    }
    return r;
}

namespace mult_detail {

/// r + b with every special case, variable time.
template <class F>
Jac add_vartime(const Jac& r, const Jac& b) noexcept {
    using G = grp::Group<F>;
    if (grp::is_infinity(r)) return b;
    u64 same;
    Jac sum = G::add(r, b, same);
    if (same) return G::dbl(r);
    return sum;
}

template <class F>
Jac add_mixed_vartime(const Jac& r, const Aff& b) noexcept {
    using G = grp::Group<F>;
    if (grp::is_infinity(r)) return grp::from_affine(b);
    u64 same;
    Jac sum = G::add_mixed(r, b, same);
    if (same) return G::dbl(r);
    return sum;
}

}  // namespace mult_detail

template <class F>
Jac Curve<F>::double_vartime(const Sc& s, const Sc& t, const Aff& P) noexcept {
    using namespace mult_detail;
    using G = grp::Group<F>;
    constexpr unsigned kPBits = 5;
    constexpr unsigned kPEntries = 1u << (kPBits - 2);
    // Odd multiples P, 3P, .., 15P.
    Jac pt[kPEntries];
    pt[0] = grp::from_affine(P);
    odd_multiples<F>(pt, 1);

    int ws[258], wt[258];
    const unsigned ls = wnaf(ws, s.v, tables::kWnafBits);
    const unsigned lt = wnaf(wt, t.v, kPBits);
    Jac r = grp::kInfinity;
    for (unsigned i = ls > lt ? ls : lt; i-- > 0;) {
        if (!grp::is_infinity(r)) r = G::dbl(r);
        if (const int d = ws[i]; d != 0) {
            Aff e = tables::kWnafG[(d > 0 ? d : -d) / 2];
            if (d < 0) e.y = fe::neg(e.y);
            r = add_mixed_vartime<F>(r, e);
        }
        if (const int d = wt[i]; d != 0) {
            Jac e = pt[(d > 0 ? d : -d) / 2];
            if (d < 0) e.Y = fe::neg(e.Y);
            r = add_vartime<F>(r, e);
        }
    }
    return r;
}

namespace mult_detail {

namespace {
/// The big-endian coordinates of r.
inline void store_affine(Affine& out, const Aff& r) noexcept {
    out.x = fe::to_bytes(r.x);
    out.y = fe::to_bytes(r.y);
}
}  // namespace

/// Writes the affine form of a; false when a is infinity. The flag is public. A public
/// point (`secret` false) may take the variable-time inversion.
template <class F>
bool finish(Affine& out, const Jac& a, bool secret = true) noexcept {
    u64 inf = grp::is_infinity(a);
    ct::declassify(&inf, sizeof inf);
    store_affine(out,
                 grp::Group<F>::affine_with(a, secret ? fe::inv<F>(a.Z) : fe::inv_vartime<F>(a.Z)));
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
bool Curve<F>::mul_base_and_mul(Affine& kG_out, Affine& kP_out, const Bytes32& k,
                                const Affine& P) noexcept {
    Aff p;
    if (!mult_detail::parse_point<F>(p, P)) return false;  // callers only pass valid points
    const Sc s = mult_detail::load_scalar(k);
    const Jac a = base(s), b = var(s, p);
    // P has order n like G, so both are infinite exactly when k = 0 mod n.
    u64 inf = grp::is_infinity(a);
    ct::declassify(&inf, sizeof inf);
    // 1/Za = Zb/(Za Zb) and 1/Zb = Za/(Za Zb): one inversion.
    const Fe zi = fe::inv<F>(F::mul(a.Z, b.Z));
    using G = grp::Group<F>;
    mult_detail::store_affine(kG_out, G::affine_with(a, F::mul(zi, b.Z)));
    mult_detail::store_affine(kP_out, G::affine_with(b, F::mul(zi, a.Z)));
    return inf == 0;
}

template <class F>
bool Curve<F>::mul_double_vartime(Affine& out, const Bytes32& s, const Bytes32& t,
                                  const Affine& P) noexcept {
    Aff p;
    if (!mult_detail::parse_point<F>(p, P)) return false;
    return mult_detail::finish<F>(
        out, double_vartime(mult_detail::load_scalar(s), mult_detail::load_scalar(t), p), false);
}

template <class F>
bool Curve<F>::mul_sum(Affine& out, const Bytes32& k, const Bytes32& x, const Affine& P,
                       const Affine& Q) noexcept {
    Aff p, q;
    if (!mult_detail::parse_point<F>(p, P) || !mult_detail::parse_point<F>(q, Q)) return false;
    // x*P on the wNAF path of double_vartime (no multiple of G), then Q on top: the
    // sum may be a doubling (x*P = Q) or the point at infinity (x*P = -Q).
    const Jac xp = double_vartime(Sc{{0, 0, 0, 0}}, mult_detail::load_scalar(x), p);
    const Jac sum = mult_detail::add_mixed_vartime<F>(xp, q);
    if (grp::is_infinity(sum)) return false;
    return mult_detail::finish<F>(out, var(mult_detail::load_scalar(k), sum));
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

template <class F>
void Curve<F>::field_workload() noexcept {
    // An inversion by exponentiation: 255 squarings and 14 multiplications.
    Fe x = fe::inv_fermat<F>(kG.x);
    __asm__ __volatile__("" : : "r"(&x) : "memory");
}

}  // namespace pelmo::detail::sm2::curve
