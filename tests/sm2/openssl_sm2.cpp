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

Bytes encrypt(EVP_PKEY* key, ByteView msg) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    std::size_t len = 0;
    Bytes out;
    bool ok = EVP_PKEY_encrypt_init(ctx) == 1 &&
              EVP_PKEY_encrypt(ctx, nullptr, &len, msg.data(), msg.size()) == 1;
    if (ok) {
        out.resize(len);
        ok = EVP_PKEY_encrypt(ctx, out.data(), &len, msg.data(), msg.size()) == 1;
        out.resize(len);
    }
    EVP_PKEY_CTX_free(ctx);
    check(ok, "EVP_PKEY_encrypt");
    return out;
}

std::optional<Bytes> decrypt(EVP_PKEY* key, ByteView asn1) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    std::size_t len = 0;
    Bytes out;
    bool ok = EVP_PKEY_decrypt_init(ctx) == 1 &&
              EVP_PKEY_decrypt(ctx, nullptr, &len, asn1.data(), asn1.size()) == 1;
    if (ok) {
        out.resize(len);
        ok = EVP_PKEY_decrypt(ctx, out.data(), &len, asn1.data(), asn1.size()) == 1;
        out.resize(len);
    }
    EVP_PKEY_CTX_free(ctx);
    if (!ok) return std::nullopt;
    return out;
}

namespace {

// A minimal DER reader and writer for the ciphertext's four fields.
struct Reader {
    ByteView in;
    std::size_t pos = 0;

    std::uint8_t byte() {
        check(pos < in.size(), "DER: truncated");
        return in[pos++];
    }
    // The content of the next element, which must carry the tag.
    ByteView element(std::uint8_t tag) {
        check(byte() == tag, "DER: unexpected tag");
        std::size_t len = byte();
        if (len & 0x80) {
            const std::size_t count = len & 0x7f;
            check(count >= 1 && count <= 4, "DER: length");
            len = 0;
            for (std::size_t i = 0; i < count; ++i) len = (len << 8) | byte();
        }
        check(len <= in.size() - pos, "DER: truncated content");
        const ByteView content = in.subspan(pos, len);
        pos += len;
        return content;
    }
};

void put_length(Bytes& out, std::size_t len) {
    if (len < 0x80) {
        out.push_back(static_cast<std::uint8_t>(len));
        return;
    }
    Bytes digits;
    for (; len != 0; len >>= 8) digits.insert(digits.begin(), static_cast<std::uint8_t>(len));
    out.push_back(static_cast<std::uint8_t>(0x80 | digits.size()));
    out.insert(out.end(), digits.begin(), digits.end());
}

void put(Bytes& out, std::uint8_t tag, ByteView content) {
    out.push_back(tag);
    put_length(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
}

// A non-negative INTEGER from 32 big-endian bytes: minimal, with a 0x00 before a set top bit.
void put_unsigned(Bytes& out, ByteView be) {
    std::size_t skip = 0;
    while (skip + 1 < be.size() && be[skip] == 0) ++skip;
    Bytes v(be.begin() + static_cast<std::ptrdiff_t>(skip), be.end());
    if (v[0] & 0x80) v.insert(v.begin(), 0);
    put(out, 0x02, v);
}

// 32 big-endian bytes from a non-negative INTEGER.
void append_coordinate(Bytes& out, ByteView integer) {
    std::size_t skip = 0;
    while (skip < integer.size() && integer[skip] == 0) ++skip;
    const ByteView v = integer.subspan(skip);
    check(v.size() <= 32, "DER: coordinate wider than 32 bytes");
    out.insert(out.end(), 32 - v.size(), 0);
    out.insert(out.end(), v.begin(), v.end());
}

}  // namespace

Bytes asn1_to_c1c3c2(ByteView asn1) {
    Reader outer{asn1};
    Reader seq{outer.element(0x30)};
    check(outer.pos == asn1.size(), "DER: bytes after the SEQUENCE");
    Bytes out;
    append_coordinate(out, seq.element(0x02));
    append_coordinate(out, seq.element(0x02));
    const ByteView c3 = seq.element(0x04);
    const ByteView c2 = seq.element(0x04);
    check(seq.pos == seq.in.size(), "DER: extra elements");
    out.insert(out.end(), c3.begin(), c3.end());
    out.insert(out.end(), c2.begin(), c2.end());
    return out;
}

Bytes c1c3c2_to_asn1(ByteView raw) {
    check(raw.size() > 96, "C1 || C3 || C2 needs more than 96 bytes");
    Bytes content;
    put_unsigned(content, raw.subspan(0, 32));
    put_unsigned(content, raw.subspan(32, 32));
    put(content, 0x04, raw.subspan(64, 32));
    put(content, 0x04, raw.subspan(96));
    Bytes out;
    put(out, 0x30, content);
    return out;
}

}  // namespace pelmo::test::sm2
