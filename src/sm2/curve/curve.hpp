// The fixed-width core of the SM2 recommended curve, as seen by the SM2 engine.
//
// Everything below works on the one curve y^2 = x^3 - 3x + b over the 256-bit prime
// p = 2^256 - 2^224 - 2^96 + 2^64 - 1 with base point G of prime order n (cofactor 1).
// 256-bit values cross this boundary as 32-byte big-endian arrays. Functions marked
// "constant time" take secrets: no branch or memory index depends on them; only the
// returned flag is published (declassified).
//
// Layers underneath (each its own files and tests): field arithmetic mod p, scalar
// arithmetic mod n, the group law, fixed-base and variable-base multiplication.
#pragma once

#include <array>
#include <cstdint>

namespace pelmo::detail::sm2::curve {

using Bytes32 = std::array<std::uint8_t, 32>;

struct Affine {
    Bytes32 x{};
    Bytes32 y{};
};

/// x < p, y < p and (x, y) on the curve. Variable time (points are public).
bool is_valid_point(const Affine& P) noexcept;

/// k*G for any 256-bit k. Constant time in k. Returns false (and out unspecified) iff
/// k = 0 mod n, i.e. the result is the point at infinity.
bool mul_base(Affine& out, const Bytes32& k) noexcept;

/// k*P for any 256-bit k and a valid point P. Constant time in k (P is public).
/// Returns false iff the result is the point at infinity (k = 0 mod n).
bool mul(Affine& out, const Bytes32& k, const Affine& P) noexcept;

/// k*G and k*P together, as mul_base and mul give them, with one field inversion for
/// both affine conversions (SM2 encryption needs the pair). Constant time in k; P a
/// valid point. Returns false iff k = 0 mod n (both are then the point at infinity).
bool mul_base_and_mul(Affine& kG_out, Affine& kP_out, const Bytes32& k, const Affine& P) noexcept;

/// s*G + t*P for a valid point P. Variable time: every input is public.
/// Returns false iff the result is the point at infinity.
bool mul_double_vartime(Affine& out, const Bytes32& s, const Bytes32& t, const Affine& P) noexcept;

/// k*(Q + x*P) for valid points P and Q: the shared point of a key exchange, where the
/// two public points meet before the secret scalar is applied. The sum is public and
/// computed in variable time, and stays in projective form (no inversion); the
/// multiplication by k is constant time in k. Returns false iff the sum or the result
/// is the point at infinity.
bool mul_sum(Affine& out, const Bytes32& k, const Bytes32& x, const Affine& P,
             const Affine& Q) noexcept;

/// The point with this x (x < p) whose y has the given parity (0 even, 1 odd).
/// Variable time. Returns false when no curve point has that x.
bool lift_x(Affine& out, const Bytes32& x, int y_parity) noexcept;

/// Scalars modulo n, constant time throughout.
namespace scalar {
/// a mod n (a any 256-bit value).
Bytes32 reduce(const Bytes32& a) noexcept;
/// (a + b) mod n, (a - b) mod n, (a * b) mod n for a, b < n.
Bytes32 add(const Bytes32& a, const Bytes32& b) noexcept;
Bytes32 sub(const Bytes32& a, const Bytes32& b) noexcept;
Bytes32 mul(const Bytes32& a, const Bytes32& b) noexcept;
/// a^(n-2) mod n for a < n: the inverse, and 0 for a = 0.
Bytes32 inv(const Bytes32& a) noexcept;
}  // namespace scalar

/// The curve constants, big-endian.
extern const Bytes32 kP, kN, kB, kGx, kGy;

}  // namespace pelmo::detail::sm2::curve
