// SM2Manager: a key pair created on first request, and signatures of texts.
#include <pelmo/crypt_managers.hpp>

#include <utility>

#include "common/ct.hpp"
#include "common/wipe.hpp"
#include "sm2/engine.hpp"
#include "sm2/keys.hpp"

namespace pelmo::crypt_managers {

namespace {
using detail::sm2::EngineAccess;
using detail::sm2::ScalarRange;
}  // namespace

SM2Manager::SM2Manager(std::optional<std::string> private_key_in,
                       std::optional<std::string> public_key_in, const sm2::EccTable& table,
                       int mode_in, bool asn1_in)
    : CryptSM2(std::move(private_key_in), std::move(public_key_in), table, mode_in, asn1_in) {}

std::string SM2Manager::get_private_key() {
    if (!private_key) {
        std::string d =
            detail::sm2::random_scalar_hex(EngineAccess::curve(*this), ScalarRange::private_key);
        detail::ct::declassify(d.data(), d.size());  // handed to the caller
        private_key = std::move(d);
    }
    return *private_key;
}

std::string SM2Manager::get_public_key() {
    if (!public_key) {
        // Both keys are set only once the public key is known, so a failure changes nothing.
        auto [d, Q] = detail::sm2::key_pair(*this, private_key);
        const detail::WipeOnExit wipe{d};  // a copy of the key, or what a move left of it
        if (!private_key) private_key = std::move(d);
        public_key = std::move(Q);
    }
    return *public_key;
}

std::optional<std::string> SM2Manager::signature(std::string_view data) const {
    std::string K = detail::sm2::random_scalar_hex(EngineAccess::curve(*this), ScalarRange::nonce);
    const detail::WipeOnExit wipe{K};
    return sign(pelmo::as_bytes(data), K);
}

bool SM2Manager::validate(std::string_view sign, std::string_view data) const {
    return verify(sign, pelmo::as_bytes(data));
}

}  // namespace pelmo::crypt_managers
