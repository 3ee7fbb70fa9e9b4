// SM2Manager: key states, signatures of texts, and their edge cases.
#include <pelmo/crypt_managers.hpp>

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "sm2_test_util.hpp"

namespace {

using namespace pelmo::test::sm2;
using pelmo::BigInt;
using pelmo::crypt_managers::SM2Manager;
using pelmo::sm2::CryptSM2;
using pelmo::sm2::default_ecc_table;
using pelmo::test::as_bytes;

bool is_lower_hex(const std::string& s) {
    return s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST(Sm2Manager, FreshManagerCreatesBothKeys) {
    SM2Manager m;
    EXPECT_FALSE(m.private_key.has_value());
    EXPECT_FALSE(m.public_key.has_value());
    const std::string pub = m.get_public_key();
    ASSERT_EQ(pub.size(), 128u);
    EXPECT_TRUE(is_lower_hex(pub));
    ASSERT_TRUE(m.private_key.has_value());
    const std::string priv = m.get_private_key();
    EXPECT_EQ(priv.size(), 64u);
    EXPECT_TRUE(is_lower_hex(priv));
    EXPECT_EQ(m._kg(H(priv), G()), pub);
    EXPECT_EQ(m.get_public_key(), pub);
    EXPECT_EQ(m.get_private_key(), priv);
}

TEST(Sm2Manager, PrivateKeyFirstThenPublic) {
    SM2Manager m;
    const std::string priv = m.get_private_key();
    EXPECT_FALSE(m.public_key.has_value());
    EXPECT_EQ(m.get_public_key(), m._kg(H(priv), G()));
    EXPECT_EQ(m.get_private_key(), priv);
}

TEST(Sm2Manager, CreatedPrivateKeysLieInOneToNMinusTwo) {
    std::set<std::string> seen;
    const int count = 200 / kScale;
    for (int i = 0; i < count; ++i) {
        SM2Manager m;
        const std::string d = m.get_private_key();
        ASSERT_EQ(d.size(), 64u);
        const BigInt v = H(d);
        EXPECT_GE(v, 1);
        EXPECT_LE(v, N() - 2);
        seen.insert(d);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(count));
}

TEST(Sm2Manager, SignaturesAreFreshAndValidate) {
    SM2Manager m;
    m.get_public_key();
    const auto a = m.signature("hello");
    const auto b = m.signature("hello");
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);
    EXPECT_EQ(a->size(), 128u);
    EXPECT_TRUE(m.validate(*a, "hello"));
    EXPECT_TRUE(m.validate(*b, "hello"));
    EXPECT_FALSE(m.validate(*a, "hellp"));
    // The signed integer is the text's octets, unhashed.
    EXPECT_TRUE(CryptSM2(std::nullopt, m.public_key).verify(*a, as_bytes("hello")));
}

TEST(Sm2Manager, PrivateKeyOnlyAndPublicKeyOnly) {
    SM2Manager signer;
    const std::string priv = signer.get_private_key();
    SM2Manager from_priv(priv);
    const std::string pub = from_priv.get_public_key();
    EXPECT_EQ(pub, signer.get_public_key());
    const auto sig = from_priv.signature("a text");
    ASSERT_TRUE(sig);
    SM2Manager from_pub(std::nullopt, pub);
    EXPECT_TRUE(from_pub.validate(*sig, "a text"));
    EXPECT_FALSE(from_pub.private_key.has_value());
    // A private key invented now has nothing to do with the public key.
    const std::string invented = from_pub.get_private_key();
    EXPECT_NE(invented, priv);
    EXPECT_EQ(from_pub.get_public_key(), pub);
    const auto other = from_pub.signature("a text");
    ASSERT_TRUE(other);
    EXPECT_FALSE(from_pub.validate(*other, "a text"));
}

TEST(Sm2Manager, PrefixedPublicKey) {
    SM2Manager signer;
    const std::string pub = signer.get_public_key();
    SM2Manager m(std::nullopt, "04" + pub);
    EXPECT_EQ(m.get_public_key(), pub);
    EXPECT_TRUE(m.validate(*signer.signature("x"), "x"));
}

TEST(Sm2Manager, TextsAreSignedAsUtf8Octets) {
    SM2Manager m;
    m.get_public_key();
    const std::string composed = "caf\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87";     // café 中文
    const std::string decomposed = "cafe\xcc\x81 \xe4\xb8\xad\xe6\x96\x87";  // e + U+0301
    const auto sig = m.signature(composed);
    ASSERT_TRUE(sig);
    EXPECT_TRUE(m.validate(*sig, composed));
    EXPECT_FALSE(m.validate(*sig, decomposed));
    EXPECT_TRUE(CryptSM2(std::nullopt, m.public_key).verify(*sig, as_bytes(composed)));
}

TEST(Sm2Manager, DerForm) {
    SM2Manager m(std::nullopt, std::nullopt, default_ecc_table, 0, true);
    m.get_public_key();
    const auto sig = m.signature("der please");
    ASSERT_TRUE(sig);
    EXPECT_EQ(sig->substr(0, 2), "30");
    EXPECT_TRUE(m.validate(*sig, "der please"));
    EXPECT_FALSE(m.validate(*sig, "der pleas"));
    SM2Manager raw(m.private_key, m.public_key);
    const auto raw_sig = raw.signature("der please");
    EXPECT_THROW(m.validate(*raw_sig, "der please"), std::invalid_argument);
}

TEST(Sm2Manager, CallsThatNeedAbsentKeysFailWithoutCreatingThem) {
    SM2Manager m;
    EXPECT_THROW(m.signature("x"), std::invalid_argument);
    EXPECT_FALSE(m.private_key.has_value());
    EXPECT_THROW(m.validate(std::string(128, '1'), "x"), std::invalid_argument);
    EXPECT_FALSE(m.public_key.has_value());
    m.get_public_key();
    EXPECT_THROW(m.signature(""), std::invalid_argument);
    const auto sig = m.signature("x");
    EXPECT_THROW(m.validate(*sig, ""), std::invalid_argument);
}

TEST(Sm2Manager, FailedDerivationChangesNothing) {
    for (const std::string& d : {std::string("zz"), hex64(N()), hex64(N() + 2), std::string()}) {
        SM2Manager m(d);
        EXPECT_THROW(m.get_public_key(), std::invalid_argument) << d;
        EXPECT_EQ(m.private_key, d);
        EXPECT_FALSE(m.public_key.has_value());
    }
    // d = 0 is read as written: the double-and-add returns G itself.
    SM2Manager zero(std::string(64, '0'));
    EXPECT_EQ(zero.get_public_key(), G());
}

TEST(Sm2Manager, ModeCheck) {
    try {
        SM2Manager m(std::nullopt, std::nullopt, default_ecc_table, 3);
        FAIL();
    } catch (const std::invalid_argument& err) {
        EXPECT_STREQ(err.what(), "mode must be one of (0, 1)");
    }
}

TEST(Sm2Manager, OtherCurveTables) {
    // A small curve of prime order 283: keys of para_len digits in [1, n - 2].
    const pelmo::sm2::EccTable tiny = {
        {"n", "11b"}, {"p", "107"}, {"a", "5"}, {"b", "3"}, {"g", "000017"}};
    std::set<std::string> keys;
    for (int i = 0; i < 60; ++i) {
        SM2Manager m(std::nullopt, std::nullopt, tiny, 0, true);
        const std::string pub = m.get_public_key();
        const std::string d = m.get_private_key();
        ASSERT_EQ(d.size(), 3u);
        ASSERT_GE(H(d), 1);
        ASSERT_LE(H(d), 283 - 2);
        EXPECT_EQ(pub.size(), 6u);
        keys.insert(d);
        const auto sig = m.signature("tiny");
        if (sig) {
            EXPECT_TRUE(m.validate(*sig, "tiny"));
        }
    }
    EXPECT_GT(keys.size(), 30u);
    // An order too small for any key.
    pelmo::sm2::EccTable two = tiny;
    two["n"] = "2";
    SM2Manager m(std::nullopt, std::nullopt, two);
    EXPECT_THROW(m.get_private_key(), std::invalid_argument);
}

TEST(Sm2Manager, ConstOperationsFromSeveralThreads) {
    SM2Manager m;
    m.get_public_key();
    const SM2Manager& shared = m;
    std::vector<std::thread> threads;
    std::vector<int> ok(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                const std::string text = "thread " + std::to_string(t) + " " + std::to_string(i);
                const auto sig = shared.signature(text);
                if (sig && shared.validate(*sig, text) && !shared.validate(*sig, text + "x"))
                    ++ok[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(ok[t], 5);
}

}  // namespace
