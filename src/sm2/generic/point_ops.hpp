// Point arithmetic on any curve table with GMP, following the engine's algorithms
// step by step: Jacobian doubling with a general a, mixed Jacobian + affine addition
// (no doubling case), conversion to affine by a Fermat inversion, and left-to-right
// double-and-add. Every table other than the recommended curve uses this path, and it
// is the reference that the fixed-width core is tested against.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <pelmo/types.hpp>

#include "sm2/engine.hpp"

namespace pelmo::detail::sm2::generic {

struct Jacobian {
    BigInt x, y, z;
};

struct Point {
    BigInt x, y;
};

/// Temporaries reused across the steps of one scalar multiplication.
struct Scratch {
    BigInt t1, t2, t3, t4, t5, t6;
};

/// P = 2P in Jacobian coordinates (X, Y, Z reduced mod p on return).
void double_point(const Curve& c, Jacobian& P, Scratch& s);
/// P1 = P1 + (x2, y2) with (x2, y2) affine; Z becomes 0 when the two are equal or opposite.
void add_point(const Curve& c, Jacobian& P1, const BigInt& x2, const BigInt& y2, Scratch& s);
/// (X/Z^2, Y/Z^3), or nothing when Z = 0 mod p (the point at infinity).
std::optional<Point> to_affine(const Curve& c, const Jacobian& P);

/// k * (x, y, z) by double-and-add over 4 * para_len bits of k (k taken mod 2^bits),
/// adding the affine point (x, y): the loop of _kg on numbers.
std::optional<Point> scalar_mul(const Curve& c, const BigInt& k, const Jacobian& start);

/// Affine point text: x then y, para_len lower-case digits each.
std::string format_affine(const Curve& c, const BigInt& x, const BigInt& y);
/// Jacobian point text: X, Y, Z, para_len lower-case digits each.
std::string format_jacobian(const Curve& c, const Jacobian& P);

/// The text operations of the engine: _double_point, _add_point, _convert_jacb_to_nor, _kg.
std::optional<std::string> double_point_text(const Curve& c, std::string_view point);
std::optional<std::string> add_point_text(const Curve& c, std::string_view p1, std::string_view p2);
std::optional<std::string> convert_text(const Curve& c, std::string_view point);
std::optional<std::string> kg_text(const Curve& c, const BigInt& k, std::string_view point);

}  // namespace pelmo::detail::sm2::generic
