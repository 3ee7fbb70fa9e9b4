#include "support/openssl_oracle.hpp"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <stdexcept>

namespace pelmo::test {

Bytes openssl_sm3(ByteView data) {
    Bytes out(32);
    unsigned len = 0;
    if (EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_sm3(), nullptr) != 1)
        throw std::runtime_error("EVP_Digest(SM3) failed");
    return out;
}

Bytes openssl_sm3_kdf(ByteView z, std::size_t klen) {
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "X963KDF", nullptr);
    EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
    char digest[] = "SM3";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
                           OSSL_PARAM_construct_octet_string(
                               OSSL_KDF_PARAM_KEY, const_cast<std::uint8_t*>(z.data()), z.size()),
                           OSSL_PARAM_construct_end()};
    Bytes out(klen);
    const int ok = EVP_KDF_derive(ctx, out.data(), out.size(), params);
    EVP_KDF_CTX_free(ctx);
    EVP_KDF_free(kdf);
    if (ok != 1) throw std::runtime_error("EVP_KDF_derive(X963KDF, SM3) failed");
    return out;
}

}  // namespace pelmo::test
