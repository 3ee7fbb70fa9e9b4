// CryptSM2: signing and verification, raw and DER.
#include <pelmo/sm2.hpp>

#include <stdexcept>

#include "sm2/engine.hpp"
#include "sm2/fast.hpp"
#include "sm2/generic/signature.hpp"

namespace pelmo::sm2 {

using detail::sm2::Curve;
using detail::sm2::EngineAccess;

std::optional<std::string> CryptSM2::sign(ByteView data, std::string_view K) const {
    const Curve& c = EngineAccess::curve(*this);
    if (data.empty()) throw std::invalid_argument("empty byte string has no integer value");
    if (!private_key) throw std::invalid_argument("no private key to sign with");
    const std::string& d = *private_key;
    // Keys and scalars of up to 64 digits stay out of big integers on the recommended
    // curve; longer texts (never produced by pelmo) take the generic path.
    if (c.recommended && !d.empty() && d.size() <= 64 && !K.empty() && K.size() <= 64)
        return detail::sm2::fast::sign(c, data, d, K, asn1);
    return detail::sm2::generic::sign(c, data, d, K, asn1);
}

bool CryptSM2::verify(std::string_view Sign, ByteView data) const {
    const Curve& c = EngineAccess::curve(*this);
    if (c.recommended) {
        if (const auto fast = detail::sm2::fast::verify(c, Sign, data, public_key, asn1))
            return *fast;
    }
    return detail::sm2::generic::verify(c, Sign, data, public_key, asn1);
}

}  // namespace pelmo::sm2
