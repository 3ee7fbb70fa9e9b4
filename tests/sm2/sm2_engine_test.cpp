// CryptSM2 construction and the point operations on the recommended curve.
#include <pelmo/sm2.hpp>

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "sm2/generic/point_ops.hpp"
#include "sm2_test_util.hpp"

namespace {

using namespace pelmo::test::sm2;
using pelmo::BigInt;
using pelmo::sm2::CryptSM2;
using pelmo::sm2::default_ecc_table;
using pelmo::sm2::EccTable;
namespace generic = pelmo::detail::sm2::generic;

const std::string kX128 = std::string(G());

TEST(Sm2Construct, DefaultTable) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    EXPECT_EQ(e.para_len(), 64);
    EXPECT_EQ(e.ecc_a3(), 0);
    EXPECT_EQ(e.ecc_table(), default_ecc_table);
    EXPECT_EQ(e.mode, 0);
    EXPECT_FALSE(e.asn1);
    EXPECT_FALSE(e.private_key.has_value());
    EXPECT_FALSE(e.public_key.has_value());
    EXPECT_TRUE(curve_of(e).recommended);
}

TEST(Sm2Construct, KeysAreStoredAsGiven) {
    const CryptSM2 e(std::string("not even hex"), std::string("xyz"), default_ecc_table, 1, true);
    EXPECT_EQ(*e.private_key, "not even hex");
    EXPECT_EQ(*e.public_key, "xyz");
    EXPECT_EQ(e.mode, 1);
    EXPECT_TRUE(e.asn1);
    const CryptSM2 empty{std::string(), std::string()};
    EXPECT_EQ(*empty.public_key, "");
}

TEST(Sm2Construct, PrefixRuleUsesTheFixedLength130) {
    const std::string key = kX128;
    EXPECT_EQ(*CryptSM2(std::nullopt, "04" + key).public_key, key);
    // 128 digits that happen to start with "04" are a whole key.
    const std::string starts04 = "04" + key.substr(2);
    EXPECT_EQ(*CryptSM2(std::nullopt, starts04).public_key, starts04);
    // Any other length keeps its prefix, even where 2 + 2 * para_len would match.
    EXPECT_EQ(*CryptSM2(std::nullopt, "04" + key + "0").public_key, "04" + key + "0");
    EXPECT_EQ(*CryptSM2(std::nullopt, "05" + key).public_key, "05" + key);
    EccTable tiny = {{"n", "11b"}, {"p", "107"}, {"a", "5"}, {"b", "3"}, {"g", "000000"}};
    const std::string six = "04abcdef";
    EXPECT_EQ(*CryptSM2(std::nullopt, six, tiny).public_key, six);
    EXPECT_EQ(*CryptSM2(std::nullopt, "04" + key, tiny).public_key, key);
}

TEST(Sm2Construct, ModeCheck) {
    for (int mode : {2, -1, 7}) {
        try {
            CryptSM2 e(std::nullopt, std::nullopt, default_ecc_table, mode);
            FAIL() << "mode " << mode << " accepted";
        } catch (const std::invalid_argument& err) {
            EXPECT_STREQ(err.what(), "mode must be one of (0, 1)");
        }
    }
    EXPECT_NO_THROW(CryptSM2(std::nullopt, std::nullopt, default_ecc_table, 1));
}

TEST(Sm2Construct, TableIsReadBeforeTheModeCheck) {
    for (const char* key : {"n", "a", "p"}) {
        EccTable t = default_ecc_table;
        t.erase(key);
        EXPECT_THROW(CryptSM2(std::nullopt, std::nullopt, t, 5), std::out_of_range) << key;
    }
    for (const char* key : {"a", "p"}) {
        EccTable t = default_ecc_table;
        t[key] = "12g4";
        try {
            CryptSM2(std::nullopt, std::nullopt, t, 5);
            FAIL();
        } catch (const std::invalid_argument& err) {
            EXPECT_NE(std::string(err.what()).find("'g' at position 2"), std::string::npos)
                << err.what();
        }
    }
    EccTable zero_p = default_ecc_table;
    zero_p["p"] = "0";
    EXPECT_THROW(CryptSM2(std::nullopt, std::nullopt, zero_p), std::domain_error);
}

TEST(Sm2Construct, OnlyWhatIsUsedMustParse) {
    // "g" and "b" are not read at construction, and "n" only for its length.
    EccTable t = default_ecc_table;
    t.erase("g");
    t.erase("b");
    t["n"] = std::string(64, 'z');
    const CryptSM2 e(std::string("01"), std::nullopt, t);
    EXPECT_EQ(e.para_len(), 64);
    EXPECT_FALSE(curve_of(e).recommended);
    const std::uint8_t one = 1;
    EXPECT_THROW(e.sign(pelmo::ByteView(&one, 1), "01"), std::invalid_argument);  // n
    t["n"] = default_ecc_table.at("n");
    const CryptSM2 f(std::string("01"), std::nullopt, t);
    EXPECT_THROW(f.sign(pelmo::ByteView(&one, 1), "01"), std::out_of_range);  // g
}

TEST(Sm2Construct, ParaLenAndA3FollowTheTable) {
    const EccTable tiny = {{"n", "11b"}, {"p", "107"}, {"a", "5"}, {"b", "3"}, {"g", "000000"}};
    const CryptSM2 e(std::nullopt, std::nullopt, tiny);
    EXPECT_EQ(e.para_len(), 3);
    EXPECT_EQ(e.ecc_a3(), 8);
    EccTable wide = tiny;
    wide["n"] = "0011b";
    wide["a"] = "106";  // a + 3 wraps mod p
    const CryptSM2 f(std::nullopt, std::nullopt, wide);
    EXPECT_EQ(f.para_len(), 5);
    EXPECT_EQ(f.ecc_a3(), 2);
}

TEST(Sm2Construct, RecommendedCurveIsRecognisedByValue) {
    EccTable t;
    for (const auto& [k, v] : default_ecc_table) t[k] = k == "g" ? upper(v) : lower(v);
    t["comment"] = "extra keys are ignored";
    EXPECT_TRUE(curve_of(CryptSM2(std::nullopt, std::nullopt, t)).recommended);
    EXPECT_EQ(CryptSM2(std::nullopt, std::nullopt, t).ecc_table(), t);
    EccTable other_b = default_ecc_table;
    other_b["b"] = "1";
    EXPECT_FALSE(curve_of(CryptSM2(std::nullopt, std::nullopt, other_b)).recommended);
    EccTable padded_n = default_ecc_table;
    padded_n["n"] = "0" + padded_n["n"];
    EXPECT_FALSE(curve_of(CryptSM2(std::nullopt, std::nullopt, padded_n)).recommended);
    EccTable prefixed_g = default_ecc_table;
    prefixed_g["g"] = "04" + prefixed_g["g"];
    EXPECT_FALSE(curve_of(CryptSM2(std::nullopt, std::nullopt, prefixed_g)).recommended);
}

TEST(Sm2Construct, CopiesShareTheTableAndMovesLeaveAWorkingEngine) {
    CryptSM2 a(std::string("01"), std::nullopt);
    CryptSM2 b = a;
    CryptSM2 c = std::move(a);
    EXPECT_EQ(b._kg(1, G()), G());
    EXPECT_EQ(c._kg(1, G()), G());
    EXPECT_EQ(a._kg(1, G()), G());  // NOLINT(bugprone-use-after-move): still usable
}

// _kg on the recommended curve.

TEST(Sm2Kg, SmallMultiplesOfG) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    EXPECT_EQ(e._kg(1, G()), G());
    EXPECT_EQ(e._kg(3, G()),
              "a97f7cd4b3c993b4be2daa8cdb41e24ca13f6bd945302244e26918f1d0509ebf"
              "530b5dd88c688ef5ccc5cec08a72150f7c400ee5cd045292aaacdd037458f6e6");
}

TEST(Sm2Kg, ZeroReturnsThePointRewritten) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    EXPECT_EQ(e._kg(0, upper(G())), G());
    EXPECT_EQ(e._kg(two_256(), upper(G())), G());
    // Off the curve, too: zero-padded and lower case.
    const std::string off = hex64(5) + hex64(7);
    EXPECT_EQ(e._kg(0, upper(off)), off);
}

TEST(Sm2Kg, OrderBoundaries) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    const BigInt& n = N();
    EXPECT_FALSE(e._kg(n, G()).has_value());
    EXPECT_FALSE(e._kg(n + 2, G()).has_value());
    EXPECT_EQ(e._kg(n + 1, G()), G());
    const BigInt gy = H(G().substr(64));
    EXPECT_EQ(e._kg(n - 1, G()), G().substr(0, 64) + hex64(P() - gy));
    EXPECT_EQ(e._kg(n + 3, G()), e._kg(3, G()));
    // k is read mod 2^256: k + 2^256, and a negative k as its residue.
    EXPECT_EQ(e._kg(BigInt(12345) + two_256(), G()), e._kg(12345, G()));
    EXPECT_FALSE(e._kg(n + 2 + (two_256() << 3), G()).has_value());
    EXPECT_EQ(e._kg(BigInt(-1), G()), e._kg(two_256() - 1, G()));
}

TEST(Sm2Kg, UpperCaseInputGivesLowerCaseOutput) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    const auto R = e._kg(BigInt(987654321), upper(G()));
    ASSERT_TRUE(R);
    EXPECT_EQ(*R, lower(*R));
    EXPECT_EQ(R, e._kg(BigInt(987654321), G()));
}

// A point of the curve with a small x, so that x + p still fits in 64 digits.
std::string small_x_point() {
    const BigInt b = H(default_ecc_table.at("b"));
    for (unsigned long x = 1;; ++x) {
        const BigInt rhs = (BigInt(x) * x * x - 3 * BigInt(x) + b) % P();
        BigInt y;
        const BigInt exp = (P() + 1) / 4;
        mpz_powm(y.get_mpz_t(), rhs.get_mpz_t(), exp.get_mpz_t(), P().get_mpz_t());
        if (y * y % P() == rhs) return hex64(x) + hex64(y);
    }
}

TEST(Sm2Kg, CoordinatesAtOrAbovePAreTakenModP) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    const std::string Q = small_x_point();
    const std::string Qwide = hex64(H(Q.substr(0, 64)) + P()) + Q.substr(64);
    ASSERT_EQ(Qwide.size(), 128u);
    const auto& c = curve_of(e);
    for (const BigInt& k :
         std::vector<BigInt>{BigInt(0), BigInt(1), BigInt(2), BigInt(77), N() - 1, N() + 1}) {
        EXPECT_EQ(e._kg(k, Qwide), e._kg(k, Q)) << k;
        EXPECT_EQ(e._kg(k, Qwide), generic::kg_text(c, k, Qwide)) << k;
    }
    EXPECT_EQ(e._kg(0, Qwide), Q);
}

TEST(Sm2Kg, TextsThatAreNotPointsOfTheCurveFollowTheLiteralAlgorithm) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    const auto& c = curve_of(e);
    const std::string off = hex64(5) + hex64(7);
    // A Jacobian text: its Z part gains the appended "1".
    const std::string jac = G() + hex64(2);
    for (const BigInt& k :
         std::vector<BigInt>{BigInt(1), BigInt(2), BigInt(3), BigInt(1000003), N() - 5}) {
        EXPECT_EQ(e._kg(k, off), generic::kg_text(c, k, off));
        EXPECT_EQ(e._kg(k, jac), generic::kg_text(c, k, jac));
    }
    // (jac + "1") stands for G scaled by Z = 0x21: affine (x / Z^2, y / Z^3).
    const auto one = e._kg(1, jac);
    ASSERT_TRUE(one);
    EXPECT_EQ(*one, e._convert_jacb_to_nor(jac + "1"));
}

TEST(Sm2Kg, BadPointTexts) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    EXPECT_THROW(e._kg(5, G().substr(0, 127)), std::invalid_argument);
    EXPECT_THROW(e._kg(5, ""), std::invalid_argument);
    std::string bad = G();
    bad[70] = 'g';
    EXPECT_THROW(e._kg(5, bad), std::invalid_argument);
    EXPECT_THROW(e._kg(0, bad), std::invalid_argument);
}

// The Jacobian texts, exactly.

const char kDoubleG[] =
    "aaf267193307f0bc2cc50158a859c4d498a95a20c53d7e3e3fe035498a9cc3fb"
    "9bd5cd4da36e1ff5f34d9133c23ed44f9bb110028c1f5be8cc53aa8aa621568a"
    "786e6d46e9ecef38b37b9dc6d6d242a7a1530efa8c548e7f05be65ca4273e141";
const char kDoubleGPlusG[] =
    "39f11ea8237b7adcd38de8afa2db016a1a5c26a2f2ebcedfc69f39687a92584f"
    "a2c40395fdafe5b6eb20b5c2c2af7a4c817205ac4b703de83724fe37a62e928a"
    "5d12c2723d46d36990833c2ceb44de636c6452d5754e5bd71c60ee4794c42d64";

TEST(Sm2Jacobian, ExactTexts) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    EXPECT_EQ(e._double_point(G()), kDoubleG);
    EXPECT_EQ(e._double_point(G() + "1"), kDoubleG);
    EXPECT_EQ(e._double_point(upper(G()) + "0001"), kDoubleG);
    EXPECT_EQ(e._add_point(kDoubleG, G()), kDoubleGPlusG);
    EXPECT_EQ(e._convert_jacb_to_nor(kDoubleGPlusG), e._kg(3, G()));
}

TEST(Sm2Jacobian, LengthRules) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    EXPECT_FALSE(e._double_point(G().substr(0, 127)).has_value());
    EXPECT_FALSE(e._add_point(G().substr(0, 127), G()).has_value());
    EXPECT_FALSE(e._add_point(kDoubleG, G().substr(0, 127)).has_value());
    // The second point is always affine.
    EXPECT_EQ(e._add_point(kDoubleG, G() + hex64(12345)), e._add_point(kDoubleG, G()));
    EXPECT_EQ(e._add_point(kDoubleG, G() + "7"), kDoubleGPlusG);
    // Conversion needs a Z part; Z = 0 is the point at infinity.
    EXPECT_THROW(e._convert_jacb_to_nor(G()), std::invalid_argument);
    EXPECT_FALSE(e._convert_jacb_to_nor(G() + hex64(0)).has_value());
    EXPECT_FALSE(e._convert_jacb_to_nor(G() + upper(P().get_str(16))).has_value());
    EXPECT_EQ(e._convert_jacb_to_nor(G() + "1"), G());
}

TEST(Sm2Jacobian, AddingAPointToItselfOrItsNegativeHasNoAffineForm) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    const auto same = e._add_point(G() + "1", G());
    ASSERT_TRUE(same);
    EXPECT_EQ(same->substr(128), hex64(0));
    EXPECT_FALSE(e._convert_jacb_to_nor(*same).has_value());
    const auto neg = e._kg(N() - 1, G());
    EXPECT_FALSE(e._convert_jacb_to_nor(*e._add_point(G() + "1", *neg)).has_value());
}

TEST(Sm2Jacobian, BadDigits) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    EXPECT_THROW(e._double_point(std::string(128, 'x')), std::invalid_argument);
    EXPECT_THROW(e._double_point(G() + "q"), std::invalid_argument);
    EXPECT_THROW(e._add_point(G(), std::string(128, '-')), std::invalid_argument);
}

}  // namespace
