#include "sm2/curve/field.hpp"

namespace pelmo::detail::sm2::curve::fe {

bool from_bytes(Fe& out, const Bytes32& in) noexcept {
    Fe a;
    load_be(a.v, in);
    u64 d[4];
    if (!sub4(d, a.v, kP)) return false;  // a >= p
    out = to_mont(a);
    return true;
}

Bytes32 to_bytes(const Fe& a) noexcept {
    const Fe plain = from_mont(a);
    return store_be(plain.v);
}

}  // namespace pelmo::detail::sm2::curve::fe
