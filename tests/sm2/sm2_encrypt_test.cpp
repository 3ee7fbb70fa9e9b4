// encrypt and decrypt: the standard's example, both layouts, tampering, points off the
// curve, failures, other curve tables, the fixed-width path against the generic one,
// and OpenSSL in both directions.
#include <pelmo/crypt_managers.hpp>
#include <pelmo/func.hpp>
#include <pelmo/sm2.hpp>
#include <pelmo/sm3.hpp>

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "common/cpu.hpp"
#include "openssl_sm2.hpp"
#include "sm2/curve/field_adx.hpp"
#include "sm2/curve/mult.hpp"
#include "sm2/encrypt.hpp"
#include "sm2/fast.hpp"
#include "sm2/generic/point_ops.hpp"
#include "sm2_test_util.hpp"
#include "support/example_keys.hpp"

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

// GM/T 0003.5 encryption example on the recommended curve.
const std::string kD = pelmo::test::upper(pelmo::test::kExamplePrivateKey);
const std::string kPub = pelmo::test::upper(pelmo::test::kExamplePublicKey);
const std::string kK = "59276E27D506861A16680F3AD9C02DCCEF3CC1FA3CDBE4CE6D54B80DEAC1BC21";
const std::string kPlain = "encryption standard";
const std::string kC1 =
    "04EBFC718E8D1798620432268E77FEB6415E2EDE0E073C0F4F640ECD2E149A73"
    "E858F9D81E5430A57B36DAAB8F950A3C64E6EE6A63094D99283AFF767E124DF0";
const std::string kC3 = "59983C18F809E262923C53AEC295D30383B54E39D609D160AFCB1908D0BD8766";
const std::string kC2 = "21886CA989CA9C7D58087307CA93092D651EFA";

Bytes unhex(std::string_view h) {
    return pelmo::detail::from_hex(h);
}
Bytes text_bytes(std::string_view s) {
    const auto v = as_bytes(s);
    return Bytes(v.begin(), v.end());
}

// encrypt() gives no value when the key stream is all zero, which for a one-byte
// message happens once in 256 draws of k: an application then encrypts again.
Bytes encrypt_ok(const CryptSM2& e, ByteView m) {
    for (int i = 0; i < 8; ++i)
        if (auto c = e.encrypt(m)) return *c;
    ADD_FAILURE() << "eight all-zero key streams in a row";
    return {};
}

struct KeyPair {
    std::string priv, pub;
};
KeyPair fresh_keys(const EccTable& table = default_ecc_table) {
    SM2Manager m(std::nullopt, std::nullopt, table);
    const std::string pub = m.get_public_key();
    return {m.get_private_key(), pub};
}

// The same ciphertext in the other layout.
Bytes swap_layout(const Bytes& c, int from_mode, std::size_t c1 = 64) {
    const std::size_t len = c.size() - c1 - 32;
    Bytes out(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(c1));
    const auto at = [&](std::size_t pos, std::size_t n) {
        out.insert(out.end(), c.begin() + static_cast<std::ptrdiff_t>(pos),
                   c.begin() + static_cast<std::ptrdiff_t>(pos + n));
    };
    if (from_mode == 0) {  // C1 C2 C3 -> C1 C3 C2
        at(c1 + len, 32);
        at(c1, len);
    } else {  // C1 C3 C2 -> C1 C2 C3
        at(c1 + 32, len);
        at(c1, 32);
    }
    return out;
}

TEST(Sm2Encrypt, StandardExampleDecryptsInBothLayouts) {
    const CryptSM2 e0(kD, kPub, default_ecc_table, 0);
    const CryptSM2 e1(kD, kPub, default_ecc_table, 1);
    EXPECT_EQ(e0.decrypt(unhex(kC1 + kC2 + kC3)), text_bytes(kPlain));
    EXPECT_EQ(e1.decrypt(unhex(kC1 + kC3 + kC2)), text_bytes(kPlain));
    // Lower-case keys, and the "04"-prefixed public key, change nothing.
    const CryptSM2 small(lower(kD), "04" + lower(kPub), default_ecc_table, 1);
    EXPECT_EQ(small.decrypt(unhex(kC1 + kC3 + kC2)), text_bytes(kPlain));
    // Each layout under the other engine fails the check value.
    EXPECT_EQ(e0.decrypt(unhex(kC1 + kC3 + kC2)), std::nullopt);
    EXPECT_EQ(e1.decrypt(unhex(kC1 + kC2 + kC3)), std::nullopt);
}

TEST(Sm2Encrypt, StandardExampleIsReproducedWithItsK) {
    // C1 = k*G begins with the byte 04: no format byte is added or stripped.
    const CryptSM2 e0(kD, kPub, default_ecc_table, 0);
    const CryptSM2 e1(kD, kPub, default_ecc_table, 1);
    EXPECT_EQ(sm2d::encrypt_with_scalar(e0, as_bytes(kPlain), kK), unhex(kC1 + kC2 + kC3));
    EXPECT_EQ(sm2d::encrypt_with_scalar(e1, as_bytes(kPlain), kK), unhex(kC1 + kC3 + kC2));
    EXPECT_EQ(sm2d::encrypt_with_scalar(e1, as_bytes(kPlain), lower(kK)), unhex(kC1 + kC3 + kC2));
}

TEST(Sm2Encrypt, StandardExampleDecryptsWithOpenSSL) {
    // An independent check of the published values.
    const auto key = sm2_key(kD, kPub);
    const auto plain = decrypt(key.get(), c1c3c2_to_asn1(unhex(kC1 + kC3 + kC2)));
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(*plain, text_bytes(kPlain));
}

TEST(Sm2Encrypt, RoundTripsEveryLengthInBothLayouts) {
    const KeyPair kp = fresh_keys();
    for (int mode : {0, 1}) {
        const CryptSM2 e(kp.priv, kp.pub, default_ecc_table, mode);
        for (std::size_t len = 1; len <= 300; ++len) {
            const Bytes m = random_bytes(len);
            const Bytes c = encrypt_ok(e, m);
            ASSERT_EQ(c.size(), len + 96);
            ASSERT_EQ(e.decrypt(c), m) << "mode " << mode << ", length " << len;
        }
    }
}

TEST(Sm2Encrypt, CiphertextLayout) {
    const KeyPair kp = fresh_keys();
    const CryptSM2 e0(kp.priv, kp.pub, default_ecc_table, 0);
    const CryptSM2 e1(kp.priv, kp.pub, default_ecc_table, 1);
    const Bytes m = random_bytes(45);
    const std::string k = pelmo::func::random_hex(64);
    const auto c0 = sm2d::encrypt_with_scalar(e0, m, k);
    const auto c1 = sm2d::encrypt_with_scalar(e1, m, k);
    ASSERT_TRUE(c0 && c1);
    // C1 is k*G as x || y, without a format byte.
    EXPECT_EQ(pelmo::detail::to_hex(ByteView(*c0).first(64)), *e0._kg(H(k), G()));
    // The layouts differ only in the order of C2 and C3.
    EXPECT_EQ(swap_layout(*c0, 0), *c1);
    EXPECT_EQ(swap_layout(*c1, 1), *c0);
    // C3 = SM3(x2 || M || y2) with (x2, y2) = k*PB.
    const Bytes xy = unhex(*e0._kg(H(k), kp.pub));
    Bytes h_in(xy.begin(), xy.begin() + 32);
    h_in.insert(h_in.end(), m.begin(), m.end());
    h_in.insert(h_in.end(), xy.begin() + 32, xy.end());
    EXPECT_EQ(pelmo::detail::to_hex(ByteView(*c1).subspan(64, 32)), pelmo::sm3::sm3_hash(h_in));
    // C2 = M xor the key stream of sm3_kdf over x2 || y2.
    const Bytes t = unhex(pelmo::sm3::sm3_kdf(pelmo::detail::to_hex(xy), 45));
    for (std::size_t i = 0; i < 45; ++i) ASSERT_EQ((*c0)[64 + i], m[i] ^ t[i]);
}

TEST(Sm2Encrypt, FreshRandomValuePerCall) {
    const KeyPair kp = fresh_keys();
    const CryptSM2 e(kp.priv, kp.pub);
    const Bytes m = text_bytes("same message");
    const Bytes a = encrypt_ok(e, m), b = encrypt_ok(e, m);
    EXPECT_NE(a, b);
    EXPECT_EQ(e.decrypt(a), m);
    EXPECT_EQ(e.decrypt(b), m);
}

TEST(Sm2Encrypt, LeadingAndTrailingZeroBytesSurvive) {
    const KeyPair kp = fresh_keys();
    const CryptSM2 e(kp.priv, kp.pub);
    for (const Bytes& m : {Bytes{0}, Bytes(33, 0), Bytes{0, 0, 0, 1}, Bytes{1, 0, 0, 0}})
        EXPECT_EQ(e.decrypt(encrypt_ok(e, m)), m);
}

TEST(Sm2Encrypt, AllZeroKeyStreamGivesNoValue) {
    // A k whose key stream starts with a zero byte, for a one-byte message (about one k
    // in 256): encryption gives no value on both paths, and so does decryption of the
    // ciphertext that such a k would make, although its check value is right.
    const KeyPair kp = fresh_keys();
    const CryptSM2 e(kp.priv, kp.pub, default_ecc_table, 1);
    const Bytes m = {0x5a};
    for (BigInt k = 1;; ++k) {
        ASSERT_LT(k, 10000);
        const std::string xy = *e._kg(k, kp.pub);
        if (pelmo::sm3::sm3_kdf(xy, 1) != "00") continue;
        EXPECT_EQ(sm2d::encrypt_with_scalar(e, m, hex64(k)), std::nullopt);
        EXPECT_EQ(sm2d::generic::encrypt(curve_of(e), m, kp.pub, hex64(k), 1), std::nullopt);
        Bytes c = unhex(*e._kg(k, G()));
        Bytes h_in = unhex(xy.substr(0, 64));
        h_in.push_back(m[0]);
        const Bytes y2 = unhex(xy.substr(64));
        h_in.insert(h_in.end(), y2.begin(), y2.end());
        const Bytes c3 = unhex(pelmo::sm3::sm3_hash(h_in));
        c.insert(c.end(), c3.begin(), c3.end());
        c.push_back(m[0]);  // C2 = M xor 0
        EXPECT_EQ(e.decrypt(c), std::nullopt);
        EXPECT_EQ(sm2d::generic::decrypt(curve_of(e), c, kp.priv, 1), std::nullopt);
        break;
    }
}

TEST(Sm2Encrypt, EveryFlippedBitGivesNoValue) {
    const KeyPair kp = fresh_keys();
    for (int mode : {0, 1}) {
        const CryptSM2 e(kp.priv, kp.pub, default_ecc_table, mode);
        const Bytes m = random_bytes(17);
        const Bytes c = encrypt_ok(e, m);
        ASSERT_EQ(e.decrypt(c), m);
        // Every bit of C1, C2 and C3 (every other one under the sanitizers).
        for (std::size_t bit = 0; bit < 8 * c.size(); bit += kScale == 1 ? 1 : 2) {
            Bytes bad = c;
            bad[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
            ASSERT_EQ(e.decrypt(bad), std::nullopt) << "mode " << mode << ", bit " << bit;
        }
    }
}

TEST(Sm2Encrypt, WrongLayoutOrWrongKeyGivesNoValue) {
    const KeyPair kp = fresh_keys(), other = fresh_keys();
    const CryptSM2 e0(kp.priv, kp.pub, default_ecc_table, 0);
    const CryptSM2 e1(kp.priv, kp.pub, default_ecc_table, 1);
    const Bytes m = random_bytes(64);
    EXPECT_EQ(e0.decrypt(encrypt_ok(e1, m)), std::nullopt);
    EXPECT_EQ(e1.decrypt(encrypt_ok(e0, m)), std::nullopt);
    const CryptSM2 wrong(other.priv, kp.pub);
    EXPECT_EQ(wrong.decrypt(encrypt_ok(e0, m)), std::nullopt);
}

// A ciphertext whose C1 is the given point, with C2 and C3 made from what the
// double-and-add of d on that point yields (it never reads b, so it computes on
// whichever curve the point lies): without the check that C1 is on the curve, it
// would decrypt.
Bytes crafted(const CryptSM2& e, const BigInt& d, const std::string& c1, const Bytes& m) {
    const auto& c = curve_of(e);
    const auto xy = pelmo::detail::sm2::generic::kg_text(c, d, c1);
    EXPECT_TRUE(xy.has_value());
    const Bytes z = unhex(*xy);
    const Bytes t = unhex(pelmo::sm3::sm3_kdf(*xy, static_cast<std::int64_t>(m.size())));
    const std::size_t half = z.size() / 2;
    Bytes h_in(z.begin(), z.begin() + static_cast<std::ptrdiff_t>(half));
    h_in.insert(h_in.end(), m.begin(), m.end());
    h_in.insert(h_in.end(), z.begin() + static_cast<std::ptrdiff_t>(half), z.end());
    Bytes out = unhex(c1);
    const Bytes c3 = unhex(pelmo::sm3::sm3_hash(h_in));
    out.insert(out.end(), c3.begin(), c3.end());
    for (std::size_t i = 0; i < m.size(); ++i) out.push_back(m[i] ^ t[i]);
    return out;  // C1 C3 C2
}

TEST(Sm2Encrypt, PointOffTheCurveGivesNoValue) {
    const KeyPair kp = fresh_keys();
    const CryptSM2 e(kp.priv, kp.pub, default_ecc_table, 1);
    const Bytes m = text_bytes("attack at dawn");
    const BigInt d = H(kp.priv);
    // The seam itself is sound: a point of the curve gives the right ciphertext.
    const std::string on_curve = *e._kg(H("1234567"), G());
    EXPECT_EQ(e.decrypt(crafted(e, d, on_curve, m)), m);
    // (x, y + 1), and a point of the curve y^2 = x^3 - 3x + 7 (another b).
    const std::string nudged = on_curve.substr(0, 64) + hex64(H(on_curve.substr(64)) + 1);
    EXPECT_EQ(e.decrypt(crafted(e, d, nudged, m)), std::nullopt);
    // The same through the generic path (a private key of more than 64 digits).
    const CryptSM2 long_key("00" + kp.priv, kp.pub, default_ecc_table, 1);
    EXPECT_EQ(long_key.decrypt(crafted(e, d, on_curve, m)), m);
    EXPECT_EQ(long_key.decrypt(crafted(e, d, nudged, m)), std::nullopt);
    BigInt x = 5, y;
    for (;; ++x) {
        const BigInt rhs = (x * x * x - 3 * x + 7) % P();
        mpz_powm(y.get_mpz_t(), rhs.get_mpz_t(), BigInt((P() + 1) / 4).get_mpz_t(),
                 P().get_mpz_t());
        if (y * y % P() == rhs) break;
    }
    EXPECT_EQ(e.decrypt(crafted(e, d, hex64(x) + hex64(y), m)), std::nullopt);
    // A coordinate of p or more stands for a point of the curve only by its residue:
    // such an encoding is refused too.
    const BigInt b = H(default_ecc_table.at("b"));
    for (x = 1;; ++x) {
        const BigInt rhs = (x * x * x - 3 * x + b) % P();
        mpz_powm(y.get_mpz_t(), rhs.get_mpz_t(), BigInt((P() + 1) / 4).get_mpz_t(),
                 P().get_mpz_t());
        if (y * y % P() == rhs) break;
    }
    const std::string small_x = hex64(x) + hex64(y);
    EXPECT_EQ(e.decrypt(crafted(e, d, small_x, m)), m);
    EXPECT_EQ(e.decrypt(crafted(e, d, hex64(x + P()) + hex64(y), m)), std::nullopt);
    // A public key is read by its residues, as _kg reads it: (x + p, y) is (x, y).
    const CryptSM2 to_small(std::nullopt, small_x);
    const CryptSM2 to_high(std::nullopt, hex64(x + P()) + hex64(y));
    EXPECT_EQ(sm2d::encrypt_with_scalar(to_high, m, kK),
              sm2d::encrypt_with_scalar(to_small, m, kK));
    // The all-zero C1.
    const Bytes c = encrypt_ok(e, m);
    Bytes zero = c;
    std::fill(zero.begin(), zero.begin() + 64, 0);
    EXPECT_EQ(e.decrypt(zero), std::nullopt);
    EXPECT_EQ(e.decrypt(c), m);
}

TEST(Sm2Encrypt, Failures) {
    const KeyPair kp = fresh_keys();
    const CryptSM2 e(kp.priv, kp.pub);
    EXPECT_THROW(e.encrypt(Bytes{}), std::invalid_argument);
    for (std::size_t len : {0u, 1u, 63u, 64u, 65u, 95u, 96u})
        EXPECT_THROW(e.decrypt(Bytes(len, 1)), std::invalid_argument) << len;
    const Bytes one = encrypt_ok(e, Bytes{1});
    Bytes cut = one;
    cut.resize(96);
    EXPECT_THROW(e.decrypt(cut), std::invalid_argument);
    const CryptSM2 no_keys(std::nullopt, std::nullopt);
    EXPECT_THROW(no_keys.encrypt(Bytes{1}), std::invalid_argument);
    EXPECT_THROW(no_keys.decrypt(one), std::invalid_argument);
    const CryptSM2 bad_priv("12x4", kp.pub);
    EXPECT_THROW(bad_priv.decrypt(one), std::invalid_argument);
    const CryptSM2 empty_priv("", kp.pub);
    EXPECT_THROW(empty_priv.decrypt(one), std::invalid_argument);
    const CryptSM2 bad_pub(kp.priv, kp.pub.substr(0, 127) + "z");
    EXPECT_THROW(bad_pub.encrypt(Bytes{1}), std::invalid_argument);
    const CryptSM2 short_pub(kp.priv, kp.pub.substr(0, 100));
    EXPECT_THROW(short_pub.encrypt(Bytes{1}), std::invalid_argument);
    const CryptSM2 long_pub(kp.priv, kp.pub + "1");
    EXPECT_THROW(long_pub.encrypt(Bytes{1}), std::invalid_argument);
    // A public key that is not a point of the curve is refused, not encrypted to.
    const CryptSM2 off_curve(kp.priv, kp.pub.substr(0, 64) + hex64(H(kp.pub.substr(64)) + 1));
    EXPECT_THROW(off_curve.encrypt(Bytes{1}), std::invalid_argument);
    EccTable t = default_ecc_table;
    t["g"] = *e._kg(2, G());
    const CryptSM2 off_curve_generic(kp.priv, *off_curve.public_key, t);
    EXPECT_THROW(off_curve_generic.encrypt(Bytes{1}), std::invalid_argument);
    // A call that throws changes nothing.
    EXPECT_EQ(e.private_key, kp.priv);
    EXPECT_EQ(e.public_key, kp.pub);
}

TEST(Sm2Encrypt, FastPathMatchesGenericPath) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    const auto& c = curve_of(e);
    const BigInt& n = N();
    std::vector<std::string> ks = {"1", "2", hex64(n - 1), hex64(n + 1), hex64(two_256() - 1),
                                   kK,  "0"};
    for (int i = 0; i < 6; ++i) ks.push_back(pelmo::func::random_hex(64));
    for (int mode : {0, 1}) {
        for (const std::string& k : ks) {
            const KeyPair kp = fresh_keys();
            const auto PB = sm2d::fast::parse_point(kp.pub);
            ASSERT_TRUE(PB.has_value());
            const Bytes m = random_bytes(1 + pelmo::test::rng()() % 70);
            const auto fast = sm2d::fast::encrypt(m, *PB, scalar_of(k), mode);
            const auto generic = sm2d::generic::encrypt(c, m, kp.pub, k, mode);
            ASSERT_EQ(fast, generic) << "k = " << k;
            if (!fast) continue;  // an all-zero key stream, alike on both paths
            ASSERT_EQ(sm2d::fast::decrypt(*fast, scalar_of(kp.priv), mode), m);
            ASSERT_EQ(sm2d::generic::decrypt(c, *fast, kp.priv, mode), m);
            Bytes bad = *fast;
            bad.back() ^= 1;
            ASSERT_EQ(sm2d::fast::decrypt(bad, scalar_of(kp.priv), mode), std::nullopt);
            ASSERT_EQ(sm2d::generic::decrypt(c, bad, kp.priv, mode), std::nullopt);
        }
    }
    // k = n and k = n + 2 give no point; both paths refuse them alike.
    const KeyPair kp = fresh_keys();
    const auto PB = sm2d::fast::parse_point(kp.pub);
    for (const BigInt& k : {BigInt(n), BigInt(n + 2)}) {
        EXPECT_THROW(sm2d::fast::encrypt(Bytes{1}, *PB, scalar_of(hex64(k)), 0),
                     std::invalid_argument);
        EXPECT_THROW(sm2d::generic::encrypt(c, Bytes{1}, kp.pub, hex64(k), 0),
                     std::invalid_argument);
    }
    // A private key of more than 64 digits decrypts alike: through the core when its
    // value fits in 256 bits, through the generic path (d + 2^256, the same k*PB
    // there, as _kg reads 256 bits) when it does not.
    const Bytes m = random_bytes(20);
    for (const std::string& d : {"00" + kp.priv, "0" + kp.priv, "1" + kp.priv}) {
        const CryptSM2 long_key(d, kp.pub);
        EXPECT_EQ(long_key.decrypt(encrypt_ok(long_key, m)), m) << d;
    }
    // Leading zeros on k: the same ciphertext.
    const CryptSM2 to(std::nullopt, kp.pub);
    EXPECT_EQ(sm2d::encrypt_with_scalar(to, m, "0000" + kK), sm2d::encrypt_with_scalar(to, m, kK));
}

// k*G and k*P with one shared inversion equal the separate products, on each kernel.
template <class F>
void expect_pair_matches(const pelmo::detail::sm2::curve::Bytes32& k,
                         const pelmo::detail::sm2::curve::Affine& P) {
    using C = pelmo::detail::sm2::curve::Curve<F>;
    pelmo::detail::sm2::curve::Affine kG, kP, want_G, want_P;
    const bool finite = C::mul_base_and_mul(kG, kP, k, P);
    ASSERT_EQ(finite, C::mul_base(want_G, k));
    ASSERT_EQ(finite, C::mul(want_P, k, P));
    if (!finite) return;
    EXPECT_EQ(kG.x, want_G.x);
    EXPECT_EQ(kG.y, want_G.y);
    EXPECT_EQ(kP.x, want_P.x);
    EXPECT_EQ(kP.y, want_P.y);
}

TEST(Sm2Encrypt, PairedMultiplicationMatchesSeparateOnes) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    std::vector<BigInt> ks = {0, 1, 2, N() - 1, N(), N() + 1, N() + 2, two_256() - 1};
    for (int i = 0; i < 8; ++i) ks.push_back(random_below_pow2(256));
    for (const BigInt& kv : ks) {
        const auto k = sm2d::fast::scalar_from_int(kv);
        const auto P = *sm2d::fast::parse_point(*e._kg(random_below_pow2(256), G()));
        expect_pair_matches<pelmo::detail::sm2::curve::FieldPortable>(k, P);
#if defined(PELMO_SM2_HAVE_ADX)
        if (pelmo::detail::cpu_has(pelmo::detail::kCpuBmi2 | pelmo::detail::kCpuAdx))
            expect_pair_matches<pelmo::detail::sm2::curve::FieldAdx>(k, P);
#endif
        // kg_pair gives what _kg gives, k = 0 and k = n + 2 included.
        sm2d::curve::Affine kG, kP;
        const bool ok = sm2d::fast::kg_pair(k, P, kG, kP);
        const std::string P_text = sm2d::fast::format_point(P);
        const auto want_G = e._kg(kv, G()), want_P = e._kg(kv, P_text);
        ASSERT_EQ(ok, want_G.has_value()) << kv.get_str(16);
        ASSERT_EQ(ok, want_P.has_value());
        if (ok) {
            EXPECT_EQ(sm2d::fast::format_point(kG), want_G);
            EXPECT_EQ(sm2d::fast::format_point(kP), want_P);
        }
    }
}

TEST(Sm2Encrypt, OtherCurveTables) {
    // The recommended curve with 2G as base point: not the recommended table, so every
    // step goes through the generic path.
    EccTable t = default_ecc_table;
    const CryptSM2 plain(std::nullopt, std::nullopt);
    t["g"] = *plain._kg(2, G());
    const KeyPair kp = fresh_keys(t);
    ASSERT_FALSE(curve_of(CryptSM2(kp.priv, kp.pub, t)).recommended);
    for (int mode : {0, 1}) {
        const CryptSM2 e(kp.priv, kp.pub, t, mode);
        for (std::size_t len : {1u, 31u, 32u, 33u, 100u}) {
            const Bytes m = random_bytes(len);
            const Bytes c = encrypt_ok(e, m);
            EXPECT_EQ(c.size(), len + 96);
            EXPECT_EQ(e.decrypt(c), m);
            Bytes bad = c;
            bad[70] ^= 0x10;
            EXPECT_EQ(e.decrypt(bad), std::nullopt);
        }
        // Off-curve C1 is refused on this path too.
        const Bytes m = text_bytes("generic");
        const std::string off = G().substr(0, 64) + hex64(H(G().substr(64)) + 1);
        const Bytes c = crafted(e, H(kp.priv), off, m);
        EXPECT_EQ(e.decrypt(mode == 1 ? c : swap_layout(c, 1)), std::nullopt);
    }
}

TEST(Sm2Encrypt, TinyCurveWithOddCoordinateWidth) {
    // y^2 = x^3 + 5x + 3 over 263 elements, order 283: three digits per coordinate, so
    // C1 is three bytes and the check value hashes x2 || M || y2 across nibbles.
    const EccTable t = {{"n", "11b"}, {"p", "107"}, {"a", "5"}, {"b", "3"}, {"g", "001003"}};
    const CryptSM2 probe(std::nullopt, std::nullopt, t);
    ASSERT_TRUE(sm2d::generic::is_on_curve(curve_of(probe), "001003", true))
        << "the base point must lie on the tiny curve";
    for (int mode : {0, 1}) {
        for (int i = 0; i < 10; ++i) {
            const KeyPair kp = fresh_keys(t);
            const CryptSM2 e(kp.priv, kp.pub, t, mode);
            const Bytes m = random_bytes(1 + static_cast<std::size_t>(i) * 7);
            const Bytes c = encrypt_ok(e, m);
            EXPECT_EQ(c.size(), m.size() + 3 + 32);
            EXPECT_EQ(e.decrypt(c), m);
        }
    }
    const CryptSM2 e("5", std::nullopt, t);
    EXPECT_THROW(e.decrypt(Bytes(35, 1)), std::invalid_argument);  // no C2
}

TEST(Sm2Encrypt, OpenSSLCiphertextsDecrypt) {
    std::string priv, pub;
    const auto key = sm2_generate(priv, pub);
    const CryptSM2 e(priv, pub, default_ecc_table, 1);
    for (std::size_t len : {1u, 19u, 32u, 33u, 64u, 200u, 1000u}) {
        const Bytes m = random_bytes(len);
        const Bytes raw = asn1_to_c1c3c2(encrypt(key.get(), m));
        const auto plain = e.decrypt(raw);
        if (!plain && len == 1) {
            // OpenSSL does not redraw k for an all-zero key stream; pelmo reads such a
            // ciphertext as no value. Then C2 is the message itself.
            EXPECT_EQ(raw.back(), m[0]);
            continue;
        }
        EXPECT_EQ(plain, m) << len;
    }
}

TEST(Sm2Encrypt, CiphertextsDecryptWithOpenSSL) {
    std::string priv, pub;
    const auto key = sm2_generate(priv, pub);
    const CryptSM2 e(std::nullopt, pub, default_ecc_table, 1);
    for (std::size_t len : {1u, 19u, 32u, 33u, 64u, 200u, 1000u}) {
        const Bytes m = random_bytes(len);
        const auto plain = decrypt(key.get(), c1c3c2_to_asn1(encrypt_ok(e, m)));
        ASSERT_TRUE(plain.has_value()) << len;
        EXPECT_EQ(*plain, m);
    }
}

}  // namespace
