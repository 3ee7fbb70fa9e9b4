// OpenSSL's EVP SM4 as the reference for pelmo's SM4 modes.
#pragma once

#include <openssl/evp.h>

#include <stdexcept>

#include <pelmo/types.hpp>

namespace pelmo::test {

/// ECB or CBC (iv non-empty) through EVP, with or without PKCS#7 padding.
inline Bytes openssl_sm4(bool encrypt, bool cbc, bool pkcs7, ByteView key, ByteView iv,
                         ByteView in) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const EVP_CIPHER* cipher = cbc ? EVP_sm4_cbc() : EVP_sm4_ecb();
    Bytes out(in.size() + 32);
    int n1 = 0, n2 = 0;
    bool ok = EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), cbc ? iv.data() : nullptr,
                                encrypt ? 1 : 0) == 1;
    ok = ok && EVP_CIPHER_CTX_set_padding(ctx, pkcs7 ? 1 : 0) == 1;
    ok = ok && EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())) == 1;
    ok = ok && EVP_CipherFinal_ex(ctx, out.data() + n1, &n2) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) throw std::runtime_error("EVP SM4 failed");
    out.resize(static_cast<std::size_t>(n1 + n2));
    return out;
}

/// A stream mode through EVP (EVP_sm4_ctr, EVP_sm4_cfb128, EVP_sm4_ofb), fed in one call.
inline Bytes openssl_sm4_stream(const EVP_CIPHER* cipher, bool encrypt, ByteView key, ByteView iv,
                                ByteView in) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 16);
    int n1 = 0, n2 = 0;
    bool ok = EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv.data(), encrypt ? 1 : 0) == 1;
    ok = ok && EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())) == 1;
    ok = ok && EVP_CipherFinal_ex(ctx, out.data() + n1, &n2) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) throw std::runtime_error("EVP SM4 stream mode failed");
    out.resize(static_cast<std::size_t>(n1 + n2));
    return out;
}

}  // namespace pelmo::test
