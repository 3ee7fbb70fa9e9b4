// The curve operations with the portable field kernel.
#include "sm2/curve/mult_impl.hpp"

namespace pelmo::detail::sm2::curve {

template struct Curve<FieldPortable>;

#if !defined(PELMO_SM2_HAVE_ADX)
bool use_adx_kernel() noexcept {
    return false;
}
#endif

}  // namespace pelmo::detail::sm2::curve
