// sign and verify: the standard's example, the corner cases of the algorithm, DER at
// its boundaries, failures, and OpenSSL in both directions.
#include <pelmo/sm2.hpp>
#include <pelmo/sm3.hpp>

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "openssl_sm2.hpp"
#include "sm2/fast.hpp"
#include "sm2/generic/point_ops.hpp"
#include "sm2/generic/signature.hpp"
#include "sm2_test_util.hpp"
#include "support/example_keys.hpp"

namespace {

using namespace pelmo::test::sm2;
using pelmo::BigInt;
using pelmo::Bytes;
using pelmo::ByteView;
using pelmo::sm2::CryptSM2;
using pelmo::sm2::default_ecc_table;
using pelmo::test::as_bytes;
using pelmo::test::random_bytes;
namespace generic = pelmo::detail::sm2::generic;
namespace fast = pelmo::detail::sm2::fast;

// GM/T 0003.5 signature example.
const std::string kD = pelmo::test::upper(pelmo::test::kExamplePrivateKey);
const std::string kPub = pelmo::test::upper(pelmo::test::kExamplePublicKey);
const std::string kK = "59276E27D506861A16680F3AD9C02DCCEF3CC1FA3CDBE4CE6D54B80DEAC1BC21";
const std::string kR = "F5A03B0648D2C4630EEAC513E1BB81A15944DA3827D5B74143AC7EACEEE720B3";
const std::string kS = "B1B6AA29DF212FD8763182BC0D421CA1BB9038FD1F7F42D4840B69C485BBC1AA";

Bytes unhex(std::string_view h) {
    return pelmo::detail::from_hex(h);
}
Bytes be32(const BigInt& v) {
    return unhex(hex64(v));
}
BigInt mod_n(const BigInt& v) {
    BigInt r;
    mpz_mod(r.get_mpz_t(), v.get_mpz_t(), N().get_mpz_t());
    return r;
}
BigInt inv_n(const BigInt& v) {
    BigInt r;
    mpz_invert(r.get_mpz_t(), v.get_mpz_t(), N().get_mpz_t());
    return r;
}

// e = SM3(Z_A || M) with Z_A = SM3(ENTL || ID || a || b || xG || yG || xA || yA).
Bytes digest_with_z(const std::string& public_xy, std::string_view msg,
                    std::string_view id = "1234567812345678") {
    Bytes z_in = {static_cast<std::uint8_t>(id.size() * 8 >> 8),
                  static_cast<std::uint8_t>(id.size() * 8)};
    z_in.insert(z_in.end(), id.begin(), id.end());
    for (const char* key : {"a", "b", "g"}) {
        const Bytes v = unhex(default_ecc_table.at(key));
        z_in.insert(z_in.end(), v.begin(), v.end());
    }
    const Bytes pa = unhex(public_xy);
    z_in.insert(z_in.end(), pa.begin(), pa.end());
    Bytes m = unhex(pelmo::sm3::sm3_hash(z_in));
    m.insert(m.end(), msg.begin(), msg.end());
    return unhex(pelmo::sm3::sm3_hash(m));
}

std::string kG_text(const CryptSM2& e, const BigInt& k) {
    return *generic::kg_text(curve_of(e), k, G());
}
BigInt x_of_kG(const CryptSM2& e, const BigInt& k) {
    return H(kG_text(e, k).substr(0, 64));
}

// A key pair with the private key d.
CryptSM2 engine_for(const BigInt& d, bool asn1 = false) {
    CryptSM2 e(hex64(d), std::nullopt, default_ecc_table, 0, asn1);
    e.public_key = e._kg(d, G());
    return e;
}

// Both paths, and the engine, give `want`.
void expect_sign(const CryptSM2& e, ByteView data, const std::string& K,
                 const std::optional<std::string>& want) {
    const auto& c = curve_of(e);
    EXPECT_EQ(fast::sign(data, scalar_of(*e.private_key), scalar_of(K), e.asn1), want) << K;
    EXPECT_EQ(generic::sign(c, data, *e.private_key, K, e.asn1), want) << K;
    EXPECT_EQ(e.sign(data, K), want) << K;
}

// Both paths, and the engine, give `want`.
void expect_verify(const CryptSM2& e, const std::string& sig, ByteView data, bool want) {
    const auto& c = curve_of(e);
    EXPECT_EQ(fast::verify(c, sig, data, e.public_key, e.asn1), want) << sig;
    EXPECT_EQ(generic::verify(c, sig, data, e.public_key, e.asn1), want) << sig;
    EXPECT_EQ(e.verify(sig, data), want) << sig;
}

// The signature of e under d with nonce k, on numbers.
std::pair<BigInt, BigInt> reference_sign(const CryptSM2& eng, const BigInt& e, const BigInt& d,
                                         const BigInt& k) {
    const BigInt r = mod_n(e + x_of_kG(eng, k));
    const BigInt s = mod_n(inv_n(d + 1) * (k + r) - r);
    return {r, s};
}

TEST(Sm2Sign, StandardExample) {
    const Bytes e = digest_with_z(lower(kPub), "message digest");
    const CryptSM2 signer(kD, kPub);
    expect_sign(signer, e, kK, lower(kR + kS));
    EXPECT_EQ(signer.sign(e, lower(kK)), lower(kR + kS));
    expect_verify(signer, kR + kS, e, true);
    expect_verify(signer, lower(kR + kS), e, true);
    // The same key pair with the "04" prefix, and in DER.
    const CryptSM2 der(lower(kD), "04" + kPub, default_ecc_table, 0, true);
    const std::string want_der = "3046022100" + lower(kR) + "022100" + lower(kS);
    expect_sign(der, e, kK, want_der);
    expect_verify(der, want_der, e, true);
    expect_verify(der, upper(want_der), e, true);
}

TEST(Sm2Sign, StandardExamplePublicKey) {
    const CryptSM2 e(kD, std::nullopt);
    EXPECT_EQ(e._kg(H(kD), G()), lower(kPub));
    EXPECT_EQ(generic::kg_text(curve_of(e), H(kD), G()), lower(kPub));
}

TEST(Sm2Sign, NoValueCases) {
    const CryptSM2 e(kD, kPub);
    const BigInt k = H(kK), x1 = x_of_kG(e, k);
    // r = 0.
    expect_sign(e, be32(mod_n(N() - x1)), kK, std::nullopt);
    // r + k = n.
    expect_sign(e, be32(mod_n(N() - k - x1)), kK, std::nullopt);
    // s = 0 when k = r d: take d = k / r.
    const Bytes data = be32(12345);
    const BigInt r = mod_n(12345 + x1);
    const CryptSM2 zero_s(hex64(mod_n(k * inv_n(r))), kPub);
    expect_sign(zero_s, data, kK, std::nullopt);
}

TEST(Sm2Sign, NonceIsTakenAsGiven) {
    const CryptSM2 e(kD, kPub);
    const BigInt d = H(kD);
    // r + k = n compares the scalar as given: k + n reaches the same point, and signs.
    const BigInt k = 5, x1 = x_of_kG(e, k);
    const Bytes data = be32(mod_n(N() - k - x1));
    expect_sign(e, data, "05", std::nullopt);
    const auto [r, s] = reference_sign(e, mod_n(N() - k - x1), d, k + N());
    ASSERT_EQ(r, N() - 5);
    expect_sign(e, data, hex64(k + N()), hex64(r) + hex64(s));
    // k = 0 reads G itself as [k]G.
    const auto [r0, s0] = reference_sign(e, 7, d, 0);
    ASSERT_EQ(r0, mod_n(7 + H(G().substr(0, 64))));
    expect_sign(e, be32(7), "0", hex64(r0) + hex64(s0));
    expect_sign(e, be32(7), std::string(64, '0'), hex64(r0) + hex64(s0));
    // k = n and k = n + 2 have no point: an error, not a missing signature.
    for (const BigInt& bad : std::vector<BigInt>{N(), N() + 2}) {
        EXPECT_THROW(e.sign(be32(7), hex64(bad)), std::invalid_argument);
        EXPECT_THROW(generic::sign(curve_of(e), be32(7), kD, hex64(bad), false),
                     std::invalid_argument);
    }
    // Leading zeros change nothing; a value of more than 256 bits takes the generic path.
    const std::string padded = "00" + kK;
    EXPECT_EQ(e.sign(be32(99), padded), e.sign(be32(99), kK));
    const auto [rw, sw] = reference_sign(e, 99, d, H(kK) + two_256());
    EXPECT_EQ(e.sign(be32(99), "1" + kK), hex64(rw) + hex64(sw));
    // Short scalars are numbers like any other.
    const auto [r1, s1] = reference_sign(e, 99, d, 0xabc);
    expect_sign(e, be32(99), "ABC", hex64(r1) + hex64(s1));
}

TEST(Sm2Sign, PrivateKeyOutsideOneToNMinusTwoSignsNothing) {
    // n - 1 (1 + d has no inverse), 0, and values of n or more: no signature on either
    // path, whatever the text's length. K and the data would sign with a valid key.
    const BigInt k = 0x1234567;
    for (const BigInt& d :
         std::vector<BigInt>{N() - 1, BigInt(0), N(), N() + 1, N() + 5, two_256() - 1}) {
        CryptSM2 e(hex64(d), kPub);
        expect_sign(e, be32(3), "1234567", std::nullopt);
        e.private_key = "00" + hex64(d);
        EXPECT_EQ(e.sign(be32(3), "1234567"), std::nullopt) << d.get_str(16);
        EXPECT_EQ(e.sign_with_sm3(be32(3), "1234567"), std::nullopt);
    }
    for (const BigInt& d : {BigInt(two_256() + N() - 1), two_256()}) {  // the generic path only
        const CryptSM2 e(pelmo::detail::int_to_hex(d), kPub);
        EXPECT_EQ(e.sign(be32(3), "1234567"), std::nullopt) << d.get_str(16);
    }
    // The ends of the range sign, and the signatures verify.
    for (const BigInt& d : {BigInt(1), BigInt(N() - 2)}) {
        const CryptSM2 e = engine_for(d);
        const auto [r, s] = reference_sign(e, 3, d, k);
        expect_sign(e, be32(3), "1234567", hex64(r) + hex64(s));
        expect_verify(e, hex64(r) + hex64(s), be32(3), true);
    }
    // Errors come first: a key out of range with a K whose [k]G is the point at infinity.
    const CryptSM2 e(hex64(N() - 1), std::nullopt);
    EXPECT_THROW(e.sign(be32(3), hex64(N())), std::invalid_argument);
}

TEST(Sm2Sign, GenericPathSignsOnlyWhereThePowerInvertsOnePlusD) {
    // A small table with the composite "order" 273 = 3 * 7 * 13: (1 + d)^(n - 2) is the
    // inverse of 1 + d exactly when (1 + d)^(n - 1) = 1 mod n, for 15 keys in [1, n - 2].
    const pelmo::sm2::EccTable t = {
        {"n", "111"}, {"p", "107"}, {"a", "5"}, {"b", "3"}, {"g", "001003"}};
    const BigInt n = 273;
    int signed_count = 0;
    for (long d = 0; d <= 275; ++d) {
        const CryptSM2 e(pelmo::detail::int_to_hex(d), std::nullopt, t);
        BigInt power;
        mpz_powm(power.get_mpz_t(), BigInt(d + 1).get_mpz_t(), BigInt(n - 1).get_mpz_t(),
                 n.get_mpz_t());
        const bool key_ok = d >= 1 && d <= n - 2 && power == 1;
        const auto sig = e.sign(Bytes{0x17}, "5");
        EXPECT_EQ(sig.has_value(), key_ok) << d;
        signed_count += sig ? 1 : 0;
    }
    EXPECT_EQ(signed_count, 15);
}

TEST(Sm2Sign, KeysOfAnyTextLengthTakeTheCoreByValue) {
    // "00" || key (66 digits) and "0" || key (65) sign through the core exactly as the
    // 64-digit key does; a value of more than 256 bits signs through the generic path.
    const CryptSM2 e(kD, kPub);
    const Bytes data = be32(12345);
    const auto want = e.sign(data, kK);
    ASSERT_TRUE(want);
    for (const std::string& d : {"00" + kD, "0" + kD, std::string(200, '0') + lower(kD)}) {
        const CryptSM2 padded(d, kPub);
        EXPECT_EQ(padded.sign(data, kK), want) << d;
        EXPECT_EQ(padded.sign(data, "000" + kK), want) << d;
        pelmo::detail::sm2::curve::Bytes32 v;
        EXPECT_TRUE(fast::parse_scalar(d, v, "d"));
        EXPECT_EQ(pelmo::detail::to_hex(v), lower(kD));
    }
    // 2^256 + d: the generic path, where a key of n or more signs nothing (its public
    // key and decryption are those of d: _kg reads 256 bits).
    const std::string wide = "1" + kD;
    pelmo::detail::sm2::curve::Bytes32 v;
    EXPECT_FALSE(fast::parse_scalar(wide, v, "d"));
    EXPECT_EQ(v, pelmo::detail::sm2::curve::Bytes32{});
    const CryptSM2 big(wide, kPub);
    EXPECT_EQ(big.sign(data, kK), std::nullopt);
    EXPECT_EQ(generic::sign(curve_of(big), data, wide, kK, false), std::nullopt);
}

TEST(Sm2Sign, Errors) {
    CryptSM2 e(kD, kPub);
    EXPECT_THROW(e.sign({}, kK), std::invalid_argument);
    EXPECT_THROW(e.sign(be32(1), ""), std::invalid_argument);
    try {
        e.sign(be32(1), kK.substr(0, 10) + "x" + kK.substr(11));
        FAIL();
    } catch (const std::invalid_argument& err) {
        EXPECT_NE(std::string(err.what()).find("'x' at position 10 in scalar K"), std::string::npos)
            << err.what();
    }
    e.private_key = kD.substr(0, 5) + "?" + kD.substr(6);
    try {
        e.sign(be32(1), kK);
        FAIL();
    } catch (const std::invalid_argument& err) {
        EXPECT_NE(std::string(err.what()).find("'?' at position 5 in private key"),
                  std::string::npos)
            << err.what();
    }
    e.private_key = "";
    EXPECT_THROW(e.sign(be32(1), kK), std::invalid_argument);
    e.private_key = std::nullopt;
    EXPECT_THROW(e.sign(be32(1), kK), std::invalid_argument);
    // The private key is read before K.
    e.private_key = "zz";
    try {
        e.sign(be32(1), "yy");
        FAIL();
    } catch (const std::invalid_argument& err) {
        EXPECT_NE(std::string(err.what()).find("private key"), std::string::npos);
    }
    EXPECT_EQ(*e.private_key, "zz");
}

TEST(Sm2Sign, KeysAssignedAfterConstructionAreUsed) {
    CryptSM2 e(kD, kPub);
    const Bytes data = be32(4242);
    const auto first = e.sign(data, kK);
    e.private_key = hex64(H(kD) + 1);
    const auto second = e.sign(data, kK);
    EXPECT_NE(first, second);
    EXPECT_FALSE(e.verify(*second, data));
    e.public_key = e._kg(H(kD) + 1, G());
    EXPECT_TRUE(e.verify(*second, data));
    EXPECT_FALSE(e.verify(*first, data));
}

TEST(Sm2Sign, LongAndShortData) {
    const CryptSM2 e(kD, kPub);
    for (std::size_t len : {1u, 2u, 31u, 32u, 33u, 64u, 100u}) {
        const Bytes data = random_bytes(len);
        const auto sig = e.sign(data, kK);
        ASSERT_TRUE(sig);
        const auto [r, s] = reference_sign(e, mod_n(H(pelmo::detail::to_hex(data))), H(kD), H(kK));
        EXPECT_EQ(*sig, hex64(r) + hex64(s));
        expect_verify(e, *sig, data, true);
        EXPECT_EQ(generic::sign(curve_of(e), data, kD, kK, false), sig);
    }
}

TEST(Sm2Sign, RawOutputKeepsLeadingZeros) {
    const CryptSM2 e(kD, kPub);
    const BigInt k = H(kK), x1 = x_of_kG(e, k);
    // r = 1.
    const Bytes data = be32(mod_n(1 - x1));
    const auto sig = e.sign(data, kK);
    ASSERT_TRUE(sig);
    EXPECT_EQ(sig->substr(0, 64), hex64(1));
    expect_verify(e, *sig, data, true);
}

// DER at its length boundaries: r and s steered through e and d.

// The key that makes s come out as `s` for nonce k and r: 1 + d = (k + r) / (s + r).
BigInt key_for_s(const BigInt& k, const BigInt& r, const BigInt& s) {
    return mod_n((k + r) * inv_n(s + r) - 1);
}

TEST(Sm2Der, LengthBoundaries) {
    const CryptSM2 base(kD, kPub);
    const BigInt k = H(kK), x1 = x_of_kG(base, k);
    struct Case {
        BigInt r, s;
        std::size_t octets;
    };
    const BigInt top = BigInt(1) << 255;
    const Case cases[] = {
        {1, 1, 8},                                // the shortest form
        {0x7f, 0x80, 9},                          // 0x80 needs a zero octet
        {(BigInt(1) << 247) - 1, 5, 6 + 31 + 1},  // below 2^247: 31 octets
        {BigInt(1) << 247, 5, 6 + 32 + 1},        // 32 octets
        {top - 1, top - 1, 6 + 32 + 32},          // top bit clear
        {top, 1, 6 + 33 + 1},                     // top bit set: 33 octets
        {N() - 1, N() - 2, 72},                   // the longest form
    };
    for (const auto& c : cases) {
        const BigInt d = key_for_s(k, c.r, c.s);
        const CryptSM2 e = engine_for(d, true);
        const Bytes data = be32(mod_n(c.r - x1));
        const auto sig = e.sign(data, kK);
        ASSERT_TRUE(sig);
        EXPECT_EQ(sig->size(), 2 * c.octets) << *sig;
        EXPECT_EQ(sig->substr(0, 2), "30");
        EXPECT_EQ(std::stoul(sig->substr(2, 2), nullptr, 16), c.octets - 2);
        expect_sign(e, data, kK, *sig);
        expect_verify(e, *sig, data, true);
        // The raw engine agrees on the numbers.
        CryptSM2 raw = e;
        raw.asn1 = false;
        EXPECT_EQ(raw.sign(data, kK), hex64(c.r) + hex64(c.s));
    }
}

TEST(Sm2Der, DecodingFailuresAreErrors) {
    const CryptSM2 e(kD, kPub, default_ecc_table, 0, true);
    const Bytes data = digest_with_z(lower(kPub), "message digest");
    const std::string good = "3046022100" + lower(kR) + "022100" + lower(kS);
    const std::string bad[] = {
        good + "00",                                                 // trailing bytes
        "3047022200" + ("00" + lower(kR)) + "022100" + lower(kS),    // non-minimal r
        "30450220" + lower(kR) + "022100" + lower(kS),               // negative r
        "308146022100" + lower(kR) + "022100" + lower(kS),           // long-form length
        "3146022100" + lower(kR) + "022100" + lower(kS),             // SET, not SEQUENCE
        "3046032100" + lower(kR) + "022100" + lower(kS),             // not an INTEGER
        "3049022100" + lower(kR) + "022100" + lower(kS) + "020101",  // three elements
        "3023022100" + lower(kR),                                    // one element
        good.substr(0, good.size() - 2),                             // truncated
        good + "0",                                                  // odd digit count
        "",                                                          // nothing
        kR + kS,                                                     // the raw form
    };
    for (const auto& sig : bad) {
        EXPECT_THROW(e.verify(sig, data), std::invalid_argument) << sig;
        EXPECT_THROW(generic::verify(curve_of(e), sig, data, e.public_key, true),
                     std::invalid_argument)
            << sig;
    }
    EXPECT_TRUE(e.verify(good, data));
}

TEST(Sm2Verify, Failures) {
    const Bytes data = digest_with_z(lower(kPub), "message digest");
    const CryptSM2 e(kD, kPub);
    const std::string sig = kR + kS;
    // Wrong data, wrong key.
    Bytes other = data;
    other[5] ^= 1;
    expect_verify(e, sig, other, false);
    const CryptSM2 wrong = engine_for(H(kD) + 1);
    expect_verify(wrong, sig, data, false);
    // Every flipped bit of r and s.
    const Bytes raw = unhex(sig);
    for (std::size_t bit = 0; bit < raw.size() * 8; bit += kScale) {
        Bytes flipped = raw;
        flipped[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        EXPECT_FALSE(e.verify(pelmo::detail::to_hex(flipped), data)) << bit;
    }
    // r or s outside [1, n - 1], including the second encoding (r, s + n) and t = 0.
    const BigInt r = H(kR), s = H(kS);
    const BigInt r_plus_n = r + N() < two_256() ? BigInt(r + N()) : BigInt(N() + 1);
    const std::vector<std::pair<BigInt, BigInt>> out_of_range = {
        {0, s},       {r, 0},      {N(), s}, {r, N()}, {r_plus_n, s}, {two_256() - 1, s},
        {1, N() - 1}, {N() - 1, 1}};
    for (const auto& [rr, ss] : out_of_range) expect_verify(e, hex64(rr) + hex64(ss), data, false);
    expect_verify(e, std::string(128, '0'), data, false);
    // Out of range is false before the public key is needed.
    CryptSM2 no_key(std::nullopt, std::nullopt);
    EXPECT_FALSE(no_key.verify(std::string(128, '0'), data));
    EXPECT_THROW(no_key.verify(sig, data), std::invalid_argument);
}

TEST(Sm2Verify, TextForms) {
    const Bytes data = digest_with_z(lower(kPub), "message digest");
    const CryptSM2 e(kD, kPub);
    // Characters after 2 * para_len are ignored (a recovery byte, say).
    expect_verify(e, kR + kS + "1b", data, true);
    expect_verify(e, kR + kS + "zz", data, true);
    // Short or bad fields are errors.
    EXPECT_THROW(e.verify(kR, data), std::invalid_argument);
    EXPECT_THROW(e.verify(kR.substr(0, 63), data), std::invalid_argument);
    EXPECT_THROW(e.verify(kR + "x" + kS.substr(1), data), std::invalid_argument);
    EXPECT_THROW(e.verify(kR + kS, {}), std::invalid_argument);
    // A short s field is still a number.
    EXPECT_FALSE(e.verify(kR + "5", data));
}

TEST(Sm2Verify, EqualPointsAreDoubled) {
    // s G = t PA with PA = d G: s = t d, t = r + s, so s = r d / (1 - d).
    const BigInt d = H(kD), r = 0x1234abcd;
    const BigInt s = mod_n(r * d * inv_n(mod_n(1 - d)));
    const CryptSM2 e = engine_for(d);
    const BigInt x1 =
        H(e._convert_jacb_to_nor(*e._double_point(kG_text(e, s) + "1"))->substr(0, 64));
    const Bytes data = be32(mod_n(r - x1));
    expect_verify(e, hex64(r) + hex64(s), data, true);
}

TEST(Sm2Verify, PointAtInfinityIsAnError) {
    // s G + t PA = O: s + (r + s) d = 0, so s = -r d / (1 + d).
    const BigInt d = H(kD), r = 0x777;
    const BigInt s = mod_n(-r * d * inv_n(d + 1));
    const CryptSM2 e = engine_for(d);
    const std::string sig = hex64(r) + hex64(s);
    const Bytes data = be32(1);
    EXPECT_THROW(e.verify(sig, data), std::invalid_argument);
    EXPECT_THROW(fast::verify(curve_of(e), sig, data, e.public_key, false), std::invalid_argument);
    EXPECT_THROW(generic::verify(curve_of(e), sig, data, e.public_key, false),
                 std::invalid_argument);
}

TEST(Sm2Verify, PublicKeysOffTheCurveAreReadLiterally) {
    const Bytes data = be32(77);
    const CryptSM2 e(kD, kPub);
    const std::string sig = *e.sign(data, kK);
    for (const std::string& pk :
         {hex64(5) + hex64(7), "04" + lower(kPub) + "00", lower(kPub) + hex64(1)}) {
        CryptSM2 f(kD, pk);
        EXPECT_FALSE(fast::verify(curve_of(f), sig, data, f.public_key, false).has_value());
        EXPECT_EQ(f.verify(sig, data),
                  generic::verify(curve_of(f), sig, data, f.public_key, false));
    }
    // A Jacobian text of the right point verifies: its Z gains the digit "1" = (Z=1 text).
    CryptSM2 jac(kD, lower(kPub) + std::string(63, '0'));
    EXPECT_TRUE(jac.verify(sig, data));
}

TEST(Sm2Verify, FastAndGenericAgreeOnRandomSignatures) {
    const int rounds = 40 / kScale;
    for (int i = 0; i < rounds; ++i) {
        const BigInt d = mod_n(random_below_pow2(256));
        const CryptSM2 e = engine_for(d, i % 2 == 1);
        const Bytes data = random_bytes(1 + i % 40);
        const std::string K = hex64(random_below_pow2(256));
        const auto sig = generic::sign(curve_of(e), data, *e.private_key, K, e.asn1);
        ASSERT_TRUE(sig);
        expect_sign(e, data, K, sig);
        expect_verify(e, *sig, data, true);
        Bytes other = data;
        other.back() ^= 0x80;
        expect_verify(e, *sig, other, false);
    }
}

// OpenSSL in both directions.

TEST(Sm2OpenSsl, PelmoSignsOpenSslVerifies) {
    const int rounds = 10;
    for (int i = 0; i < rounds; ++i) {
        const BigInt d = mod_n(random_below_pow2(256));
        const CryptSM2 e = engine_for(d, true);
        const std::string msg = "message " + std::to_string(i);
        const Bytes digest = digest_with_z(*e.public_key, msg);
        const auto sig = e.sign(digest, hex64(mod_n(random_below_pow2(256))));
        ASSERT_TRUE(sig);
        const auto key = sm2_key("", *e.public_key);
        EXPECT_TRUE(verify_sm3(key.get(), as_bytes(msg), unhex(*sig), "1234567812345678"));
        EXPECT_FALSE(verify_sm3(key.get(), as_bytes(msg + "!"), unhex(*sig), "1234567812345678"));
        // The bare operation on the digest.
        EXPECT_TRUE(verify_digest(key.get(), digest, unhex(*sig)));
    }
}

TEST(Sm2OpenSsl, OpenSslSignsPelmoVerifies) {
    for (int i = 0; i < 10; ++i) {
        std::string priv, pub;
        const auto key = sm2_generate(priv, pub);
        const CryptSM2 e(std::nullopt, pub, default_ecc_table, 0, true);
        EXPECT_EQ(CryptSM2(priv, std::nullopt)._kg(H(priv), G()), pub);
        const std::string msg = "openssl message " + std::to_string(i);
        const Bytes der = sign_sm3(key.get(), as_bytes(msg), "1234567812345678");
        const Bytes digest = digest_with_z(pub, msg);
        EXPECT_TRUE(e.verify(pelmo::detail::to_hex(der), digest));
        EXPECT_FALSE(e.verify(pelmo::detail::to_hex(der), digest_with_z(pub, msg + ".")));
        const Bytes e32 = random_bytes(32);
        EXPECT_TRUE(e.verify(pelmo::detail::to_hex(sign_digest(key.get(), e32)), e32));
    }
}

}  // namespace
