// CryptSM2::generate_key_pair on several curves, and the managers' documented behaviour:
// SM2Manager's unhashed signatures and SM4Manager under a caller's key.
#include <pelmo/pelmo.hpp>

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

#include "common/hex.hpp"
#include "support/test_curve.hpp"

namespace {

using pelmo::Bytes;
using pelmo::crypt_managers::SM2Manager;
using pelmo::crypt_managers::SM4Manager;
using pelmo::detail::parse_hex_int;
using pelmo::sm2::CryptSM2;
using pelmo::sm2::EccTable;

bool is_lower_hex(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

struct Curve {
    const char* name;
    const EccTable* table;
};
const EccTable kTinyCurve = {{"n", "11b"}, {"p", "107"}, {"a", "5"}, {"b", "3"}, {"g", "001003"}};

class GenerateKeyPair : public ::testing::TestWithParam<Curve> {};

TEST_P(GenerateKeyPair, KeysAreValidAndMatch) {
    const EccTable& table = *GetParam().table;
    const CryptSM2 engine(std::nullopt, std::nullopt, table);
    const std::size_t digits = static_cast<std::size_t>(engine.para_len());
    const pelmo::BigInt n = parse_hex_int(table.at("n"));
    std::set<std::string> seen;
    for (int i = 0; i < 8; ++i) {
        const auto [d, pub] = CryptSM2::generate_key_pair(table);
        ASSERT_EQ(d.size(), digits);
        ASSERT_EQ(pub.size(), 2 * digits);
        EXPECT_TRUE(is_lower_hex(d) && is_lower_hex(pub));
        const pelmo::BigInt v = parse_hex_int(d);
        EXPECT_GE(v, 1);
        EXPECT_LE(v, n - 2);
        EXPECT_EQ(engine._kg(v, table.at("g")), pub);
        // The pair works as a signer's keys (on a full-size curve: the tiny one is for the
        // key arithmetic only).
        if (digits >= 64) {
            const CryptSM2 signer(d, pub, table);
            const auto sig = signer.sign_with_sm3("message");
            ASSERT_TRUE(sig);
            EXPECT_TRUE(CryptSM2(std::nullopt, pub, table).verify_with_sm3(*sig, "message"));
        }
        seen.insert(d);
    }
    if (digits >= 64) {
        EXPECT_EQ(seen.size(), 8u);  // 2^-250 odds of a repeat
    }
}

INSTANTIATE_TEST_SUITE_P(Curves, GenerateKeyPair,
                         ::testing::Values(Curve{"recommended", &pelmo::sm2::default_ecc_table},
                                           Curve{"test", &pelmo::test::kTestCurve},
                                           Curve{"tiny", &kTinyCurve}),
                         [](const auto& curve) { return std::string(curve.param.name); });

TEST(GenerateKeyPair, DefaultsToTheRecommendedCurveAndRefusesBadTables) {
    const auto [d, pub] = CryptSM2::generate_key_pair();
    EXPECT_EQ(SM2Manager(d).get_public_key(), pub);
    EccTable no_n = pelmo::sm2::default_ecc_table;
    no_n.erase("n");
    EXPECT_ANY_THROW(CryptSM2::generate_key_pair(no_n));
    EccTable tiny_n = kTinyCurve;
    tiny_n["n"] = "2";  // no value in [1, n - 2]
    EXPECT_THROW(CryptSM2::generate_key_pair(tiny_n), std::invalid_argument);
}

// The integer e of a text's octets plus n, as octets: a different text, the same e mod n.
std::string plus_n(std::string_view text) {
    pelmo::BigInt e = parse_hex_int(pelmo::detail::to_hex(pelmo::as_bytes(text))) +
                      parse_hex_int(pelmo::sm2::default_ecc_table.at("n"));
    const Bytes b = pelmo::detail::from_hex(pelmo::detail::int_to_hex(e, 66));
    return std::string(b.begin(), b.end());
}

TEST(SM2ManagerSignature, SignsTheUnhashedOctets) {
    SM2Manager m;
    m.get_public_key();
    const auto sig = m.signature("abc");
    ASSERT_TRUE(sig);
    EXPECT_TRUE(m.validate(*sig, "abc"));
    // Texts with the same integer modulo n share the signature ...
    EXPECT_TRUE(m.validate(*sig, std::string("\0\0abc", 5)));
    EXPECT_TRUE(m.validate(*sig, plus_n("abc")));
    EXPECT_FALSE(m.validate(*sig, "abd"));
    // ... which is no standard signature; sign_with_sm3 makes one.
    EXPECT_FALSE(m.verify_with_sm3(*sig, "abc"));
    const auto std_sig = m.sign_with_sm3("abc");
    ASSERT_TRUE(std_sig);
    EXPECT_TRUE(m.verify_with_sm3(*std_sig, "abc"));
    EXPECT_FALSE(m.verify_with_sm3(*std_sig, std::string("\0abc", 4)));
}

TEST(SM4ManagerKey, EncryptsUnderTheCallersKeyAndIv) {
    Bytes key(16), iv(16);
    for (int i = 0; i < 16; ++i) {
        key[i] = static_cast<std::uint8_t>(i);
        iv[i] = static_cast<std::uint8_t>(0xf0 + i);
    }
    SM4Manager m(key, iv);
    key[0] ^= 1;  // copied, not referenced
    key[0] ^= 1;
    pelmo::sm4::CryptSM4 c;
    c.set_key(key, pelmo::sm4::SM4_ENCRYPT);
    const std::string hex = m.encrypt("你好, world");
    EXPECT_EQ(hex, pelmo::detail::to_hex(c.crypt_cbc(iv, "你好, world")));
    EXPECT_EQ(m.decrypt(hex), "你好, world");
    EXPECT_NE(SM4Manager().encrypt("你好, world"), hex);
    EXPECT_EQ(m.key, key);
    EXPECT_EQ(m.iv, iv);
}

TEST(SM4ManagerKey, RefusesOtherLengths) {
    const Bytes ok(16, 1);
    for (std::size_t len : {0u, 15u, 17u, 32u}) {
        const Bytes bad(len, 1);
        EXPECT_THROW(SM4Manager(bad, ok), std::invalid_argument) << len;
        EXPECT_THROW(SM4Manager(ok, bad), std::invalid_argument) << len;
    }
    try {
        SM4Manager(Bytes(15, 0), ok);
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "SM4Manager: the key must be 16 bytes, not 15");
    }
    try {
        SM4Manager(ok, Bytes(8, 0));
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "SM4Manager: the IV must be 16 bytes, not 8");
    }
}

}  // namespace

namespace {

TEST(Version, LibraryAndHeadersAgree) {
    const std::string want = std::to_string(PELMO_VERSION_MAJOR) + "." +
                             std::to_string(PELMO_VERSION_MINOR) + "." +
                             std::to_string(PELMO_VERSION_PATCH);
    EXPECT_EQ(want, PELMO_VERSION_STRING);
    EXPECT_EQ(pelmo::version(), want);
}

}  // namespace
