// Text overloads: a string literal, a std::string and a std::string_view give exactly what
// the ByteView call gives on the same octets, and `{}` or Bytes still select the ByteView
// functions.
#include <pelmo/pelmo.hpp>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "support/example_keys.hpp"

namespace {

using pelmo::as_bytes;
using pelmo::Bytes;
using pelmo::ByteView;
namespace sm2 = pelmo::sm2;
namespace sm3 = pelmo::sm3;
namespace sm4 = pelmo::sm4;

static_assert(pelmo::Text<char[4]> && pelmo::Text<const char*> && pelmo::Text<std::string> &&
              pelmo::Text<std::string_view>);
static_assert(!pelmo::Text<Bytes> && !pelmo::Text<ByteView> && !pelmo::Text<int>);
// `{}` and byte containers keep selecting the ByteView functions (no ambiguity).
static_assert(requires(const Bytes& b, const sm2::CryptSM2& e, const sm4::CryptSM4& c) {
    sm3::sm3_hash({});
    sm3::sm3_hash(b);
    sm3::hmac_sm3(b, {});
    e.sign({}, "1");
    e.encrypt({});
    e.verify("", {});
    c.crypt_ecb({});
    c.crypt_cbc(b, {});
    sm4::gcm_seal(b, b, {});
    sm4::gcm_seal(b, {}, b, {}, 16);
});

const std::string kText = "The quick brown fox \xe4\xbd\xa0\xe5\xa5\xbd";  // UTF-8 too
#define PELMO_TEXT_LITERAL "The quick brown fox \xe4\xbd\xa0\xe5\xa5\xbd"
const ByteView kOctets = as_bytes(kText);

// Calls check with the text as a literal, a std::string and a std::string_view.
template <class Check>
void with_each_form(Check check) {
    check(PELMO_TEXT_LITERAL);
    check(std::string(kText));
    check(std::string_view(kText));
}

TEST(TextOverloads, AsBytesViewsTheOctetsWithoutCopying) {
    using namespace std::string_literals;
    const std::string s = "a\0\xff"s;
    const ByteView v = as_bytes(s);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(static_cast<const void*>(v.data()), static_cast<const void*>(s.data()));
    EXPECT_EQ(Bytes(v.begin(), v.end()), (Bytes{'a', 0, 0xff}));
    EXPECT_TRUE(as_bytes("").empty());
}

TEST(TextOverloads, Sm3) {
    const std::string want = sm3::sm3_hash(kOctets);
    const Bytes key = {1, 2, 3};
    with_each_form([&](const auto& text) {
        EXPECT_EQ(sm3::sm3_hash(text), want);
        EXPECT_EQ(sm3::SM3::hash(text), sm3::SM3::hash(kOctets));
        sm3::SM3 h;
        h.update(text).update(text);
        EXPECT_EQ(h.digest(), sm3::SM3().update(kOctets).update(kOctets).digest());
        // HMAC: text message, text key, or both.
        EXPECT_EQ(sm3::hmac_sm3(key, text), sm3::hmac_sm3(key, kOctets));
        EXPECT_EQ(sm3::hmac_sm3(text, key), sm3::hmac_sm3(kOctets, key));
        EXPECT_EQ(sm3::hmac_sm3(text, text), sm3::hmac_sm3(kOctets, kOctets));
        sm3::HmacSM3 mac(text);
        mac.update(text);
        EXPECT_EQ(mac.digest(), sm3::hmac_sm3(kOctets, kOctets));
        EXPECT_EQ(sm3::pbkdf2_sm3(text, key, 2, 40), sm3::pbkdf2_sm3(kOctets, key, 2, 40));
        EXPECT_EQ(sm3::pbkdf2_sm3(text, text, 2, 40), sm3::pbkdf2_sm3(kOctets, kOctets, 2, 40));
    });
    EXPECT_EQ(sm3::sm3_hash("abc"),
              "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0");
}

TEST(TextOverloads, Sm2) {
    const sm2::CryptSM2 e(pelmo::test::kExamplePrivateKey, pelmo::test::kExamplePublicKey);
    const std::string K = "59276e27d506861a16680f3ad9c02dccef3cc1fa3cdbe4ce6d54b80deac1bc21";
    const auto raw = e.sign(kOctets, K);
    const auto std_sig = e.sign_with_sm3(kOctets, K);
    ASSERT_TRUE(raw && std_sig);
    with_each_form([&](const auto& text) {
        EXPECT_EQ(e.sign(text, K), raw);
        EXPECT_TRUE(e.verify(*raw, text));
        EXPECT_EQ(e.sign_with_sm3(text, K), std_sig);
        EXPECT_TRUE(e.verify_with_sm3(*std_sig, text));
        EXPECT_EQ(e._sm3_z(text), e._sm3_z(kOctets));
        EXPECT_EQ(e.recover_public_keys(*raw, text), e.recover_public_keys(*raw, kOctets));
        const auto ct = e.encrypt(text);  // a fresh random scalar: compare the decryption
        ASSERT_TRUE(ct);
        EXPECT_EQ(e.decrypt(*ct), Bytes(kOctets.begin(), kOctets.end()));
    });
    EXPECT_FALSE(e.verify_with_sm3(*std_sig, "another text"));
    // SM2Manager inherits the standard signatures on text.
    pelmo::crypt_managers::SM2Manager m(pelmo::test::kExamplePrivateKey,
                                        pelmo::test::kExamplePublicKey);
    EXPECT_EQ(m.sign_with_sm3(PELMO_TEXT_LITERAL, K), std_sig);
}

TEST(TextOverloads, Sm4) {
    const Bytes key(16, 0x2b), iv(16, 0x7e), nonce(12, 0x11), aad = {9, 8, 7};
    sm4::CryptSM4 c;
    c.set_key(key, sm4::SM4_ENCRYPT);
    with_each_form([&](const auto& text) {
        EXPECT_EQ(c.crypt_ecb(text), c.crypt_ecb(kOctets));
        EXPECT_EQ(c.crypt_cbc(iv, text), c.crypt_cbc(iv, kOctets));
        EXPECT_EQ(sm4::ctr_crypt(key, iv, text), sm4::ctr_crypt(key, iv, kOctets));
        EXPECT_EQ(sm4::cfb_encrypt(key, iv, text), sm4::cfb_encrypt(key, iv, kOctets));
        EXPECT_EQ(sm4::ofb_crypt(key, iv, text), sm4::ofb_crypt(key, iv, kOctets));
        EXPECT_EQ(sm4::gcm_seal(key, nonce, text), sm4::gcm_seal(key, nonce, kOctets));
        EXPECT_EQ(sm4::gcm_seal(key, nonce, text, aad, 12),
                  sm4::gcm_seal(key, nonce, kOctets, aad, 12));
        EXPECT_EQ(sm4::ccm_seal(key, nonce, text, aad, 8),
                  sm4::ccm_seal(key, nonce, kOctets, aad, 8));
        sm4::SM4Stream s(sm4::SM4Stream::OFB, key, iv);
        EXPECT_EQ(s.update(text), sm4::ofb_crypt(key, iv, kOctets));
        sm4::SM4AeadSeal seal(sm4::SM4AeadSeal::GCM, key, nonce);
        Bytes sealed = seal.update(text);
        const Bytes tag = seal.finish();
        sealed.insert(sealed.end(), tag.begin(), tag.end());
        EXPECT_EQ(sealed, sm4::gcm_seal(key, nonce, kOctets));
    });
}

}  // namespace
