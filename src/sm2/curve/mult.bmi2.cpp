// The curve operations with the BMI2/ADX field kernel (x86-64 only).
#include "sm2/curve/limbs.hpp"

#if defined(PELMO_SM2_HAVE_ADX)

#include "sm2/curve/field_adx.hpp"
#include "sm2/curve/mult_impl.hpp"

namespace pelmo::detail::sm2::curve {

template struct Curve<FieldAdx>;

}  // namespace pelmo::detail::sm2::curve

#endif
