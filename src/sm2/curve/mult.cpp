#include "sm2/curve/mult.hpp"

namespace pelmo::detail::sm2::curve::mult {

namespace {

/// w bits of k starting at bit pos (pos is public; bits beyond 255 read as zero).
inline u64 bits(const u64 k[4], unsigned pos, unsigned w) noexcept {
    const unsigned limb = pos / 64, off = pos % 64;
    if (limb >= 4) return 0;
    u64 v = k[limb] >> off;
    if (off + w > 64 && limb + 1 < 4) v |= k[limb + 1] << (64 - off);
    return v & ((u64{1} << w) - 1);
}

/// Signed digits of width w: k = sum d_i 2^(w i) with -2^(w-1) < d_i <= 2^(w-1),
/// computed without branches. Returns the digits as (magnitude, sign mask) pairs.
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

constexpr unsigned kVarWindow = 5;
constexpr unsigned kVarDigits = 52;  // 5 * 52 = 260 > 256 bits
constexpr unsigned kVarTable = 1u << (kVarWindow - 1);

}  // namespace

Jac var(const Sc& k, const Aff& P) noexcept {
    // Multiples 1P .. 16P (P is public).
    Jac table[kVarTable];
    table[0] = grp::from_affine(P);
    table[1] = grp::dbl(table[0]);
    for (unsigned i = 2; i < kVarTable; ++i) {
        u64 same;
        table[i] = (i % 2 == 1) ? grp::dbl(table[i / 2]) : grp::add_mixed(table[i - 1], P, same);
    }

    u64 mag[kVarDigits], neg[kVarDigits];
    recode_signed<kVarWindow>(k.v, mag, neg);

    Jac r{fe::kOne, fe::kOne, fe::kZero};
    for (unsigned idx = kVarDigits; idx-- > 0;) {
        if (idx != kVarDigits - 1)
            for (unsigned s = 0; s < kVarWindow; ++s) r = grp::dbl(r);
        // Scan the whole table; a zero digit selects nothing and becomes infinity.
        Jac t{fe::kZero, fe::kZero, fe::kZero};
        for (unsigned i = 0; i < kVarTable; ++i)
            grp::cmov(t, table[i], ct::eq_mask(mag[idx], i + 1));
        fe::cneg(t.Y, neg[idx]);
        if (idx == 0) {
            // Only the last addition can meet r = t (e.g. k = n - 6).
            r = grp::add_complete(r, t);
        } else {
            u64 same;
            Jac sum = grp::add(r, t, same);
            grp::cmov(sum, t, grp::is_infinity(r));
            grp::cmov(sum, r, grp::is_infinity(t));
            r = sum;
        }
    }
    return r;
}

Jac base(const Sc& k) noexcept {
    return var(k, kG);
}

Jac double_vartime(const Sc& s, const Sc& t, const Aff& P) noexcept {
    return grp::add_complete(var(s, kG), var(t, P));
}

}  // namespace pelmo::detail::sm2::curve::mult
