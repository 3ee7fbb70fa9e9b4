// recover_public_keys: signatures from sign, sign_with_sm3 and SM2Manager, the
// recovery byte in all its forms, failures and degenerate signatures, other tables,
// and the fixed-width path against the generic one.
#include <pelmo/crypt_managers.hpp>
#include <pelmo/func.hpp>
#include <pelmo/sm2.hpp>

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "sm2/recover.hpp"
#include "sm2_test_util.hpp"

namespace {

using namespace pelmo::test::sm2;
using pelmo::BigInt;
using pelmo::Bytes;
using pelmo::ByteView;
using pelmo::crypt_managers::SM2Manager;
using pelmo::sm2::CryptSM2;
using pelmo::sm2::default_ecc_table;
using pelmo::sm2::EccTable;
using pelmo::test::as_bytes;
using pelmo::test::random_bytes;
namespace sm2d = pelmo::detail::sm2;

const std::string kNoPoint = "y*y == g (mod p) 验证失败";

Bytes unhex(std::string_view h) {
    return pelmo::detail::from_hex(h);
}
BigInt mod_n(const BigInt& v) {
    BigInt r;
    mpz_mod(r.get_mpz_t(), v.get_mpz_t(), N().get_mpz_t());
    return r;
}

struct KeyPair {
    std::string priv, pub;
};
KeyPair fresh_keys(const EccTable& table = default_ecc_table) {
    SM2Manager m(std::nullopt, std::nullopt, table);
    const std::string pub = m.get_public_key();
    return {m.get_private_key(), pub};
}

// A raw signature of data with a known k, and the recovery byte of R = [k]G.
struct Signed {
    std::string sig;
    int v;
};
Signed sign_known(const CryptSM2& e, ByteView data) {
    for (;;) {
        const std::string k = pelmo::func::random_hex(e.para_len());
        std::optional<std::string> sig;
        try {
            sig = e.sign(data, k);
        } catch (const std::invalid_argument&) {  // [k]G has no value (tiny curves)
        }
        if (!sig) continue;
        const std::string R = *e._kg(H(k), e.ecc_table().at("g"));
        const int odd = pelmo::detail::hex_digit_value(static_cast<unsigned char>(R.back())) & 1;
        return {*sig, 27 + odd};
    }
}

std::string hex_byte(int v) {
    return pelmo::detail::int_to_hex(v, 2);
}

TEST(Sm2Recover, SignatureFromSign) {
    const CryptSM2 reader(std::nullopt, std::nullopt);
    for (int i = 0; i < 6; ++i) {
        const KeyPair kp = fresh_keys();
        const CryptSM2 e(kp.priv, kp.pub);
        const Bytes data = random_bytes(i == 0 ? 1 : 32 + static_cast<std::size_t>(i) * 9);
        const Signed s = sign_known(e, data);
        const auto both = reader.recover_public_keys(s.sig, data);
        ASSERT_EQ(both.size(), 2u);
        EXPECT_TRUE(both.contains(kp.pub));
        // The right recovery byte gives exactly the signer's key, the other one the other.
        EXPECT_EQ(reader.recover_public_keys(s.sig, data, s.v), std::set<std::string>{kp.pub});
        const auto other = reader.recover_public_keys(s.sig, data, 55 - s.v);
        ASSERT_EQ(other.size(), 1u);
        EXPECT_FALSE(other.contains(kp.pub));
        EXPECT_TRUE(both.contains(*other.begin()));
        // The byte as a suffix of the text, in either case, and winning over v.
        EXPECT_EQ(reader.recover_public_keys(s.sig + hex_byte(s.v), data),
                  std::set<std::string>{kp.pub});
        EXPECT_EQ(reader.recover_public_keys(upper(s.sig + hex_byte(s.v)), data, 55 - s.v),
                  std::set<std::string>{kp.pub});
        // v = 0 and "00" try both.
        EXPECT_EQ(reader.recover_public_keys(s.sig, data, 0), both);
        EXPECT_EQ(reader.recover_public_keys(s.sig + "00", data, s.v), both);
        // Characters after the byte are ignored.
        EXPECT_EQ(reader.recover_public_keys(s.sig + hex_byte(s.v) + "zz", data),
                  std::set<std::string>{kp.pub});
    }
}

TEST(Sm2Recover, SignatureFromSignWithSm3) {
    const KeyPair kp = fresh_keys();
    const CryptSM2 e(kp.priv, kp.pub);
    const auto msg = as_bytes("recover me");
    const std::string sig = *e.sign_with_sm3(msg);
    const Bytes digest = unhex(e._sm3_z(msg));
    const auto keys = CryptSM2(std::nullopt, std::nullopt).recover_public_keys(sig, digest);
    EXPECT_EQ(keys.size(), 2u);
    EXPECT_TRUE(keys.contains(kp.pub));
    // The key recovered verifies the signature; the other candidate does not.
    for (const std::string& key : keys)
        EXPECT_EQ(CryptSM2(std::nullopt, key).verify_with_sm3(sig, msg), key == kp.pub);
}

TEST(Sm2Recover, SignatureFromManager) {
    SM2Manager m;
    const std::string pub = m.get_public_key();
    const std::string text = "签名 and recovery";
    const auto sig = m.signature(text);
    ASSERT_TRUE(sig.has_value());
    const auto keys = m.recover_public_keys(*sig, as_bytes(text));
    EXPECT_EQ(keys.size(), 2u);
    EXPECT_TRUE(keys.contains(pub));
    int found = 0;
    for (int v : {27, 28}) found += m.recover_public_keys(*sig, as_bytes(text), v).contains(pub);
    EXPECT_EQ(found, 1);
}

TEST(Sm2Recover, KeysAreLowerCaseAffineText) {
    const KeyPair kp = fresh_keys();
    const CryptSM2 e(kp.priv, kp.pub);
    const Bytes data = random_bytes(32);
    for (const std::string& key : e.recover_public_keys(sign_known(e, data).sig, data)) {
        EXPECT_EQ(key.size(), 128u);
        EXPECT_EQ(key, lower(key));
        EXPECT_TRUE(e._kg(1, key).has_value());
    }
}

TEST(Sm2Recover, WrongDataGivesOtherKeysOrTheError) {
    const KeyPair kp = fresh_keys();
    const CryptSM2 e(kp.priv, kp.pub);
    const Bytes data = random_bytes(32);
    const std::string sig = sign_known(e, data).sig;
    int errors = 0, other_keys = 0;
    for (int i = 0; i < 24; ++i) {
        Bytes wrong = data;
        wrong[static_cast<std::size_t>(i) % 32] ^= static_cast<std::uint8_t>(1 + i);
        try {
            const auto keys = e.recover_public_keys(sig, wrong);
            EXPECT_FALSE(keys.contains(kp.pub));
            ++other_keys;
        } catch (const std::invalid_argument& ex) {
            EXPECT_EQ(std::string(ex.what()), kNoPoint);
            ++errors;
        }
    }
    // About half of all x have no point; both outcomes occur.
    EXPECT_GT(errors, 0);
    EXPECT_GT(other_keys, 0);
}

TEST(Sm2Recover, DegenerateSignaturesThrow) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    const Bytes data = random_bytes(32);
    const BigInt e_val = H(pelmo::detail::to_hex(data));
    // The signature (r, s) for which R = [s]G or R = -[s]G, where [s]G - R has no value.
    for (int i = 0; i < 3; ++i) {
        const BigInt s = random_below_pow2(255) + 1;
        const std::string sG = *e._kg(s, G());
        const BigInt x = H(sG.substr(0, 64));
        ASSERT_LT(x, N());
        const std::string sig = hex64(mod_n(x + e_val)) + hex64(s);
        for (std::optional<int> v : {std::optional<int>{}, std::optional<int>{27},
                                     std::optional<int>{28}, std::optional<int>{29}}) {
            try {
                e.recover_public_keys(sig, data, v);
                ADD_FAILURE() << "no exception";
            } catch (const std::invalid_argument& ex) {
                EXPECT_NE(std::string(ex.what()).find("degenerate"), std::string::npos);
            }
        }
    }
    // (r + s) mod n = 0, for an r that has a point.
    for (;;) {
        const BigInt r = random_below_pow2(255) + 1;
        const std::string sig = hex64(r) + hex64(N() - r);
        try {
            e.recover_public_keys(sig, data);
            ADD_FAILURE() << "no exception";
        } catch (const std::invalid_argument& ex) {
            if (std::string(ex.what()) == kNoPoint) continue;
            EXPECT_NE(std::string(ex.what()).find("degenerate"), std::string::npos) << ex.what();
        }
        break;
    }
    // s = n and s = n + 2: [s]G has no value.
    for (const BigInt& s : {BigInt(N()), BigInt(N() + 2)}) {
        for (;;) {
            const BigInt r = random_below_pow2(255) + 1;
            try {
                e.recover_public_keys(hex64(r) + hex64(s), data);
                ADD_FAILURE() << "no exception";
            } catch (const std::invalid_argument& ex) {
                if (std::string(ex.what()) == kNoPoint) continue;
                EXPECT_NE(std::string(ex.what()).find("degenerate"), std::string::npos);
            }
            break;
        }
    }
}

TEST(Sm2Recover, Failures) {
    const KeyPair kp = fresh_keys();
    const CryptSM2 e(kp.priv, kp.pub);
    const Bytes data = random_bytes(32);
    const std::string sig = sign_known(e, data).sig;
    EXPECT_THROW(e.recover_public_keys(sig, Bytes{}), std::invalid_argument);
    EXPECT_THROW(e.recover_public_keys(sig.substr(0, 64), data), std::invalid_argument);
    EXPECT_THROW(e.recover_public_keys("", data), std::invalid_argument);
    EXPECT_THROW(e.recover_public_keys("g" + sig.substr(1), data), std::invalid_argument);
    EXPECT_THROW(e.recover_public_keys(sig.substr(0, 100) + "x" + sig.substr(101), data),
                 std::invalid_argument);
    EXPECT_THROW(e.recover_public_keys(sig + "zz", data), std::invalid_argument);
    EXPECT_THROW(e.recover_public_keys(sig + "1z", data), std::invalid_argument);
    // The error for an x without a point, word for word.
    for (int i = 0;; ++i) {
        ASSERT_LT(i, 100);
        const Bytes other = random_bytes(32);
        try {
            e.recover_public_keys(sig, other);
        } catch (const std::invalid_argument& ex) {
            EXPECT_EQ(std::string(ex.what()), kNoPoint);
            break;
        }
    }
}

TEST(Sm2Recover, UnusualRecoveryBytes) {
    // A byte other than 27 and 28 negates y once and still gives one key, one of the
    // two candidates.
    const KeyPair kp = fresh_keys();
    const CryptSM2 e(kp.priv, kp.pub);
    const Bytes data = random_bytes(32);
    const std::string sig = sign_known(e, data).sig;
    const auto both = e.recover_public_keys(sig, data);
    for (int v : {1, 26, 29, 255, -3}) {
        const auto one = e.recover_public_keys(sig, data, v);
        ASSERT_EQ(one.size(), 1u) << v;
        EXPECT_TRUE(both.contains(*one.begin())) << v;
    }
    // A one-digit suffix is the byte 1..15.
    EXPECT_EQ(e.recover_public_keys(sig + "1", data), e.recover_public_keys(sig, data, 1));
}

TEST(Sm2Recover, FastPathMatchesGenericPath) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    const auto& c = curve_of(e);
    const auto agree = [&](const std::string& sig, ByteView data, std::optional<int> v) {
        std::optional<std::set<std::string>> fast, generic;
        std::string fast_error, generic_error;
        try {
            fast = sm2d::fast::recover(sig, data, v);
            if (!fast) return;  // left to the generic path
        } catch (const std::invalid_argument& ex) {
            fast_error = ex.what();
        }
        try {
            generic = sm2d::generic::recover(c, sig, data, v);
        } catch (const std::invalid_argument& ex) {
            generic_error = ex.what();
        }
        EXPECT_EQ(fast, generic) << sig;
        EXPECT_EQ(fast_error.empty(), generic_error.empty())
            << fast_error << " / " << generic_error;
        if (fast_error == kNoPoint || generic_error == kNoPoint) {
            EXPECT_EQ(fast_error, generic_error);
        }
    };
    for (int i = 0; i < 12 / kScale + 2; ++i) {
        const KeyPair kp = fresh_keys();
        const CryptSM2 signer(kp.priv, kp.pub);
        const Bytes data = random_bytes(i % 3 == 0 ? 40 : 32);
        const Signed s = sign_known(signer, data);
        for (std::optional<int> v : {std::optional<int>{}, std::optional<int>{0},
                                     std::optional<int>{27}, std::optional<int>{28}})
            agree(s.sig, data, v);
        agree(s.sig + "1C", data, std::nullopt);
        // Random (r, s), r and s of n or more, and s = 0 ([s]G is then G itself).
        const std::string r_text = s.sig.substr(0, 64);
        agree(pelmo::func::random_hex(128), data, std::nullopt);
        agree(hex64(H(r_text) + N()), data, std::nullopt);
        agree(r_text + hex64(0), data, std::nullopt);
        agree(r_text + hex64(N() + 1), data, 27);
        agree(r_text + hex64(two_256() - 1), data, 28);
        // R = +-[s]G: both paths refuse.
        const BigInt sv = random_below_pow2(250) + 1;
        const BigInt x = H(e._kg(sv, G())->substr(0, 64));
        const std::string degenerate = hex64(mod_n(x + H(pelmo::detail::to_hex(data)))) + hex64(sv);
        agree(degenerate, data, std::nullopt);
        agree(degenerate, data, 28);
    }
}

TEST(Sm2Recover, OtherCurveTables) {
    // 2G as base point: the generic path throughout.
    EccTable t = default_ecc_table;
    t["g"] = *CryptSM2(std::nullopt, std::nullopt)._kg(2, G());
    const KeyPair kp = fresh_keys(t);
    const CryptSM2 e(kp.priv, kp.pub, t);
    const Bytes data = random_bytes(32);
    const Signed s = sign_known(e, data);
    EXPECT_TRUE(e.recover_public_keys(s.sig, data).contains(kp.pub));
    EXPECT_EQ(e.recover_public_keys(s.sig, data, s.v), std::set<std::string>{kp.pub});
    // A tiny curve (p = 263, n = 283): x of R is below p < n, so r - e gives it back.
    const EccTable tiny = {{"n", "11b"}, {"p", "107"}, {"a", "5"}, {"b", "3"}, {"g", "001003"}};
    int recovered = 0;
    for (int i = 0; i < 8; ++i) {
        const KeyPair small = fresh_keys(tiny);
        const CryptSM2 te(small.priv, small.pub, tiny);
        const Bytes d2 = random_bytes(2);
        const Signed ts = sign_known(te, d2);
        // sign writes 64-digit fields; recovery reads para_len digits, so rewrite.
        const std::string sig = ts.sig.substr(61, 3) + ts.sig.substr(125, 3);
        try {
            const auto keys = te.recover_public_keys(sig, d2);
            EXPECT_TRUE(keys.contains(small.pub));
            ++recovered;
        } catch (const std::invalid_argument& ex) {
            // [s]G - R meets infinity more often on a curve this small.
            EXPECT_NE(std::string(ex.what()).find("degenerate"), std::string::npos);
        }
    }
    EXPECT_GT(recovered, 0);
}

}  // namespace
