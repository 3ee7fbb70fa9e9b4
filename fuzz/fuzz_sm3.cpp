// SM3 against OpenSSL on arbitrary input, one-shot and streamed in input-chosen
// chunks; sm3_kdf against OpenSSL's X9.63 KDF.
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <pelmo/sm3.hpp>

#include <cstring>
#include <stdexcept>

#include "common/hex.hpp"
#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pelmo::ByteView msg(data, size);
    unsigned char ref[32];
    unsigned len = 0;
    FUZZ_CHECK(EVP_Digest(data, size, ref, &len, EVP_sm3(), nullptr) == 1);
    const std::string ref_hex = pelmo::detail::to_hex(pelmo::ByteView(ref, 32));
    FUZZ_CHECK(pelmo::sm3::sm3_hash(msg) == ref_hex);

    // Streamed: the first byte picks the chunk size.
    const std::size_t chunk = size == 0 ? 1 : 1 + data[0] % 97;
    pelmo::sm3::SM3 h;
    for (std::size_t at = 0; at < size; at += chunk)
        h.update(pelmo::ByteView(data + at, std::min(chunk, size - at)));
    FUZZ_CHECK(h.hexdigest() == ref_hex);

    // KDF over the input as Z, with a length from the input.
    if (size > 0) {
        const std::size_t klen = 1 + data[size - 1] % 100;
        EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "X963KDF", nullptr);
        EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
        char digest[] = "SM3";
        OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_octet_string(
                                   OSSL_KDF_PARAM_KEY, const_cast<std::uint8_t*>(data), size),
                               OSSL_PARAM_construct_end()};
        unsigned char out[100];
        FUZZ_CHECK(EVP_KDF_derive(ctx, out, klen, params) == 1);
        EVP_KDF_CTX_free(ctx);
        EVP_KDF_free(kdf);
        FUZZ_CHECK(
            pelmo::sm3::sm3_kdf(pelmo::detail::to_hex(msg), static_cast<std::int64_t>(klen)) ==
            pelmo::detail::to_hex(pelmo::ByteView(out, klen)));
    }
    return 0;
}
