// The key exchange's private parts, for pelmo's own tests.
#pragma once

#include <pelmo/sm2.hpp>

namespace pelmo::detail::sm2 {

struct KeyExchangeAccess {
    /// Moves an exchange on the recommended curve from the fixed-width core to the
    /// generic GMP path (the reference the core is tested against). Call it before
    /// ephemeral(); an exchange on another table is left as it is.
    static void use_generic_path(pelmo::sm2::SM2KeyExchange& kx);
};

}  // namespace pelmo::detail::sm2
