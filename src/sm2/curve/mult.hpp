// Scalar multiplication on the SM2 curve: the kernels behind curve.hpp.
//
// Everything is written once as the template Curve<F> over a field multiplication
// kernel F; mult_portable.cpp instantiates it with the portable kernel and mult.bmi2.cpp
// with the BMI2/ADX one, and curve.cpp runs the one chosen by measurement (dispatch.hpp).
#pragma once

#include "sm2/curve/curve.hpp"
#include "sm2/curve/group.hpp"
#include "sm2/curve/scalar.hpp"

namespace pelmo::detail::sm2::curve {

/// The base point G in Montgomery form.
inline constexpr Aff kG = {
    {{0x61328990f418029eULL, 0x3e7981eddca6c050ULL, 0xd6a1ed99ac24c3c3ULL, 0x91167a5ee1c13b05ULL}},
    {{0xc1354e593c2d0dddULL, 0xc1f5e5788d3295faULL, 0x8d4cfb066e2a48f8ULL, 0x63cd65d481d735bdULL}}};

template <class F>
struct Curve {
    // The operations of curve.hpp.
    static bool is_valid_point(const Affine& P) noexcept;
    static bool mul_base(Affine& out, const Bytes32& k) noexcept;
    static bool mul(Affine& out, const Bytes32& k, const Affine& P) noexcept;
    static bool mul_base_and_mul(Affine& kG_out, Affine& kP_out, const Bytes32& k,
                                 const Affine& P) noexcept;
    static bool mul_double_vartime(Affine& out, const Bytes32& s, const Bytes32& t,
                                   const Affine& P) noexcept;
    static bool mul_sum(Affine& out, const Bytes32& k, const Bytes32& x, const Affine& P,
                        const Affine& Q) noexcept;
    static bool lift_x(Affine& out, const Bytes32& x, int y_parity) noexcept;

    /// k*G for k < n, constant time in k.
    static Jac base(const Sc& k) noexcept;
    /// k*P for k < n and a finite public P (affine or Jacobian), constant time in k
    /// (the table of multiples of P is built in variable time).
    template <class Point>
    static Jac var(const Sc& k, const Point& P) noexcept;
    /// s*G + t*P for s, t < n; variable time.
    static Jac double_vartime(const Sc& s, const Sc& t, const Aff& P) noexcept;

    /// A few microseconds of field arithmetic, for timing the kernels.
    static void field_workload() noexcept;
};

extern template struct Curve<FieldPortable>;
#if defined(PELMO_SM2_HAVE_ADX)
struct FieldAdx;
extern template struct Curve<FieldAdx>;
#endif

/// True when the BMI2/ADX kernel is the one in use: this CPU runs it and it measured
/// faster than the portable one at first use, or PELMO_SM2_FIELD_KERNEL=adx.
bool use_adx_kernel() noexcept;
/// The name of the field kernel in use ("portable" or "adx").
const char* field_kernel_name() noexcept;

}  // namespace pelmo::detail::sm2::curve
