// A deliberately simple GMP model of the SM2 curve (affine coordinates, one inversion
// per operation) and value generators with the shapes that break limb arithmetic.
#pragma once

#include <gmpxx.h>

#include <cstdint>
#include <random>
#include <vector>

#include "sm2/curve/curve.hpp"
#include "sm2/curve/field.hpp"
#include "sm2/curve/scalar.hpp"
#include "support/random_input.hpp"

// Sanitizer and unoptimised builds run fewer random cases.
#if defined(__SANITIZE_ADDRESS__) || !defined(__OPTIMIZE__)
#define PELMO_SM2_TEST_LIGHT 1
#endif

namespace pelmo::test::sm2ref {

using pelmo::detail::sm2::curve::Bytes32;

inline const mpz_class kP("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF", 16);
inline const mpz_class kN("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123", 16);
inline const mpz_class kA = kP - 3;
inline const mpz_class kB("28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93", 16);
inline const mpz_class kGx("32c4ae2c1f1981195f9904466a39c9948fe30bbff2660be1715a4589334c74c7", 16);
inline const mpz_class kGy("bc3736a2f4f6779c59bdcee36b692153d0a9877cc62a474002df32e52139f0a0", 16);
inline const mpz_class kTwo256 = mpz_class(1) << 256;

inline mpz_class mod(const mpz_class& a, const mpz_class& m) {
    mpz_class r = a % m;
    if (r < 0) r += m;
    return r;
}
inline mpz_class inv(const mpz_class& a, const mpz_class& m) {
    mpz_class r;
    if (mpz_invert(r.get_mpz_t(), mod(a, m).get_mpz_t(), m.get_mpz_t()) == 0) return 0;
    return r;
}

inline mpz_class from_bytes(const Bytes32& b) {
    mpz_class r;
    mpz_import(r.get_mpz_t(), 32, 1, 1, 1, 0, b.data());
    return r;
}
inline Bytes32 to_bytes(const mpz_class& v) {
    Bytes32 out{};
    mpz_class x = v;
    for (int i = 31; i >= 0; --i) {
        out[static_cast<unsigned>(i)] = static_cast<std::uint8_t>(mpz_class(x & 0xff).get_ui());
        x >>= 8;
    }
    return out;
}

/// A field element of the core from a value below p.
inline detail::sm2::curve::Fe fe_of(const mpz_class& v) {
    detail::sm2::curve::Fe f{};
    if (!detail::sm2::curve::fe::from_bytes(f, to_bytes(v))) std::abort();
    return f;
}
inline mpz_class value_of(const detail::sm2::curve::Fe& f) {
    return from_bytes(detail::sm2::curve::fe::to_bytes(f));
}
inline detail::sm2::curve::Sc sc_of(const mpz_class& v) {
    detail::sm2::curve::Sc s{};
    const Bytes32 b = to_bytes(v);
    for (int i = 0; i < 4; ++i) {
        std::uint64_t w = 0;
        for (int j = 0; j < 8; ++j) w = (w << 8) | b[static_cast<unsigned>(8 * (3 - i) + j)];
        s.v[i] = w;
    }
    return s;
}
inline mpz_class value_of(const detail::sm2::curve::Sc& s) {
    mpz_class r = 0;
    for (int i = 3; i >= 0; --i) r = (r << 64) + mpz_class(std::to_string(s.v[i]));
    return r;
}

struct Point {
    mpz_class x, y;
    bool inf = false;
    bool operator==(const Point& o) const {
        return inf == o.inf && (inf || (x == o.x && y == o.y));
    }
};

inline Point generator() {
    return Point{kGx, kGy, false};
}

inline bool on_curve(const Point& q) {
    return q.inf || mod(q.y * q.y - (q.x * q.x * q.x + kA * q.x + kB), kP) == 0;
}

inline Point neg(const Point& q) {
    return q.inf ? q : Point{q.x, mod(-q.y, kP), false};
}

inline Point add(const Point& a, const Point& b) {
    if (a.inf) return b;
    if (b.inf) return a;
    mpz_class lambda;
    if (a.x == b.x) {
        if (mod(a.y + b.y, kP) == 0) return Point{0, 0, true};
        lambda = mod((3 * a.x * a.x + kA) * inv(2 * a.y, kP), kP);
    } else {
        lambda = mod((b.y - a.y) * inv(b.x - a.x, kP), kP);
    }
    const mpz_class x = mod(lambda * lambda - a.x - b.x, kP);
    const mpz_class y = mod(lambda * (a.x - x) - a.y, kP);
    return Point{x, y, false};
}

/// k*q by plain double-and-add; k any non-negative integer.
inline Point mul(const mpz_class& k, const Point& q) {
    Point r{0, 0, true};
    const std::size_t nbits = mpz_sizeinbase(k.get_mpz_t(), 2);
    for (std::size_t i = nbits; i-- > 0;) {
        r = add(r, r);
        if (mpz_tstbit(k.get_mpz_t(), i)) r = add(r, q);
    }
    return r;
}

inline detail::sm2::curve::Affine to_affine_bytes(const Point& q) {
    return detail::sm2::curve::Affine{to_bytes(q.x), to_bytes(q.y)};
}
inline Point from_affine_bytes(const detail::sm2::curve::Affine& a) {
    return Point{from_bytes(a.x), from_bytes(a.y), false};
}

/// A uniformly random value below 2^bits.
inline mpz_class random_bits(unsigned bits) {
    mpz_class r = 0;
    for (unsigned i = 0; i < bits; i += 64) r = (r << 64) + mpz_class(std::to_string(rng()()));
    return r & ((mpz_class(1) << bits) - 1);
}
inline mpz_class random_below(const mpz_class& m) {
    return mod(random_bits(320), m);
}

/// A 256-bit value made of long runs of ones and zeros (random run lengths).
inline mpz_class random_runs() {
    mpz_class r = 0;
    unsigned filled = 0;
    bool one = (rng()() & 1) != 0;
    while (filled < 256) {
        unsigned run = 1 + static_cast<unsigned>(rng()() % 80);
        if (run > 256 - filled) run = 256 - filled;
        r <<= run;
        if (one) r += (mpz_class(1) << run) - 1;
        filled += run;
        one = !one;
    }
    return r;
}

/// Values around the edges of the limb arithmetic modulo m: 0, 1, 2, m - 1, m - 2, the
/// words of m, powers of two at limb and half-limb boundaries and runs of ones.
inline std::vector<mpz_class> edge_values(const mpz_class& m) {
    std::vector<mpz_class> v = {0, 1, 2, 3, m - 1, m - 2, m - 3, (m - 1) / 2, (m + 1) / 2};
    for (unsigned b : {32u, 63u, 64u, 96u, 127u, 128u, 160u, 191u, 192u, 224u, 255u}) {
        const mpz_class pow = mpz_class(1) << b;
        for (const mpz_class& c : std::vector<mpz_class>{pow - 1, pow, pow + 1, m - pow})
            if (c >= 0 && c < m) v.push_back(c);
    }
    for (unsigned i = 0; i < 4; ++i) v.push_back(mod((m >> (64 * i)) << (64 * i), m));
    return v;
}

/// Scalars every multiplication is tested with (all 256-bit, some >= n).
inline std::vector<mpz_class> edge_scalars() {
    std::vector<mpz_class> v = {0,
                                1,
                                2,
                                3,
                                15,
                                16,
                                17,
                                31,
                                32,
                                33,
                                kN - 6,
                                kN - 3,
                                kN - 2,
                                kN - 1,
                                kN,
                                kN + 1,
                                kN + 2,
                                kN + 6,
                                kTwo256 - 1,
                                kTwo256 - 2,
                                kTwo256 - kN,
                                (kN - 1) / 2,
                                (kN + 1) / 2,
                                mpz_class(1) << 255,
                                (mpz_class(1) << 255) - 1,
                                mpz_class(1) << 252,
                                mpz_class(1) << 128,
                                (mpz_class(1) << 128) - 1,
                                kN - (mpz_class(1) << 252)};
    for (unsigned b = 0; b < 256; b += 37) {
        v.push_back(mpz_class(1) << b);
        v.push_back(kN - (mpz_class(1) << b));
    }
    for (int i = 0; i < 8; ++i) v.push_back(random_runs());
    return v;
}

/// Edge values and random values below m, a quarter of them with long runs of ones
/// and zeros.
inline std::vector<mpz_class> inputs_below(const mpz_class& m, int random_count) {
    std::vector<mpz_class> v = edge_values(m);
    for (int i = 0; i < random_count; ++i)
        v.push_back(i % 4 == 0 ? mod(random_runs(), m) : random_below(m));
    return v;
}

}  // namespace pelmo::test::sm2ref
