// _sm3_z, sign_with_sm3 and verify_with_sm3: the standard's example, Z against an
// independent computation, edge cases, failures, and OpenSSL in both directions.
#include <pelmo/crypt_managers.hpp>
#include <pelmo/func.hpp>
#include <pelmo/sm2.hpp>
#include <pelmo/sm3.hpp>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <stdexcept>

#include "openssl_sm2.hpp"
#include "sm2/der.hpp"
#include "sm2_test_util.hpp"
#include "support/example_keys.hpp"

namespace {

using namespace pelmo::test::sm2;
using pelmo::Bytes;
using pelmo::ByteView;
using pelmo::crypt_managers::SM2Manager;
using pelmo::sm2::CryptSM2;
using pelmo::sm2::default_ecc_table;
using pelmo::sm2::EccTable;
using pelmo::test::as_bytes;
using pelmo::test::random_bytes;

// GM/T 0003.5 signature example, with the identity "1234567812345678".
const std::string kD = pelmo::test::upper(pelmo::test::kExamplePrivateKey);
const std::string kPub = pelmo::test::upper(pelmo::test::kExamplePublicKey);
const std::string kK = "59276E27D506861A16680F3AD9C02DCCEF3CC1FA3CDBE4CE6D54B80DEAC1BC21";
const std::string kE = "F0B43E94BA45ACCAACE692ED534382EB17E6AB5A19CE7B31F4486FDFC0D28640";
const std::string kR = "F5A03B0648D2C4630EEAC513E1BB81A15944DA3827D5B74143AC7EACEEE720B3";
const std::string kS = "B1B6AA29DF212FD8763182BC0D421CA1BB9038FD1F7F42D4840B69C485BBC1AA";
const std::string kId = "1234567812345678";

Bytes unhex(std::string_view h) {
    return pelmo::detail::from_hex(h);
}

// SM3 by OpenSSL, so that Z is checked against a second implementation of the hash.
Bytes openssl_sm3(ByteView data) {
    Bytes out(32);
    unsigned int len = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_sm3(), nullptr), 1);
    return out;
}

// SM3(Z || M) with Z over ENTL || ID || a || b || xG || yG || xA || yA.
std::string expected_z_digest(const EccTable& t, const std::string& pub, ByteView msg) {
    Bytes z_in = {0x00, 0x80};
    z_in.insert(z_in.end(), kId.begin(), kId.end());
    for (const std::string& part : {t.at("a"), t.at("b"), t.at("g"), pub}) {
        const Bytes v = unhex(part);
        z_in.insert(z_in.end(), v.begin(), v.end());
    }
    Bytes m = openssl_sm3(z_in);
    m.insert(m.end(), msg.begin(), msg.end());
    return pelmo::detail::to_hex(openssl_sm3(m));
}

struct KeyPair {
    std::string priv, pub;
};
KeyPair fresh_keys() {
    SM2Manager m;
    const std::string pub = m.get_public_key();
    return {m.get_private_key(), pub};
}

TEST(Sm2Sm3Sign, StandardExample) {
    const CryptSM2 e(kD, kPub);
    const auto msg = as_bytes("message digest");
    EXPECT_EQ(e._sm3_z(msg), lower(kE));
    EXPECT_EQ(e.sign_with_sm3(msg, kK), lower(kR + kS));
    EXPECT_EQ(e.sign_with_sm3(msg, lower(kK)), lower(kR + kS));
    EXPECT_TRUE(e.verify_with_sm3(kR + kS, msg));
    const CryptSM2 der(kD, kPub, default_ecc_table, 0, true);
    const std::string want_der = "3046022100" + lower(kR) + "022100" + lower(kS);
    EXPECT_EQ(der.sign_with_sm3(msg, kK), want_der);
    EXPECT_TRUE(der.verify_with_sm3(want_der, msg));
    EXPECT_FALSE(der.verify_with_sm3(want_der, as_bytes("message digesT")));
}

TEST(Sm2Sm3Sign, IdentityDigestMatchesAnIndependentComputation) {
    for (int i = 0; i < 8; ++i) {
        const KeyPair kp = fresh_keys();
        const CryptSM2 e(std::nullopt, kp.pub);
        const Bytes msg = random_bytes(static_cast<std::size_t>(i) * 37);
        EXPECT_EQ(e._sm3_z(msg), expected_z_digest(default_ecc_table, kp.pub, msg));
    }
    // The letter case of the table entries and of the key has no effect.
    const KeyPair kp = fresh_keys();
    EccTable mixed = default_ecc_table;
    mixed["a"] = lower(mixed["a"]);
    mixed["g"] = upper(mixed["g"]);
    const auto msg = as_bytes("case");
    const std::string z = CryptSM2(std::nullopt, kp.pub)._sm3_z(msg);
    EXPECT_EQ(CryptSM2(std::nullopt, upper(kp.pub))._sm3_z(msg), z);
    EXPECT_EQ(CryptSM2(std::nullopt, "04" + kp.pub)._sm3_z(msg), z);
    EXPECT_EQ(CryptSM2(std::nullopt, kp.pub, mixed)._sm3_z(msg), z);
    // The entries enter as written: a leading "00" is an octet of Z's input, although
    // the table is still the recommended curve in value.
    EccTable padded = default_ecc_table;
    padded["a"] = "00" + padded["a"];
    const CryptSM2 with_padding(std::nullopt, kp.pub, padded);
    EXPECT_TRUE(curve_of(with_padding).recommended);
    EXPECT_EQ(with_padding._sm3_z(msg), expected_z_digest(padded, kp.pub, msg));
    EXPECT_NE(with_padding._sm3_z(msg), z);
}

TEST(Sm2Sm3Sign, EmptyAndLongMessages) {
    const KeyPair kp = fresh_keys();
    const CryptSM2 e(kp.priv, kp.pub);
    const auto sig = e.sign_with_sm3(Bytes{});
    ASSERT_TRUE(sig.has_value());
    EXPECT_TRUE(e.verify_with_sm3(*sig, Bytes{}));
    EXPECT_FALSE(e.verify_with_sm3(*sig, Bytes{0}));
    EXPECT_EQ(e._sm3_z(Bytes{}), expected_z_digest(default_ecc_table, kp.pub, Bytes{}));
    // A long message is hashed whole: its first 32 octets are not the same message.
    const Bytes long_msg = random_bytes(1000);
    const auto long_sig = e.sign_with_sm3(long_msg);
    ASSERT_TRUE(long_sig.has_value());
    EXPECT_TRUE(e.verify_with_sm3(*long_sig, long_msg));
    EXPECT_FALSE(e.verify_with_sm3(*long_sig, ByteView(long_msg).first(32)));
}

TEST(Sm2Sm3Sign, GivenScalarReproducesFreshScalarsDiffer) {
    const KeyPair kp = fresh_keys();
    const CryptSM2 e(kp.priv, kp.pub);
    const auto msg = as_bytes("reproducible");
    const std::string k = pelmo::func::random_hex(64);
    EXPECT_EQ(e.sign_with_sm3(msg, k), e.sign_with_sm3(msg, k));
    // It is sign() over the digest.
    EXPECT_EQ(e.sign_with_sm3(msg, k), e.sign(unhex(e._sm3_z(msg)), k));
    const auto a = e.sign_with_sm3(msg), b = e.sign_with_sm3(msg);
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);
    EXPECT_TRUE(e.verify_with_sm3(*a, msg));
    EXPECT_TRUE(e.verify_with_sm3(*b, msg));
}

TEST(Sm2Sm3Sign, ChangedMessageOrOtherKeyFails) {
    const KeyPair kp = fresh_keys(), other = fresh_keys();
    const CryptSM2 e(kp.priv, kp.pub);
    Bytes msg = random_bytes(50);
    const std::string sig = *e.sign_with_sm3(msg);
    EXPECT_TRUE(e.verify_with_sm3(sig, msg));
    for (std::size_t i : {0u, 17u, 49u}) {
        Bytes bad = msg;
        bad[i] ^= 0x01;
        EXPECT_FALSE(e.verify_with_sm3(sig, bad));
    }
    EXPECT_FALSE(CryptSM2(std::nullopt, other.pub).verify_with_sm3(sig, msg));
    // It is a raw signature of the digest SM3(Z || M), not of M.
    EXPECT_TRUE(e.verify(sig, unhex(e._sm3_z(msg))));
    EXPECT_FALSE(e.verify(sig, msg));
}

TEST(Sm2Sm3Sign, Failures) {
    const KeyPair kp = fresh_keys();
    const auto msg = as_bytes("m");
    const CryptSM2 private_only(kp.priv, std::nullopt);
    EXPECT_THROW(private_only._sm3_z(msg), std::invalid_argument);
    EXPECT_THROW(private_only.sign_with_sm3(msg), std::invalid_argument);
    EXPECT_THROW(private_only.verify_with_sm3(std::string(128, '1'), msg), std::invalid_argument);
    const CryptSM2 public_only(std::nullopt, kp.pub);
    EXPECT_THROW(public_only.sign_with_sm3(msg), std::invalid_argument);
    EXPECT_THROW(public_only.sign_with_sm3(msg, kK), std::invalid_argument);
    const CryptSM2 e(kp.priv, kp.pub);
    EXPECT_THROW(e.sign_with_sm3(msg, "xyz"), std::invalid_argument);
    EXPECT_THROW(e.verify_with_sm3("zz", msg), std::invalid_argument);
    // A public key that is not hexadecimal, or has an odd number of digits.
    try {
        CryptSM2(std::nullopt, kp.pub.substr(0, 5) + "g" + kp.pub.substr(6))._sm3_z(msg);
        ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& ex) {
        EXPECT_NE(std::string(ex.what()).find("'g' at position 5"), std::string::npos) << ex.what();
    }
    EXPECT_THROW(CryptSM2(std::nullopt, kp.pub.substr(1))._sm3_z(msg), std::invalid_argument);
    // A table without "b" cannot form Z.
    EccTable no_b = default_ecc_table;
    no_b.erase("b");
    EXPECT_THROW(CryptSM2(kp.priv, kp.pub, no_b)._sm3_z(msg), std::out_of_range);
    EXPECT_EQ(e.private_key, kp.priv);
    EXPECT_EQ(e.public_key, kp.pub);
}

TEST(Sm2Sm3Sign, OddWidthTableEntriesJoinBeforeDecoding) {
    // A tiny curve (y^2 = x^3 + 5x + 3 over 263 elements) whose "a" and "b" are one
    // digit each: Z's octets straddle the entries.
    const EccTable t = {{"n", "11b"}, {"p", "107"}, {"a", "5"}, {"b", "3"}, {"g", "001003"}};
    // (DER signatures: the raw form is written 64 digits wide but read para_len wide.)
    SM2Manager m(std::nullopt, std::nullopt, t, 0, true);
    const std::string pub = m.get_public_key();
    const auto msg = as_bytes("tiny");
    Bytes z_in = unhex("008031323334353637383132333435363738" + std::string("53") + "001003" + pub);
    Bytes m_in = openssl_sm3(z_in);
    m_in.insert(m_in.end(), msg.begin(), msg.end());
    EXPECT_EQ(m._sm3_z(msg), pelmo::detail::to_hex(openssl_sm3(m_in)));
    int verified = 0;
    for (int i = 0; i < 5; ++i) {
        const auto sig = m.sign_with_sm3(msg);
        if (!sig) continue;  // r = 0 or s = 0 happen on a curve this small
        EXPECT_TRUE(m.verify_with_sm3(*sig, msg));
        ++verified;
    }
    EXPECT_GT(verified, 0);
    // An odd total number of digits cannot be decoded.
    EccTable odd = t;
    odd["b"] = "03";
    EXPECT_THROW(CryptSM2(std::nullopt, pub, odd)._sm3_z(msg), std::invalid_argument);
}

TEST(Sm2Sm3Sign, ManagerSignsWithSm3) {
    SM2Manager m;
    m.get_public_key();
    const auto msg = as_bytes("manager");
    const auto sig = m.sign_with_sm3(msg);
    ASSERT_TRUE(sig.has_value());
    EXPECT_TRUE(m.verify_with_sm3(*sig, msg));
}

TEST(Sm2Sm3Sign, OpenSSLSignaturesVerify) {
    std::string priv, pub;
    const auto key = sm2_generate(priv, pub);
    const CryptSM2 der(std::nullopt, pub, default_ecc_table, 0, true);
    for (std::size_t len : {0u, 1u, 32u, 100u}) {
        const Bytes msg = random_bytes(len);
        const Bytes sig = sign_sm3(key.get(), msg, kId);
        EXPECT_TRUE(der.verify_with_sm3(pelmo::detail::to_hex(sig), msg)) << len;
        Bytes other = msg;
        other.push_back(1);
        EXPECT_FALSE(der.verify_with_sm3(pelmo::detail::to_hex(sig), other));
    }
    // OpenSSL's own default identity is empty: such a signature is over another Z.
    const Bytes msg = random_bytes(20);
    EXPECT_FALSE(der.verify_with_sm3(pelmo::detail::to_hex(sign_sm3(key.get(), msg, "")), msg));
}

TEST(Sm2Sm3Sign, SignaturesVerifyWithOpenSSL) {
    const KeyPair kp = fresh_keys();
    const auto key = sm2_key("", kp.pub);
    const CryptSM2 der(kp.priv, kp.pub, default_ecc_table, 0, true);
    const CryptSM2 raw(kp.priv, kp.pub);
    for (std::size_t len : {0u, 1u, 32u, 100u}) {
        const Bytes msg = random_bytes(len);
        const auto sig = der.sign_with_sm3(msg);
        ASSERT_TRUE(sig.has_value());
        EXPECT_TRUE(verify_sm3(key.get(), msg, unhex(*sig), kId)) << len;
        EXPECT_FALSE(verify_sm3(key.get(), msg, unhex(*sig), "1234567812345679"));
        // The raw form carries the same (r, s).
        const std::string k = pelmo::func::random_hex(64);
        const std::string r_s = *raw.sign_with_sm3(msg, k);
        const auto decoded =
            pelmo::detail::sm2::der::decode_signature(unhex(*der.sign_with_sm3(msg, k)));
        EXPECT_EQ(H(pelmo::detail::to_hex(decoded.r)), H(r_s.substr(0, 64)));
        EXPECT_EQ(H(pelmo::detail::to_hex(decoded.s)), H(r_s.substr(64)));
    }
}

}  // namespace
