// The SM4 S-box as an affine map around inversion in AES's field, and the bit matrices
// that the AES-NI and GFNI kernels use to evaluate it without tables.
//
// SM4's S-box is S(x) = A * inv(A * x + C) + C, with A the circulant bit matrix whose
// first row is 0xa7, C = 0xd3 and inv the inversion in GF(2)[t] / (t^8 + t^7 + t^6 +
// t^5 + t^4 + t^2 + 1). A field isomorphism T into AES's field GF(2)[t] / (t^8 + t^4 +
// t^3 + t + 1) turns this into
//
//     S(x) = Mout * invAES(Min * x + cin) + C,   Min = T * A, cin = T * C, Mout = A * T^-1,
//
// which is one GF2P8AFFINEQB and one GF2P8AFFINEINVQB, or AESENCLAST (which computes
// La * invAES(z) + 0x63, then ShiftRows) between two nibble-table affine maps.
//
// The kernels go one step further. The round function adds L(S(x)) to a word, where L
// XORs rotations of the S-box output by 0, 2, 10, 18 and 24 bits. A rotation by 2 is a
// byte-wise shift plus a byte rotation, so L = sum_k rol(8k) * N_k with byte-wise maps
//
//     N0 = I + B1,  N1 = N2 = B1 + B2,  N3 = I + B2,   B1(b) = b << 2,  B2(b) = b >> 6.
//
// Holding every state word as X' = Min * X (byte-wise, so it commutes with byte
// rotations), a round becomes
//
//     z       = X'1 + X'2 + X'3 + (Min * rk + cin)
//     X'4     = X'0 + a0 + rol8(a12) + rol16(a12) + rol24(a3),
//     a_k     = Qk * invAES(z) + qk,   Qk = Min * N_k * Mout,  qk = Min * N_k * C,
//
// so the critical path of a round holds one field inversion and no input affine map.
//
// Everything here is computed at compile time from those definitions; the tests check
// each map against SM4_BOXES_TABLE for all 256 inputs.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

namespace pelmo::detail::sm4::affine {

/// An 8x8 matrix over GF(2): output bit i is the parity of (row[i] & input).
struct Mat8 {
    std::array<std::uint8_t, 8> row{};
};

constexpr int parity8(unsigned v) {
    v ^= v >> 4;
    v ^= v >> 2;
    v ^= v >> 1;
    return static_cast<int>(v & 1u);
}

constexpr std::uint8_t apply(const Mat8& m, std::uint8_t x) {
    unsigned y = 0;
    for (int i = 0; i < 8; ++i) y |= static_cast<unsigned>(parity8(m.row[i] & x)) << i;
    return static_cast<std::uint8_t>(y);
}

/// The matrix of a linear byte map, read off its images of the unit vectors.
template <typename F>
constexpr Mat8 matrix_of(F f) {
    Mat8 m;
    for (int j = 0; j < 8; ++j) {
        const std::uint8_t col = f(static_cast<std::uint8_t>(1u << j));
        for (int i = 0; i < 8; ++i)
            if ((col >> i) & 1u) m.row[i] = static_cast<std::uint8_t>(m.row[i] | (1u << j));
    }
    return m;
}

/// a * b: first b, then a.
constexpr Mat8 mul(const Mat8& a, const Mat8& b) {
    return matrix_of([&](std::uint8_t x) { return apply(a, apply(b, x)); });
}

constexpr Mat8 add(const Mat8& a, const Mat8& b) {
    Mat8 m;
    for (int i = 0; i < 8; ++i) m.row[i] = static_cast<std::uint8_t>(a.row[i] ^ b.row[i]);
    return m;
}

constexpr Mat8 identity() {
    return matrix_of([](std::uint8_t x) { return x; });
}

/// Inverse by Gauss-Jordan elimination (the maps used here are all invertible).
constexpr Mat8 inverse(const Mat8& a) {
    Mat8 m = a, inv = identity();
    for (int col = 0; col < 8; ++col) {
        int pivot = col;
        while (((m.row[pivot] >> col) & 1u) == 0) ++pivot;
        std::swap(m.row[col], m.row[pivot]);
        std::swap(inv.row[col], inv.row[pivot]);
        for (int r = 0; r < 8; ++r) {
            if (r != col && ((m.row[r] >> col) & 1u)) {
                m.row[r] = static_cast<std::uint8_t>(m.row[r] ^ m.row[col]);
                inv.row[r] = static_cast<std::uint8_t>(inv.row[r] ^ inv.row[col]);
            }
        }
    }
    return inv;
}

constexpr std::uint8_t rotl8(std::uint8_t x, int n) {
    return static_cast<std::uint8_t>((x << n) | (x >> (8 - n)));
}

/// Multiplication in GF(2)[t] / poly.
constexpr std::uint8_t gf_mul(std::uint8_t a, std::uint8_t b, unsigned poly) {
    unsigned r = 0, x = a;
    for (unsigned y = b; y != 0; y >>= 1) {
        if (y & 1u) r ^= x;
        x <<= 1;
        if (x & 0x100u) x ^= poly;
    }
    return static_cast<std::uint8_t>(r);
}

constexpr std::uint8_t gf_inv(std::uint8_t a, unsigned poly) {
    if (a == 0) return 0;
    // a^254 = a^-1.
    std::uint8_t r = 1, base = a;
    for (unsigned e = 254; e != 0; e >>= 1) {
        if (e & 1u) r = gf_mul(r, base, poly);
        base = gf_mul(base, base, poly);
    }
    return r;
}

inline constexpr unsigned kSm4Poly = 0x1f5;  // t^8 + t^7 + t^6 + t^5 + t^4 + t^2 + 1
inline constexpr unsigned kAesPoly = 0x11b;  // t^8 + t^4 + t^3 + t + 1
inline constexpr std::uint8_t kC = 0xd3;

/// SM4's affine matrix: circulant, row i = rotl(0xa7, i).
constexpr Mat8 sm4_a() {
    Mat8 m;
    for (int i = 0; i < 8; ++i) m.row[i] = rotl8(0xa7, i);
    return m;
}

/// The S-box from its algebraic definition (inversion in SM4's own field).
constexpr std::uint8_t sbox_reference(std::uint8_t x) {
    const Mat8 a = sm4_a();
    return static_cast<std::uint8_t>(
        apply(a, gf_inv(static_cast<std::uint8_t>(apply(a, x) ^ kC), kSm4Poly)) ^ kC);
}

/// T: SM4's field -> AES's field, t^j -> beta^j for the first root beta of SM4's
/// polynomial in AES's field.
constexpr Mat8 field_iso() {
    std::uint8_t beta = 0;
    for (unsigned b = 2; b < 256 && beta == 0; ++b) {
        // Evaluate t^8 + t^7 + t^6 + t^5 + t^4 + t^2 + 1 at b in AES's field.
        std::uint8_t pw = 1, acc = 0;
        for (int e = 0; e <= 8; ++e) {
            if ((kSm4Poly >> e) & 1u) acc = static_cast<std::uint8_t>(acc ^ pw);
            pw = gf_mul(pw, static_cast<std::uint8_t>(b), kAesPoly);
        }
        if (acc == 0) beta = static_cast<std::uint8_t>(b);
    }
    Mat8 m;
    std::uint8_t pw = 1;
    for (int j = 0; j < 8; ++j) {
        for (int i = 0; i < 8; ++i)
            if ((pw >> i) & 1u) m.row[i] = static_cast<std::uint8_t>(m.row[i] | (1u << j));
        pw = gf_mul(pw, beta, kAesPoly);
    }
    return m;
}

/// The linear part of AES's SubBytes affine map: b ^ rotl1 ^ rotl2 ^ rotl3 ^ rotl4.
constexpr Mat8 aes_la() {
    return matrix_of([](std::uint8_t x) {
        return static_cast<std::uint8_t>(x ^ rotl8(x, 1) ^ rotl8(x, 2) ^ rotl8(x, 3) ^ rotl8(x, 4));
    });
}

inline constexpr Mat8 kT = field_iso();
inline constexpr Mat8 kMin = mul(kT, sm4_a());
inline constexpr std::uint8_t kCin = apply(kT, kC);
inline constexpr Mat8 kMinInv = inverse(kMin);
inline constexpr Mat8 kMout = mul(sm4_a(), inverse(kT));

// The byte-wise pieces of L.
inline constexpr Mat8 kB1 =
    matrix_of([](std::uint8_t x) { return static_cast<std::uint8_t>(x << 2); });
inline constexpr Mat8 kB2 =
    matrix_of([](std::uint8_t x) { return static_cast<std::uint8_t>(x >> 6); });
inline constexpr Mat8 kN0 = add(identity(), kB1);
inline constexpr Mat8 kN12 = add(kB1, kB2);
inline constexpr Mat8 kN3 = add(identity(), kB2);

// Round outputs in the transformed domain, from invAES(z).
inline constexpr Mat8 kQ0 = mul(kMin, mul(kN0, kMout));
inline constexpr Mat8 kQ12 = mul(kMin, mul(kN12, kMout));
inline constexpr Mat8 kQ3 = mul(kMin, mul(kN3, kMout));
inline constexpr std::uint8_t kq0 = apply(kMin, apply(kN0, kC));
inline constexpr std::uint8_t kq12 = apply(kMin, apply(kN12, kC));
inline constexpr std::uint8_t kq3 = apply(kMin, apply(kN3, kC));

// For AESENCLAST: invAES(z) = La^-1 * (SubBytes(z) + 0x63), so a map M * invAES(z) + c
// is (M * La^-1) * SubBytes(z) + (M * La^-1 * 0x63 + c).
inline constexpr Mat8 kLaInv = inverse(aes_la());
struct Affine {
    Mat8 m;
    std::uint8_t c;
};
constexpr Affine after_subbytes(const Mat8& m, std::uint8_t c) {
    const Mat8 mm = mul(m, kLaInv);
    return {mm, static_cast<std::uint8_t>(apply(mm, 0x63) ^ c)};
}

/// GF2P8AFFINEQB / GF2P8AFFINEINVQB operand: the row of output bit i is byte 7 - i.
constexpr std::uint64_t gfni_matrix(const Mat8& m) {
    std::uint64_t q = 0;
    for (int i = 0; i < 8; ++i) q |= std::uint64_t{m.row[i]} << (8 * (7 - i));
    return q;
}

/// PSHUFB tables for an affine byte map: f(x) = lo[x & 15] ^ hi[x >> 4].
struct NibbleTables {
    std::array<std::uint8_t, 16> lo, hi;
};
constexpr NibbleTables nibble_tables(const Mat8& m, std::uint8_t c) {
    NibbleTables t{};
    for (unsigned n = 0; n < 16; ++n) {
        t.lo[n] = static_cast<std::uint8_t>(apply(m, static_cast<std::uint8_t>(n)) ^ c);
        t.hi[n] = apply(m, static_cast<std::uint8_t>(n << 4));
    }
    return t;
}

}  // namespace pelmo::detail::sm4::affine
