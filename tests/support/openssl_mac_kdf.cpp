#include "support/openssl_mac_kdf.hpp"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <stdexcept>
#include <vector>

namespace pelmo::test {

namespace {

char kSm3Name[] = "SM3";

// OpenSSL reads a null pointer as "no value" even with a zero length: an empty input
// points at this byte instead.
const std::uint8_t kEmpty = 0;
std::uint8_t* data_of(ByteView v) {
    return const_cast<std::uint8_t*>(v.empty() ? &kEmpty : v.data());
}

}  // namespace

Bytes openssl_hmac_sm3(ByteView key, ByteView data) {
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    EVP_MAC_CTX* ctx = mac != nullptr ? EVP_MAC_CTX_new(mac) : nullptr;
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, kSm3Name, 0),
        OSSL_PARAM_construct_end()};
    Bytes out(32);
    std::size_t len = 0;
    const bool ok = ctx != nullptr && EVP_MAC_init(ctx, data_of(key), key.size(), params) == 1 &&
                    EVP_MAC_update(ctx, data_of(data), data.size()) == 1 &&
                    EVP_MAC_final(ctx, out.data(), &len, out.size()) == 1 && len == out.size();
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
    if (!ok) throw std::runtime_error("EVP_MAC(HMAC, SM3) failed");
    return out;
}

Bytes openssl_pbkdf2_sm3(ByteView password, ByteView salt, std::uint32_t iterations,
                         std::size_t length) {
    Bytes out(length);
    if (PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(data_of(password)),
                          static_cast<int>(password.size()), data_of(salt),
                          static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sm3(),
                          static_cast<int>(length), out.data()) != 1)
        throw std::runtime_error("PKCS5_PBKDF2_HMAC(SM3) failed");
    return out;
}

Bytes openssl_hkdf_sm3(ByteView ikm, ByteView salt, ByteView info, std::size_t length) {
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    EVP_KDF_CTX* ctx = kdf != nullptr ? EVP_KDF_CTX_new(kdf) : nullptr;
    std::vector<OSSL_PARAM> params = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, kSm3Name, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, data_of(ikm), ikm.size())};
    if (!salt.empty())
        params.push_back(
            OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, data_of(salt), salt.size()));
    if (!info.empty())
        params.push_back(
            OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, data_of(info), info.size()));
    params.push_back(OSSL_PARAM_construct_end());
    Bytes out(length);
    const bool ok =
        ctx != nullptr && EVP_KDF_derive(ctx, out.data(), out.size(), params.data()) == 1;
    EVP_KDF_CTX_free(ctx);
    EVP_KDF_free(kdf);
    if (!ok) throw std::runtime_error("EVP_KDF_derive(HKDF, SM3) failed");
    return out;
}

}  // namespace pelmo::test
