// SM4 against OpenSSL under input-chosen keys, IVs and data (ECB and CBC, no padding
// and PKCS#7), and decryption under every padding: only documented exceptions, the
// engine unchanged by a failure, and round trips where they apply.
#include <openssl/evp.h>

#include <pelmo/sm4.hpp>

#include <stdexcept>

#include "fuzz_check.hpp"

namespace {

namespace s4 = pelmo::sm4;

pelmo::Bytes openssl_sm4(bool cbc, bool encrypt, bool pad, const std::uint8_t* key,
                         const std::uint8_t* iv, pelmo::ByteView in, bool& ok) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, cbc ? EVP_sm4_cbc() : EVP_sm4_ecb(), nullptr, key, cbc ? iv : nullptr,
                      encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
    pelmo::Bytes out(in.size() + 32);
    int n1 = 0, n2 = 0;
    ok = EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())) == 1 &&
         EVP_CipherFinal_ex(ctx, out.data() + n1, &n2) == 1;
    EVP_CIPHER_CTX_free(ctx);
    out.resize(ok ? static_cast<std::size_t>(n1 + n2) : 0);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 33) return 0;
    const std::uint8_t* key = data;
    const std::uint8_t* iv = data + 16;
    const std::uint8_t flags = data[32];
    const pelmo::ByteView msg(data + 33, size - 33);
    const bool cbc = flags & 1, pkcs7 = flags & 2;

    // Encryption agrees with OpenSSL whenever OpenSSL accepts the input.
    s4::CryptSM4 enc(s4::SM4_ENCRYPT, pkcs7 ? s4::PKCS7 : s4::NoPadding);
    enc.set_key(pelmo::ByteView(key, 16), s4::SM4_ENCRYPT);
    bool ossl_ok = false;
    const pelmo::Bytes ref = openssl_sm4(cbc, true, pkcs7, key, iv, msg, ossl_ok);
    try {
        const pelmo::Bytes got =
            cbc ? enc.crypt_cbc(pelmo::ByteView(iv, 16), msg) : enc.crypt_ecb(msg);
        FUZZ_CHECK(ossl_ok && got == ref);
    } catch (const std::out_of_range&) {
        FUZZ_CHECK(!ossl_ok);  // a partial block without padding
    }

    // Decryption under every padding: a result or a documented exception, and for
    // PKCS#7 the same verdict as OpenSSL.
    for (int padding : {s4::NoPadding, s4::ZERO, s4::ISO9797M2, s4::PKCS7, s4::PBOC}) {
        s4::CryptSM4 dec(s4::SM4_DECRYPT, padding);
        dec.set_key(pelmo::ByteView(key, 16), s4::SM4_DECRYPT);
        const auto sk_before = dec.sk;
        bool threw = false;
        pelmo::Bytes got;
        try {
            got = cbc ? dec.crypt_cbc(pelmo::ByteView(iv, 16), msg) : dec.crypt_ecb(msg);
        } catch (const std::invalid_argument&) {
            threw = true;
        } catch (const std::out_of_range&) {
            threw = true;
        }
        FUZZ_CHECK(dec.sk == sk_before && dec.mode == s4::SM4_DECRYPT &&
                   dec.padding_mode == padding);
        if (padding == s4::PKCS7 || padding == s4::NoPadding) {
            bool ok = false;
            const pelmo::Bytes r = openssl_sm4(cbc, false, padding == s4::PKCS7, key, iv, msg, ok);
            FUZZ_CHECK(ok == !threw);
            if (ok) FUZZ_CHECK(got == r);
        }
    }
    return 0;
}
