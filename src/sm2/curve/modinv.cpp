#include "sm2/curve/modinv.hpp"

namespace pelmo::detail::sm2::curve::modinv {

namespace {

__extension__ typedef __int128 i128;
constexpr std::uint64_t kM62 = (std::uint64_t{1} << 62) - 1;

/// The transition matrix of 59 steps, scaled by 2^62: [f'; g'] * 2^62 = [u v; q r] [f; g].
struct Matrix {
    std::int64_t u, v, q, r;
};

Signed62 to_signed62(const u64 a[4]) noexcept {
    return Signed62{{static_cast<std::int64_t>(a[0] & kM62),
                     static_cast<std::int64_t>((a[0] >> 62 | a[1] << 2) & kM62),
                     static_cast<std::int64_t>((a[1] >> 60 | a[2] << 4) & kM62),
                     static_cast<std::int64_t>((a[2] >> 58 | a[3] << 6) & kM62),
                     static_cast<std::int64_t>(a[3] >> 56)}};
}

void from_signed62(u64 out[4], const Signed62& a) noexcept {
    const auto* v = reinterpret_cast<const std::uint64_t*>(a.v);
    out[0] = v[0] | v[1] << 62;
    out[1] = v[1] >> 2 | v[2] << 60;
    out[2] = v[2] >> 4 | v[3] << 58;
    out[3] = v[3] >> 6 | v[4] << 56;
}

/// 59 division steps on the low bits of f and g; returns the new zeta (= -(delta + 1/2)).
/// Every step is the same sequence of masked operations.
std::int64_t divsteps_59(std::int64_t zeta, std::uint64_t f, std::uint64_t g, Matrix& t) noexcept {
    std::uint64_t u = 8, v = 0, q = 0, r = 8;
    for (int i = 0; i < 59; ++i) {
        // Swap-and-subtract when zeta < 0 and g is odd; add f when zeta >= 0 and g is
        // odd; then halve g. u, v (the f row) double as g halves.
        const std::uint64_t c1 = ct::value_barrier(static_cast<std::uint64_t>(zeta >> 63));
        const std::uint64_t c2 = ct::value_barrier(0 - (g & 1));
        const std::uint64_t x = (f ^ c1) - c1;
        const std::uint64_t y = (u ^ c1) - c1;
        const std::uint64_t z = (v ^ c1) - c1;
        g += x & c2;
        q += y & c2;
        r += z & c2;
        const std::uint64_t swap = c1 & c2;
        zeta = (zeta ^ static_cast<std::int64_t>(swap)) - 1;
        f += g & swap;
        u += q & swap;
        v += r & swap;
        g >>= 1;
        u <<= 1;
        v <<= 1;
    }
    t.u = static_cast<std::int64_t>(u);
    t.v = static_cast<std::int64_t>(v);
    t.q = static_cast<std::int64_t>(q);
    t.r = static_cast<std::int64_t>(r);
    return zeta;
}

/// (d, e) <- t (d, e) / 2^62 modulo M, keeping both in (-2M, M).
void update_de(Signed62& d, Signed62& e, const Matrix& t, const Modulus& mod) noexcept {
    const std::int64_t u = t.u, v = t.v, q = t.q, r = t.r;
    const std::int64_t sd = d.v[4] >> 63, se = e.v[4] >> 63;
    // Add M for each negative input, so the outputs stay in range.
    std::int64_t md = (u & sd) + (v & se);
    std::int64_t me = (q & sd) + (r & se);
    i128 cd = static_cast<i128>(u) * d.v[0] + static_cast<i128>(v) * e.v[0];
    i128 ce = static_cast<i128>(q) * d.v[0] + static_cast<i128>(r) * e.v[0];
    // Choose md, me so that the low 62 bits cancel.
    md -= static_cast<std::int64_t>(
        (mod.inv * static_cast<std::uint64_t>(cd) + static_cast<std::uint64_t>(md)) & kM62);
    me -= static_cast<std::int64_t>(
        (mod.inv * static_cast<std::uint64_t>(ce) + static_cast<std::uint64_t>(me)) & kM62);
    cd += static_cast<i128>(mod.m.v[0]) * md;
    ce += static_cast<i128>(mod.m.v[0]) * me;
    cd >>= 62;
    ce >>= 62;
    for (int i = 1; i < 5; ++i) {
        cd += static_cast<i128>(u) * d.v[i] + static_cast<i128>(v) * e.v[i];
        ce += static_cast<i128>(q) * d.v[i] + static_cast<i128>(r) * e.v[i];
        cd += static_cast<i128>(mod.m.v[i]) * md;
        ce += static_cast<i128>(mod.m.v[i]) * me;
        d.v[i - 1] = static_cast<std::int64_t>(static_cast<std::uint64_t>(cd) & kM62);
        e.v[i - 1] = static_cast<std::int64_t>(static_cast<std::uint64_t>(ce) & kM62);
        cd >>= 62;
        ce >>= 62;
    }
    d.v[4] = static_cast<std::int64_t>(cd);
    e.v[4] = static_cast<std::int64_t>(ce);
}

/// (f, g) <- t (f, g) / 2^62 (exact).
void update_fg(Signed62& f, Signed62& g, const Matrix& t) noexcept {
    const std::int64_t u = t.u, v = t.v, q = t.q, r = t.r;
    i128 cf = static_cast<i128>(u) * f.v[0] + static_cast<i128>(v) * g.v[0];
    i128 cg = static_cast<i128>(q) * f.v[0] + static_cast<i128>(r) * g.v[0];
    cf >>= 62;
    cg >>= 62;
    for (int i = 1; i < 5; ++i) {
        cf += static_cast<i128>(u) * f.v[i] + static_cast<i128>(v) * g.v[i];
        cg += static_cast<i128>(q) * f.v[i] + static_cast<i128>(r) * g.v[i];
        f.v[i - 1] = static_cast<std::int64_t>(static_cast<std::uint64_t>(cf) & kM62);
        g.v[i - 1] = static_cast<std::int64_t>(static_cast<std::uint64_t>(cg) & kM62);
        cf >>= 62;
        cg >>= 62;
    }
    f.v[4] = static_cast<std::int64_t>(cf);
    g.v[4] = static_cast<std::int64_t>(cg);
}

/// Carries every limb but the top into [0, 2^62).
void carry(Signed62& a) noexcept {
    for (int i = 0; i < 4; ++i) {
        a.v[i + 1] += a.v[i] >> 62;
        a.v[i] &= static_cast<std::int64_t>(kM62);
    }
}

/// The canonical value of d * sign(f) for d in (-2M, M): in [0, M).
void normalize(Signed62& d, std::int64_t f_top, const Modulus& mod) noexcept {
    std::int64_t add = d.v[4] >> 63;  // d < 0: add M, now in (-M, M)
    for (int i = 0; i < 5; ++i) d.v[i] += mod.m.v[i] & add;
    const std::int64_t neg = f_top >> 63;  // f = -1: negate
    for (int i = 0; i < 5; ++i) d.v[i] = (d.v[i] ^ neg) - neg;
    carry(d);
    add = d.v[4] >> 63;  // still negative: add M, now in [0, M)
    for (int i = 0; i < 5; ++i) d.v[i] += mod.m.v[i] & add;
    carry(d);
}

/// 62 division steps on the low bits of f and g in variable time; returns the new eta
/// (= -delta). Runs of zeros in g are skipped at once, and while no swap can occur
/// up to six low bits of g are cancelled with one multiple of f.
std::int64_t divsteps_62_vartime(std::int64_t eta, std::uint64_t f, std::uint64_t g,
                                 Matrix& t) noexcept {
    std::uint64_t u = 1, v = 0, q = 0, r = 1;
    int left = 62;
    for (;;) {
        const int zeros = __builtin_ctzll(g | (~std::uint64_t{0} << left));
        g >>= zeros;
        u <<= zeros;
        v <<= zeros;
        eta -= zeros;
        left -= zeros;
        if (left == 0) break;
        // g is odd. When delta > 0 the step swaps: (f, g) <- (g, -f).
        if (eta < 0) {
            eta = -eta;
            std::uint64_t tmp = f;
            f = g;
            g = 0 - tmp;
            tmp = u;
            u = q;
            q = 0 - tmp;
            tmp = v;
            v = r;
            r = 0 - tmp;
        }
        // The next min(eta + 1, left, 6) steps only add f to an odd g: all at once, as
        // g + w f with w = -g/f modulo 2^limit (f (f^2 - 2) = -1/f modulo 64).
        int limit = static_cast<int>(eta) + 1 > left ? left : static_cast<int>(eta) + 1;
        if (limit > 6) limit = 6;
        const std::uint64_t mask = (~std::uint64_t{0} >> (64 - limit)) & 63;
        const std::uint64_t w = (f * g * (f * f - 2)) & mask;
        g += f * w;
        q += u * w;
        r += v * w;
    }
    t.u = static_cast<std::int64_t>(u);
    t.v = static_cast<std::int64_t>(v);
    t.q = static_cast<std::int64_t>(q);
    t.r = static_cast<std::int64_t>(r);
    return eta;
}

bool is_zero(const Signed62& a) noexcept {
    return (a.v[0] | a.v[1] | a.v[2] | a.v[3] | a.v[4]) == 0;
}

/// Batches of division steps from (f, g) = (M, x), then d = 1/x. `batch` turns
/// (eta, low bits of f and g) into a matrix and the next eta; `more(i, g)` says whether
/// batch i runs.
template <class Batch, class More>
void run(u64 out[4], const u64 x[4], const Modulus& mod, Batch batch, More more) noexcept {
    Signed62 d{{0, 0, 0, 0, 0}}, e{{1, 0, 0, 0, 0}};
    Signed62 f = mod.m, g = to_signed62(x);
    std::int64_t eta = -1;
    for (int i = 0; more(i, g); ++i) {
        Matrix t;
        eta = batch(eta, static_cast<std::uint64_t>(f.v[0]), static_cast<std::uint64_t>(g.v[0]), t);
        update_de(d, e, t, mod);
        update_fg(f, g, t);
    }
    normalize(d, f.v[4], mod);
    from_signed62(out, d);
}

}  // namespace

void inverse(u64 out[4], const u64 x[4], const Modulus& mod) noexcept {
    run(out, x, mod, divsteps_59, [](int i, const Signed62&) { return i < 10; });
}

void inverse_vartime(u64 out[4], const u64 x[4], const Modulus& mod) noexcept {
    run(out, x, mod, divsteps_62_vartime, [](int, const Signed62& g) { return !is_zero(g); });
}

}  // namespace pelmo::detail::sm2::curve::modinv
