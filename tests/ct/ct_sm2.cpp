// SM2 on the recommended curve with its secrets marked: private keys and nonces given
// as text, key generation, scalar multiplication by a secret scalar, encryption with a
// secret k and decryption with a secret private key, in a known layout or one told by
// structure (both splits of C2 and C3 tried with one shared point).
#include <pelmo/crypt_managers.hpp>
#include <pelmo/formats.hpp>
#include <pelmo/sm2.hpp>

#include <cstdlib>
#include <string>

#include "common/cpu.hpp"
#include "common/hex.hpp"
#include "ct_check.hpp"
#include "sm2/curve/curve.hpp"
#include "sm2/curve/field_adx.hpp"
#include "sm2/curve/mult.hpp"
#include "sm2/encrypt.hpp"
#include "support/example_keys.hpp"

namespace {

using pelmo::crypt_managers::SM2Manager;
using pelmo::sm2::CryptSM2;

const std::string kD = pelmo::test::upper(pelmo::test::kExamplePrivateKey);
const std::string kPub = pelmo::test::upper(pelmo::test::kExamplePublicKey);
const std::string kK = "59276E27D506861A16680F3AD9C02DCCEF3CC1FA3CDBE4CE6D54B80DEAC1BC21";

void require(bool ok) {
    if (!ok) std::abort();
}

void sign_with_secret_key_and_nonce(bool asn1) {
    CryptSM2 e(kD, kPub, pelmo::sm2::default_ecc_table, 0, asn1);
    std::string K = kK;
    pelmo::ct_check::classify(e.private_key->data(), e.private_key->size());
    pelmo::ct_check::classify(K.data(), K.size());
    const std::uint8_t digest[32] = {0x5a, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    const auto sig = e.sign(digest, K);
    require(sig.has_value() && e.verify(*sig, digest));
}

}  // namespace

PELMO_CT_CHECK_CASE(sm2_sign_raw_with_secret_key_and_nonce) {
    sign_with_secret_key_and_nonce(false);
}

PELMO_CT_CHECK_CASE(sm2_sign_der_with_secret_key_and_nonce) {
    sign_with_secret_key_and_nonce(true);
}

PELMO_CT_CHECK_CASE(sm2_sign_with_short_secret_nonce) {
    CryptSM2 e(kD, kPub);
    std::string K = "1f2e3d";
    pelmo::ct_check::classify(e.private_key->data(), e.private_key->size());
    pelmo::ct_check::classify(K.data(), K.size());
    const std::uint8_t data[] = {1, 2, 3};
    require(e.sign(data, K).has_value());
}

namespace {

// The 64-digit key with leading zeros: 66 and 65 digits, values that fit in 256 bits.
const std::string kPrefixedKeys[] = {"00" + kD, "0" + kD};
// n - 1 (1 + d has no inverse), 0 and n: no signature.
const std::string kOutOfRangeKeys[] = {
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54122", std::string(64, '0'),
    "00FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123"};

}  // namespace

PELMO_CT_CHECK_CASE(sm2_sign_with_prefixed_secret_keys_and_nonce) {
    const std::uint8_t digest[32] = {0x5a, 0x01, 0x02, 0x03};
    const auto want = CryptSM2(kD, kPub).sign(digest, kK);
    for (const std::string& d : kPrefixedKeys) {
        for (const std::string& k : {kK, "00" + kK}) {
            CryptSM2 e(d, kPub);
            std::string K = k;
            pelmo::ct_check::classify(e.private_key->data(), e.private_key->size());
            pelmo::ct_check::classify(K.data(), K.size());
            require(e.sign(digest, K) == want);
        }
    }
}

PELMO_CT_CHECK_CASE(sm2_sign_with_sm3_with_prefixed_secret_keys) {
    const std::uint8_t msg[] = {'m', 's', 'g'};
    for (const std::string& d : kPrefixedKeys) {
        CryptSM2 e(d, kPub);
        pelmo::ct_check::classify(e.private_key->data(), e.private_key->size());
        const auto sig = e.sign_with_sm3(msg);
        require(sig.has_value() && e.verify_with_sm3(*sig, msg));
    }
}

PELMO_CT_CHECK_CASE(sm2_sign_with_out_of_range_secret_keys) {
    const std::uint8_t digest[32] = {0x5a, 0x01, 0x02, 0x03};
    for (const std::string& d : kOutOfRangeKeys) {
        CryptSM2 e(d, kPub);
        std::string K = kK;
        pelmo::ct_check::classify(e.private_key->data(), e.private_key->size());
        pelmo::ct_check::classify(K.data(), K.size());
        require(!e.sign(digest, K).has_value());
        SM2Manager m(d, kPub);
        pelmo::ct_check::classify(m.private_key->data(), m.private_key->size());
        require(!m.signature("text").has_value());
    }
}

PELMO_CT_CHECK_CASE(sm2_manager_with_prefixed_secret_keys) {
    for (const std::string& d : kPrefixedKeys) {
        SM2Manager m(d);
        pelmo::ct_check::classify(m.private_key->data(), m.private_key->size());
        require(pelmo::detail::to_hex(pelmo::detail::from_hex(m.get_public_key())) ==
                pelmo::detail::to_hex(pelmo::detail::from_hex(kPub)));
        const auto sig = m.signature("constant time");
        require(sig.has_value() && m.validate(*sig, "constant time"));
    }
}

PELMO_CT_CHECK_CASE(sm2_manager_key_generation_and_signature) {
    // The manager marks its random draws secret itself.
    SM2Manager m;
    const std::string pub = m.get_public_key();
    require(pub.size() == 128 && m.get_private_key().size() == 64);
    const auto sig = m.signature("constant time");
    require(sig.has_value() && m.validate(*sig, "constant time"));
    SM2Manager only_private;
    only_private.get_private_key();
    require(only_private.get_public_key().size() == 128);
}

PELMO_CT_CHECK_CASE(sm2_generate_key_pair) {
    // The draw is marked secret inside the library until the pair is returned.
    const auto [d, pub] = CryptSM2::generate_key_pair();
    require(d.size() == 64 && pub.size() == 128);
    const CryptSM2 signer(d, pub);
    const auto sig = signer.sign_with_sm3("constant time");
    require(sig.has_value() && signer.verify_with_sm3(*sig, "constant time"));
}

PELMO_CT_CHECK_CASE(sm2_public_key_from_secret_private_key) {
    SM2Manager m(kD);
    pelmo::ct_check::classify(m.private_key->data(), m.private_key->size());
    require(m.get_public_key().size() == 128);
}

PELMO_CT_CHECK_CASE(sm2_kg_with_secret_scalar) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    pelmo::BigInt k = pelmo::detail::parse_hex_int(kK);
    // The limbs are secret; the limb count is what GMP itself publishes.
    pelmo::ct_check::classify(mpz_limbs_read(k.get_mpz_t()), 4 * sizeof(mp_limb_t));
    const auto on_g = e._kg(k, pelmo::sm2::default_ecc_table.at("g"));
    const auto on_p = e._kg(k, kPub);
    require(on_g.has_value() && on_p.has_value());
}

namespace {

// The GM/T 0003.5 encryption example's message; a message of several key-stream blocks.
const std::string kMessage = "encryption standard";

pelmo::Bytes bytes_of(const std::string& s) {
    return pelmo::Bytes(s.begin(), s.end());
}

void encrypt_then_decrypt_with_secret_key(int mode, std::size_t length) {
    // encrypt draws k itself and keeps it marked secret; the private key is marked here.
    CryptSM2 e(kD, kPub, pelmo::sm2::default_ecc_table, mode);
    pelmo::Bytes m(length);
    for (std::size_t i = 0; i < length; ++i) m[i] = static_cast<std::uint8_t>(i * 7 + 1);
    const auto c = e.encrypt(m);
    require(c.has_value() && c->size() == length + 96);
    pelmo::ct_check::classify(e.private_key->data(), e.private_key->size());
    require(e.decrypt(*c) == m);
    // A failing check value publishes only the failure.
    pelmo::Bytes bad = *c;
    bad[70] ^= 1;
    require(!e.decrypt(bad).has_value());
}

}  // namespace

PELMO_CT_CHECK_CASE(sm2_encrypt_with_secret_given_scalar) {
    const CryptSM2 e(std::nullopt, kPub);
    std::string K = kK;
    pelmo::ct_check::classify(K.data(), K.size());
    const auto c = pelmo::detail::sm2::encrypt_with_scalar(e, bytes_of(kMessage), K);
    require(c.has_value() && c->size() == kMessage.size() + 96);
}

PELMO_CT_CHECK_CASE(sm2_encrypt_decrypt_layout0_with_secret_key_and_scalar) {
    encrypt_then_decrypt_with_secret_key(0, 19);
}

PELMO_CT_CHECK_CASE(sm2_encrypt_decrypt_layout1_long_message) {
    encrypt_then_decrypt_with_secret_key(1, 100);
}

PELMO_CT_CHECK_CASE(sm2_decrypt_standard_example_with_secret_key) {
    CryptSM2 e(kD, kPub, pelmo::sm2::default_ecc_table, 1);
    pelmo::ct_check::classify(e.private_key->data(), e.private_key->size());
    const auto m = e.decrypt(
        pelmo::detail::from_hex("04EBFC718E8D1798620432268E77FEB6415E2EDE0E073C0F4F640ECD2E149A73"
                                "E858F9D81E5430A57B36DAAB8F950A3C64E6EE6A63094D99283AFF767E124DF0"
                                "59983C18F809E262923C53AEC295D30383B54E39D609D160AFCB1908D0BD8766"
                                "21886CA989CA9C7D58087307CA93092D651EFA"));
    require(m == bytes_of(kMessage));
}

PELMO_CT_CHECK_CASE(sm2_decrypt_with_prefixed_secret_keys) {
    for (int mode : {0, 1}) {
        for (const std::string& d : kPrefixedKeys) {
            CryptSM2 e(d, kPub, pelmo::sm2::default_ecc_table, mode);
            const pelmo::Bytes m = bytes_of(kMessage);
            const auto c = e.encrypt(m);
            require(c.has_value());
            pelmo::ct_check::classify(e.private_key->data(), e.private_key->size());
            require(e.decrypt(*c) == m);
            pelmo::Bytes bad = *c;
            bad[70] ^= 1;
            require(!e.decrypt(bad).has_value());
        }
    }
}

PELMO_CT_CHECK_CASE(sm2_encrypt_with_prefixed_secret_given_scalar) {
    const CryptSM2 e(std::nullopt, kPub);
    const auto want = pelmo::detail::sm2::encrypt_with_scalar(e, bytes_of(kMessage), kK);
    std::string K = "000" + kK;
    pelmo::ct_check::classify(K.data(), K.size());
    require(pelmo::detail::sm2::encrypt_with_scalar(e, bytes_of(kMessage), K) == want);
}

PELMO_CT_CHECK_CASE(sm2_sign_with_sm3_with_secret_key) {
    CryptSM2 e(kD, kPub);
    pelmo::ct_check::classify(e.private_key->data(), e.private_key->size());
    const std::uint8_t msg[] = {'m', 'e', 's', 's', 'a', 'g', 'e'};
    const auto drawn = e.sign_with_sm3(msg);  // k drawn and marked secret inside
    std::string K = kK;
    pelmo::ct_check::classify(K.data(), K.size());
    const auto given = e.sign_with_sm3(msg, K);
    require(drawn.has_value() && given.has_value() && e.verify_with_sm3(*drawn, msg) &&
            e.verify_with_sm3(*given, msg));
}

namespace {

namespace curve = pelmo::detail::sm2::curve;

// k*G and k*P with one shared inversion, on the kernel F, against the separate products.
template <class F>
void check_mul_base_and_mul() {
    curve::Bytes32 k;
    pelmo::detail::from_hex_into(kK, k);
    curve::Affine P;
    pelmo::detail::from_hex_into(kPub.substr(0, 64), P.x);
    pelmo::detail::from_hex_into(kPub.substr(64), P.y);
    pelmo::ct_check::classify(k.data(), k.size());
    curve::Affine kG, kP, want_G, want_P;
    const bool ok = curve::Curve<F>::mul_base_and_mul(kG, kP, k, P) &&
                    curve::Curve<F>::mul_base(want_G, k) && curve::Curve<F>::mul(want_P, k, P);
    for (curve::Affine* a : {&kG, &kP, &want_G, &want_P}) pelmo::ct_check::declassify(a, sizeof *a);
    require(ok && kG.x == want_G.x && kG.y == want_G.y && kP.x == want_P.x && kP.y == want_P.y);
}

}  // namespace

PELMO_CT_CHECK_CASE(sm2_curve_mul_base_and_mul_portable) {
    check_mul_base_and_mul<curve::FieldPortable>();
}

// Valgrind hides BMI2 and ADX from CPUID but executes their instructions.
PELMO_CT_CHECK_CASE(sm2_curve_mul_base_and_mul_adx) {
    if (pelmo::detail::cpu_has(pelmo::detail::kCpuBmi2 | pelmo::detail::kCpuAdx) ||
        RUNNING_ON_VALGRIND)
        check_mul_base_and_mul<curve::FieldAdx>();
}

PELMO_CT_CHECK_CASE(sm2_decrypt_any_layout_with_secret_key) {
    namespace fmt = pelmo::formats;
    using Layout = fmt::Sm2CiphertextLayout;
    const CryptSM2 e(std::nullopt, kPub, pelmo::sm2::default_ecc_table, 1);
    const pelmo::Bytes m = bytes_of(kMessage);
    const auto c = e.encrypt(m);
    require(c.has_value());
    std::string d = kD;
    pelmo::ct_check::classify(d.data(), d.size());
    // C1C2C3 fails the first split tried and checks with the second; ASN.1 tries one.
    for (const Layout l : {Layout::c1c2c3, Layout::c1c3c2, Layout::prefixed_c1c2c3, Layout::asn1}) {
        const pelmo::Bytes in = fmt::sm2_ciphertext_convert(*c, Layout::c1c3c2, l, false);
        const auto got = fmt::sm2_decrypt_any_layout(in, d);
        require(got.has_value() && got->plaintext == m && got->layout == l);
        pelmo::Bytes bad = in;
        bad.back() ^= 1;
        require(!fmt::sm2_decrypt_any_layout(bad, d).has_value());
    }
}
