// Scalar multiplication on the SM2 curve: the kernels behind curve.hpp.
#pragma once

#include "sm2/curve/group.hpp"
#include "sm2/curve/scalar.hpp"

namespace pelmo::detail::sm2::curve {

/// The base point G in Montgomery form.
inline constexpr Aff kG = {
    {{0x61328990f418029eULL, 0x3e7981eddca6c050ULL, 0xd6a1ed99ac24c3c3ULL, 0x91167a5ee1c13b05ULL}},
    {{0xc1354e593c2d0dddULL, 0xc1f5e5788d3295faULL, 0x8d4cfb066e2a48f8ULL, 0x63cd65d481d735bdULL}}};

namespace mult {

/// k*G for k < n, constant time in k.
Jac base(const Sc& k) noexcept;
/// k*P for k < n and a finite P, constant time in k.
Jac var(const Sc& k, const Aff& P) noexcept;
/// s*G + t*P for s, t < n; variable time.
Jac double_vartime(const Sc& s, const Sc& t, const Aff& P) noexcept;

}  // namespace mult
}  // namespace pelmo::detail::sm2::curve
