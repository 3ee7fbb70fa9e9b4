// SM4 with a secret key and secret data: key schedule, single blocks, ECB over many
// blocks, CBC both ways (with the PKCS#7 check), under every kernel of ct_kernels.hpp.
#include <pelmo/crypt_managers.hpp>
#include <pelmo/sm4.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/hex.hpp"
#include "ct_check.hpp"
#include "ct_kernels.hpp"

namespace {

using pelmo::Bytes;
using pelmo::ct_check::classify;
using pelmo::ct_check::declassify;
namespace sm4 = pelmo::sm4;

Bytes pattern(std::size_t n, unsigned seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(seed * 131 + i * 29 + (i >> 3));
    return b;
}

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "ct_sm4: %s\n", what);
        std::abort();
    }
}

void publish(Bytes& b) {
    declassify(b.data(), b.size());
}

// Everything, with the kernel the current CPU mask selects.
void run_all() {
    Bytes key = pattern(16, 1);
    const Bytes iv = pattern(16, 2);
    classify(key.data(), key.size());

    // Key schedule, both directions.
    sm4::CryptSM4 enc(sm4::SM4_ENCRYPT, sm4::NoPadding), dec(sm4::SM4_DECRYPT, sm4::NoPadding);
    enc.set_key(key, sm4::SM4_ENCRYPT);
    dec.set_key(key, sm4::SM4_DECRYPT);

    // One block, and the word helpers.
    Bytes block = pattern(16, 3);
    classify(block.data(), block.size());
    Bytes one = enc.one_round(enc.sk, block);
    Bytes back = dec.one_round(dec.sk, one);
    std::uint32_t w =
        sm4::CryptSM4::_round_key(enc.sk[3]) ^ sm4::CryptSM4::_f(1, enc.sk[4], 2, 3, enc.sk[5]);
    declassify(&w, sizeof w);
    publish(back);
    declassify(block.data(), block.size());
    require(back == block, "single block round trip");

    // ECB over many blocks (batches and a partial group), CBC both ways.
    for (std::size_t nblocks : {std::size_t{1}, std::size_t{7}, std::size_t{100}}) {
        Bytes msg = pattern(16 * nblocks, 4);
        const Bytes plain = msg;
        classify(msg.data(), msg.size());
        Bytes e = enc.crypt_ecb(msg);
        Bytes d = dec.crypt_ecb(e);
        Bytes c = enc.crypt_cbc(iv, msg);
        Bytes p = dec.crypt_cbc(iv, c);
        publish(d);
        publish(p);
        require(d == plain && p == plain, "ECB/CBC round trip");
    }

    // PKCS#7: padding on encryption, the constant-time check on decryption.
    sm4::CryptSM4 penc(sm4::SM4_ENCRYPT, sm4::PKCS7), pdec(sm4::SM4_DECRYPT, sm4::PKCS7);
    penc.set_key(key, sm4::SM4_ENCRYPT);
    pdec.set_key(key, sm4::SM4_DECRYPT);
    for (std::size_t len : {std::size_t{0}, std::size_t{5}, std::size_t{16}, std::size_t{45}}) {
        Bytes msg = pattern(len, 5);
        const Bytes plain = msg;
        classify(msg.data(), msg.size());
        Bytes c = penc.crypt_cbc(iv, msg);
        Bytes p = pdec.crypt_cbc(iv, c);
        Bytes q = pdec.crypt_ecb(penc.crypt_ecb(msg));
        publish(p);
        publish(q);
        require(p == plain && q == plain, "PKCS#7 round trip");
    }
}

PELMO_CT_CHECK_CASE(sm4_manager_with_secret_key) {
    Bytes key = pattern(16, 6);
    const Bytes iv = pattern(16, 7);
    classify(key.data(), key.size());
    pelmo::crypt_managers::SM4Manager m(key, iv);  // copies the key without looking at it
    std::string hex = m.encrypt("constant time");
    declassify(hex.data(), hex.size());
    declassify(key.data(), key.size());
    sm4::CryptSM4 c;
    c.set_key(key, sm4::SM4_ENCRYPT);
    require(hex.size() == 32 && hex == pelmo::detail::to_hex(c.crypt_cbc(iv, "constant time")),
            "SM4Manager under a caller's key");
}

PELMO_CT_CHECK_CASE(sm4_key_schedule_blocks_and_modes) {
    pelmo::ct_check::for_each_sm4_kernel(run_all);
}

}  // namespace
