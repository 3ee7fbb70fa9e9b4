// The curve operations with the portable field kernel.
#include "sm2/curve/mult_impl.hpp"

namespace pelmo::detail::sm2::curve {

template struct Curve<FieldPortable>;

}  // namespace pelmo::detail::sm2::curve
