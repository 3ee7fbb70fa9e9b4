// The curve operations with the BMI2/ADX field kernel (x86-64 only).
#include "sm2/curve/limbs.hpp"

#if defined(PELMO_SM2_HAVE_ADX)

#include "common/cpu.hpp"
#include "sm2/curve/field_adx.hpp"
#include "sm2/curve/mult_impl.hpp"

namespace pelmo::detail::sm2::curve {

template struct Curve<FieldAdx>;

bool use_adx_kernel() noexcept {
    return cpu_has(kCpuBmi2 | kCpuAdx);
}

}  // namespace pelmo::detail::sm2::curve

#endif
