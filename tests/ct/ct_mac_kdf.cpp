// HMAC-SM3 with a secret key (one-shot and streamed, keys shorter and longer than a
// block), PBKDF2-HMAC-SM3 with a secret password and HKDF-SM3 with secret input keying
// material, under every SM3 kernel that runs here.
#include <pelmo/sm3.hpp>

#include <cstdio>
#include <cstdlib>

#include "ct_check.hpp"
#include "ct_kernels.hpp"

namespace {

using pelmo::Bytes;
using pelmo::ByteView;
using pelmo::ct_check::classify;
namespace sm3 = pelmo::sm3;

Bytes secret(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + 29 * i);
    classify(b.data(), b.size());
    return b;
}

}  // namespace

PELMO_CT_CHECK_CASE(hmac_sm3_with_secret_key) {
    const Bytes msg(100, 0x61);
    pelmo::ct_check::for_each_sm3_kernel([&] {
        for (std::size_t key_len : {1u, 32u, 64u, 65u, 100u}) {
            const Bytes key = secret(key_len, 3);
            (void)sm3::hmac_sm3(key, msg);
            sm3::HmacSM3 mac(key);
            mac.update(ByteView(msg).first(10)).update(ByteView(msg).subspan(10));
            (void)mac.digest();
            mac.reset();
            (void)mac.update(msg).hexdigest();
        }
    });
}

PELMO_CT_CHECK_CASE(pbkdf2_sm3_with_secret_password) {
    const Bytes salt(16, 0x73);
    pelmo::ct_check::for_each_sm3_kernel([&] {
        for (std::size_t pass_len : {8u, 80u}) {
            const Bytes password = secret(pass_len, 5);
            (void)sm3::pbkdf2_sm3(password, salt, 3, 65);
        }
    });
}

PELMO_CT_CHECK_CASE(hkdf_sm3_with_secret_ikm) {
    const Bytes salt(13, 0x11), info(10, 0xf0);
    pelmo::ct_check::for_each_sm3_kernel([&] {
        const Bytes ikm = secret(22, 7);
        (void)sm3::hkdf_sm3(ikm, salt, info, 100);
        (void)sm3::hkdf_sm3(ikm, {}, {}, 42);
    });
}
