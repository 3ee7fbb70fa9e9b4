// SM4Manager: texts to hexadecimal and back under the fixed key and IV.
#include <pelmo/crypt_managers.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>

#include "common/hex.hpp"
#include "openssl_sm4.hpp"
#include "support/random_input.hpp"

namespace {

using pelmo::Bytes;
using pelmo::crypt_managers::SM4Manager;
using pelmo::detail::from_hex;
using pelmo::detail::to_hex;
using pelmo::test::as_bytes;
namespace sm4 = pelmo::sm4;

bool is_lower_hex(const std::string& s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

TEST(Sm4Manager, FixedKeyAndIvOfLettersAndDigits) {
    const SM4Manager m;
    ASSERT_EQ(m.key.size(), 16u);
    ASSERT_EQ(m.iv.size(), 16u);
    for (std::uint8_t b : m.key) EXPECT_TRUE(std::isalnum(b)) << int(b);
    for (std::uint8_t b : m.iv) EXPECT_TRUE(std::isalnum(b)) << int(b);
    EXPECT_EQ(SM4Manager().key, m.key);
    EXPECT_EQ(SM4Manager().iv, m.iv);
    EXPECT_EQ(m.mode, sm4::SM4_ENCRYPT);
    EXPECT_EQ(m.padding_mode, sm4::PKCS7);
}

TEST(Sm4Manager, EncryptIsCbcPkcs7UnderTheFixedKey) {
    SM4Manager m;
    const std::string text = "The quick brown fox jumps over the lazy dog";
    const std::string hex = m.encrypt(text);
    EXPECT_TRUE(is_lower_hex(hex));
    EXPECT_EQ(hex, to_hex(pelmo::test::openssl_sm4(true, true, true, m.key, m.iv, as_bytes(text))));
    EXPECT_EQ(m.mode, sm4::SM4_ENCRYPT);
}

TEST(Sm4Manager, Lengths) {
    SM4Manager m;
    EXPECT_EQ(m.encrypt("").size(), 32u);
    EXPECT_EQ(m.decrypt(m.encrypt("")), "");
    EXPECT_EQ(m.encrypt("0123456789abcdef").size(), 64u);
    EXPECT_EQ(m.encrypt("0123456789abcde").size(), 32u);
    // 5 Chinese characters: 15 UTF-8 bytes; 6: 18 bytes.
    EXPECT_EQ(m.encrypt("对称算法加").size(), 32u);
    EXPECT_EQ(m.encrypt("对称算法加密").size(), 64u);
}

TEST(Sm4Manager, RoundTripsOfMultiByteText) {
    SM4Manager m;
    for (const std::string& text : std::initializer_list<std::string>{
             "SM4算法，对称加解密", "对称算法加密字符串", "emoji 🙂 and ß and é",
             std::string(1000, 'x'), std::string("nul\0inside", 10),
             "\xf4\x8f\xbf\xbf max code point"}) {
        EXPECT_EQ(m.decrypt(m.encrypt(text)), text);
    }
    EXPECT_EQ(m.mode, sm4::SM4_DECRYPT);
}

TEST(Sm4Manager, DecryptAcceptsUpperCaseAndWhiteSpaceBetweenPairs) {
    SM4Manager m;
    const std::string text = "白日依山尽，黄河入海流";
    const std::string hex = m.encrypt(text);
    std::string upper = hex;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return static_cast<char>(std::toupper(c)); });
    EXPECT_EQ(m.decrypt(upper), text);
    std::string spaced = " \t";
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        spaced += hex.substr(i, 2);
        spaced += (i % 8 == 0) ? "\n" : (i % 6 == 0 ? " \r\f\v" : " ");
    }
    EXPECT_EQ(m.decrypt(spaced), text);
}

TEST(Sm4Manager, OrderOfCallsDoesNotMatter) {
    SM4Manager a, b;
    const std::string hex = a.encrypt("hello");
    EXPECT_EQ(b.decrypt(hex), "hello");
    EXPECT_EQ(b.encrypt("hello"), hex);  // after a decrypt, same as a fresh manager
    EXPECT_EQ(SM4Manager().encrypt("hello"), hex);
    EXPECT_EQ(a.encrypt("hello"), a.encrypt("hello"));
    // The engine state each call leaves.
    sm4::CryptSM4 e;
    e.set_key(a.key, sm4::SM4_ENCRYPT);
    EXPECT_EQ(b.sk, e.sk);
    EXPECT_EQ(b.mode, sm4::SM4_ENCRYPT);
    b.decrypt(hex);
    e.set_key(a.key, sm4::SM4_DECRYPT);
    EXPECT_EQ(b.sk, e.sk);
    EXPECT_EQ(b.mode, sm4::SM4_DECRYPT);
    // The inherited engine operations stay usable.
    b.set_key(b.key, sm4::SM4_ENCRYPT);
    EXPECT_EQ(to_hex(b.crypt_cbc(b.iv, as_bytes("hello"))), hex);
}

TEST(Sm4Manager, BadHexadecimal) {
    SM4Manager m;
    const std::string hex = m.encrypt("abc");
    EXPECT_THROW(m.decrypt(hex.substr(1)), std::invalid_argument);  // odd count
    EXPECT_THROW(m.decrypt("zz" + hex), std::invalid_argument);
    EXPECT_THROW(m.decrypt(hex.substr(0, 1) + " " + hex.substr(1)), std::invalid_argument);
    EXPECT_THROW(m.decrypt(hex + "0x"), std::invalid_argument);
    EXPECT_THROW(m.decrypt("\xe4\xbd\xa0" + hex), std::invalid_argument);
    try {
        m.decrypt("00g1");
        ADD_FAILURE();
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("'g' at position 2"), std::string::npos) << e.what();
    }
    try {
        m.decrypt(hex + "a");
        ADD_FAILURE();
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("odd number"), std::string::npos) << e.what();
    }
}

TEST(Sm4Manager, BadCiphertexts) {
    SM4Manager m;
    const std::string hex = m.encrypt("some text here");
    // Not whole blocks, empty, or nothing but white space.
    EXPECT_THROW(m.decrypt(hex.substr(0, 30)), std::out_of_range);
    EXPECT_THROW(m.decrypt(""), std::out_of_range);
    EXPECT_THROW(m.decrypt(" \n "), std::out_of_range);
    // Tampered last block: the padding check (almost always) catches it.
    std::string bad = hex;
    bad[bad.size() - 1] = bad.back() == '0' ? '1' : '0';
    EXPECT_THROW(m.decrypt(bad), std::invalid_argument);
}

TEST(Sm4Manager, InvalidUtf8BothWays) {
    SM4Manager m;
    for (const std::string& text : {std::string("\xff"), std::string("ab\xc0\xaf"),  // overlong
                                    std::string("\xed\xa0\x80"),                     // surrogate
                                    std::string("\xf4\x90\x80\x80"),  // above U+10FFFF
                                    std::string("\xe4\xbd")}) {       // truncated
        EXPECT_THROW(m.encrypt(text), std::invalid_argument);
        // The same bytes encrypted directly do not decrypt to a text.
        sm4::CryptSM4 e;
        e.set_key(m.key, sm4::SM4_ENCRYPT);
        const std::string hex = to_hex(e.crypt_cbc(m.iv, as_bytes(text)));
        EXPECT_THROW(m.decrypt(hex), std::invalid_argument);
    }
}

TEST(Sm4Manager, FailedCallsLeaveTheManagerAlone) {
    SM4Manager m;
    m.encrypt("x");
    const auto sk = m.sk;
    EXPECT_THROW(m.decrypt("zz"), std::invalid_argument);
    EXPECT_THROW(m.decrypt("00"), std::out_of_range);
    EXPECT_THROW(m.encrypt("\xff"), std::invalid_argument);
    EXPECT_EQ(m.sk, sk);
    EXPECT_EQ(m.mode, sm4::SM4_ENCRYPT);
}

TEST(Sm4Manager, FollowsItsPublicFields) {
    // key, iv and padding_mode are public: the manager uses what they hold.
    SM4Manager m;
    m.padding_mode = sm4::ISO9797M2;
    const std::string hex = m.encrypt("abc");
    EXPECT_EQ(m.decrypt(hex), "abc");
    EXPECT_NE(hex, SM4Manager().encrypt("abc"));
    m.key.resize(8);
    EXPECT_THROW(m.encrypt("abc"), std::out_of_range);
    SM4Manager n;
    n.iv.clear();
    EXPECT_THROW(n.encrypt("abc"), std::out_of_range);
    EXPECT_THROW(n.decrypt(hex), std::out_of_range);
}

}  // namespace
