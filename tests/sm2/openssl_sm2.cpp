#include "openssl_sm2.hpp"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <stdexcept>

#include "common/hex.hpp"

namespace pelmo::test::sm2 {

namespace {
void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("OpenSSL: ") + what + " failed");
}
}  // namespace

void PkeyFree::operator()(EVP_PKEY* k) const {
    EVP_PKEY_free(k);
}

Pkey sm2_key(const std::string& private_hex, const std::string& public_xy_hex) {
    Bytes pub = pelmo::detail::from_hex(public_xy_hex);
    pub.insert(pub.begin(), 0x04);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    check(OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0) == 1, "group");
    check(
        OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, pub.data(), pub.size()) == 1,
        "pub");
    BIGNUM* d = nullptr;
    if (!private_hex.empty()) {
        check(BN_hex2bn(&d, private_hex.c_str()) != 0, "BN_hex2bn");
        check(OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PRIV_KEY, d) == 1, "priv");
    }
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    EVP_PKEY* key = nullptr;
    const int ok =
        EVP_PKEY_fromdata_init(ctx) == 1 &&
        EVP_PKEY_fromdata(ctx, &key, d ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params) == 1;
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_free(d);
    check(ok, "EVP_PKEY_fromdata");
    return Pkey(key);
}

Pkey sm2_generate(std::string& private_hex, std::string& public_xy_hex) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    EVP_PKEY* key = nullptr;
    const bool ok = EVP_PKEY_keygen_init(ctx) == 1 && EVP_PKEY_generate(ctx, &key) == 1;
    EVP_PKEY_CTX_free(ctx);
    check(ok, "keygen");
    Pkey owned(key);
    BIGNUM* d = nullptr;
    check(EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d) == 1, "get priv");
    std::uint8_t raw[32];
    check(BN_bn2binpad(d, raw, 32) == 32, "bn2bin");
    BN_free(d);
    private_hex = pelmo::detail::to_hex(raw);
    std::uint8_t pub[65];
    std::size_t len = 0;
    check(
        EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, pub, sizeof pub, &len) == 1 &&
            len == 65,
        "get pub");
    public_xy_hex = pelmo::detail::to_hex(ByteView(pub + 1, 64));
    return owned;
}

Bytes sign_sm3(EVP_PKEY* key, ByteView msg, const std::string& id) {
    EVP_MD_CTX* mctx = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    Bytes sig(80);
    std::size_t len = sig.size();
    const bool ok = EVP_PKEY_CTX_set1_id(pctx, id.data(), static_cast<int>(id.size())) == 1 &&
                    (EVP_MD_CTX_set_pkey_ctx(mctx, pctx), true) &&
                    EVP_DigestSignInit(mctx, nullptr, EVP_sm3(), nullptr, key) == 1 &&
                    EVP_DigestSign(mctx, sig.data(), &len, msg.data(), msg.size()) == 1;
    EVP_MD_CTX_free(mctx);
    EVP_PKEY_CTX_free(pctx);
    check(ok, "DigestSign");
    sig.resize(len);
    return sig;
}

bool verify_sm3(EVP_PKEY* key, ByteView msg, ByteView der, const std::string& id) {
    EVP_MD_CTX* mctx = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    check(EVP_PKEY_CTX_set1_id(pctx, id.data(), static_cast<int>(id.size())) == 1, "set1_id");
    EVP_MD_CTX_set_pkey_ctx(mctx, pctx);
    check(EVP_DigestVerifyInit(mctx, nullptr, EVP_sm3(), nullptr, key) == 1, "DigestVerifyInit");
    const int rc = EVP_DigestVerify(mctx, der.data(), der.size(), msg.data(), msg.size());
    EVP_MD_CTX_free(mctx);
    EVP_PKEY_CTX_free(pctx);
    return rc == 1;
}

Bytes sign_digest(EVP_PKEY* key, ByteView e) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    Bytes sig(80);
    std::size_t len = sig.size();
    const bool ok = EVP_PKEY_sign_init(ctx) == 1 &&
                    EVP_PKEY_sign(ctx, sig.data(), &len, e.data(), e.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    check(ok, "EVP_PKEY_sign");
    sig.resize(len);
    return sig;
}

bool verify_digest(EVP_PKEY* key, ByteView e, ByteView der) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    const bool ok = EVP_PKEY_verify_init(ctx) == 1 &&
                    EVP_PKEY_verify(ctx, der.data(), der.size(), e.data(), e.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

}  // namespace pelmo::test::sm2
