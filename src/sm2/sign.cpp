// CryptSM2: signing and verification, raw and DER.
//
// Signing routes the private key and K: on the recommended curve, values that fit in
// 256 bits (texts of any length, leading zeros included) go to the fixed-width core,
// constant time in both; larger values, and every other curve table, take the generic
// GMP path, which runs in variable time. Verification handles public values only.
#include <pelmo/sm2.hpp>

#include <stdexcept>

#include "common/wipe.hpp"
#include "sm2/engine.hpp"
#include "sm2/fast.hpp"
#include "sm2/generic/signature.hpp"

namespace pelmo::sm2 {

using detail::sm2::Curve;
using detail::sm2::EngineAccess;
namespace fast = detail::sm2::fast;

std::optional<std::string> CryptSM2::sign(ByteView data, std::string_view K) const {
    const Curve& c = EngineAccess::curve(*this);
    if (data.empty()) throw std::invalid_argument("empty byte string has no integer value");
    if (!private_key) throw std::invalid_argument("no private key to sign with");
    const std::string& d = *private_key;
    if (c.recommended) {
        fast::Bytes32 d_value, k_value;
        const detail::WipeOnExit wipe_d{d_value}, wipe_k{k_value};
        // The private key is read before K, as on the generic path.
        const bool d_fits = fast::parse_scalar(d, d_value, "private key");
        const bool k_fits = fast::parse_scalar(K, k_value, "scalar K");
        if (d_fits && k_fits) return fast::sign(data, d_value, k_value, asn1);
    }
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
