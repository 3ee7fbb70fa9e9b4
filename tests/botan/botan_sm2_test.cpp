// SM2 against Botan 2 at run time, with random keys made by each side: signatures over
// SM3 with the default and a custom identity, and encryption, in both directions.
// Botan's SM2 ciphertext is the ASN.1 SEQUENCE { x, y, C3, C2 }, which pelmo's
// decryption by structure must recognise as such.
#include <pelmo/crypt_managers.hpp>
#include <pelmo/formats.hpp>
#include <pelmo/sm2.hpp>
#include <pelmo/sm3.hpp>

#include <botan/auto_rng.h>
#include <botan/data_src.h>
#include <botan/ec_group.h>
#include <botan/exceptn.h>
#include <botan/pkcs8.h>
#include <botan/pubkey.h>
#include <botan/sm2.h>
#include <botan/x509_key.h>
#include <gtest/gtest.h>

#include <string>

#include "common/hex.hpp"
#include "sm2/engine.hpp"
#include "sm2/identity.hpp"
#include "support/emulation.hpp"
#include "support/random_input.hpp"

namespace {

using pelmo::Bytes;
using pelmo::ByteView;
using pelmo::detail::from_hex;
using pelmo::detail::to_hex;
namespace fmt = pelmo::formats;

Botan::AutoSeeded_RNG& botan_rng() {
    static Botan::AutoSeeded_RNG rng;
    return rng;
}

const Botan::EC_Group& group() {
    static const Botan::EC_Group g("sm2p256v1");
    return g;
}

// A key pair as pelmo holds it (64 and 128 digits) and as Botan holds it.
struct KeyPair {
    std::string d, pub;
    std::unique_ptr<Botan::SM2_PrivateKey> botan;
};

std::string hex_of(const Botan::BigInt& v) {
    const auto b = Botan::BigInt::encode_1363(v, 32);
    return to_hex(ByteView(b.data(), b.size()));
}

// Made by Botan when botan_made, else by pelmo; the other side imports it.
KeyPair key_pair(bool botan_made) {
    KeyPair k;
    if (botan_made) {
        k.botan = std::make_unique<Botan::SM2_PrivateKey>(botan_rng(), group());
        k.d = hex_of(k.botan->private_value());
        const Botan::PointGFp& q = k.botan->public_point();
        k.pub = hex_of(q.get_affine_x()) + hex_of(q.get_affine_y());
        EXPECT_EQ(pelmo::crypt_managers::SM2Manager(k.d).get_public_key(), k.pub);
    } else {
        pelmo::crypt_managers::SM2Manager m;
        k.d = m.get_private_key();
        k.pub = m.get_public_key();
        const Bytes d = from_hex(k.d);
        k.botan = std::make_unique<Botan::SM2_PrivateKey>(botan_rng(), group(),
                                                          Botan::BigInt(d.data(), d.size()));
        const Botan::PointGFp& q = k.botan->public_point();
        EXPECT_EQ(hex_of(q.get_affine_x()) + hex_of(q.get_affine_y()), k.pub);
    }
    return k;
}

// Botan's parameter string: "identity,SM3".
std::string botan_params(const std::string& id) {
    return id + ",SM3";
}

// e = SM3(Z || M) for an identity, the value pelmo's raw sign and verify take.
Bytes digest_with_identity(const pelmo::sm2::CryptSM2& engine, const std::string& id, ByteView m) {
    const auto z =
        pelmo::detail::sm2::identity_digest(pelmo::detail::sm2::EngineAccess::curve(engine),
                                            *engine.public_key, pelmo::test::as_bytes(id));
    pelmo::sm3::SM3 h;
    h.update(ByteView(z.data(), z.size())).update(m);
    const auto e = h.digest();
    return Bytes(e.begin(), e.end());
}

std::string pelmo_sign(const KeyPair& k, const std::string& id, ByteView m) {
    const pelmo::sm2::CryptSM2 engine(k.d, k.pub);
    const Bytes e = digest_with_identity(engine, id, m);
    for (;;) {
        const std::string nonce = to_hex(pelmo::test::random_bytes(32));
        if (auto sig = id == pelmo::detail::sm2::kDefaultIdentity ? engine.sign_with_sm3(m, nonce)
                                                                  : engine.sign(e, nonce))
            return *sig;
    }
}

bool pelmo_verify(const KeyPair& k, const std::string& id, const std::string& sig, ByteView m) {
    const pelmo::sm2::CryptSM2 engine(std::nullopt, k.pub);
    if (id == pelmo::detail::sm2::kDefaultIdentity) return engine.verify_with_sm3(sig, m);
    return engine.verify(sig, digest_with_identity(engine, id, m));
}

const std::string kIdentities[] = {"1234567812345678", "ALICE123@YAHOO.COM", "x"};

TEST(BotanSm2, KeyFilesCrossBothWays) {
    for (const bool botan_made : {false, true}) {
        const KeyPair k = key_pair(botan_made);
        // Botan names SM2 signatures as the algorithm (1.2.156.10197.1.301.1) in both files,
        // with the curve as parameter.
        const auto spki = Botan::X509::BER_encode(*k.botan);
        EXPECT_EQ(fmt::sm2_public_key_from_any(ByteView(spki.data(), spki.size())), k.pub);
        EXPECT_EQ(fmt::sm2_public_key_from_any(Botan::X509::PEM_encode(*k.botan)), k.pub);
        const auto pkcs8 = Botan::PKCS8::BER_encode(*k.botan);
        const fmt::Sm2PrivateKey mine =
            fmt::sm2_private_key_from_der(ByteView(pkcs8.data(), pkcs8.size()));
        EXPECT_EQ(mine.private_key, k.d);
        EXPECT_EQ(mine.public_key, k.pub);
        // Botan reads pelmo's files (id-ecPublicKey with the SM2 curve) and gets the key.
        const Bytes der = fmt::sm2_private_key_to_der(k.d, k.pub);
        Botan::DataSource_Memory src(der.data(), der.size());
        const std::unique_ptr<Botan::Private_Key> theirs = Botan::PKCS8::load_key(src);
        const auto* ec = dynamic_cast<const Botan::EC_PrivateKey*>(theirs.get());
        ASSERT_NE(ec, nullptr);
        EXPECT_EQ(hex_of(ec->private_value()), k.d);
        const Bytes pub_der = fmt::sm2_public_key_to_der(k.pub);
        const std::unique_ptr<Botan::Public_Key> pub(
            Botan::X509::load_key(std::vector<std::uint8_t>(pub_der.begin(), pub_der.end())));
        const auto* ec_pub = dynamic_cast<const Botan::EC_PublicKey*>(pub.get());
        ASSERT_NE(ec_pub, nullptr);
        EXPECT_EQ(hex_of(ec_pub->public_point().get_affine_x()) +
                      hex_of(ec_pub->public_point().get_affine_y()),
                  k.pub);
    }
}

TEST(BotanSm2, SignaturesVerifyBothWays) {
    const int rounds = pelmo::test::iterations(3, 1);
    for (int r = 0; r < rounds; ++r) {
        for (const bool botan_made : {false, true}) {
            const KeyPair k = key_pair(botan_made);
            for (const std::string& id : kIdentities) {
                SCOPED_TRACE(id + (botan_made ? ", Botan's key" : ", pelmo's key"));
                const Bytes m = pelmo::test::random_bytes(1 + pelmo::test::rng()() % 100);
                // Botan signs (r || s, 64 bytes), pelmo verifies.
                Botan::PK_Signer signer(*k.botan, botan_rng(), botan_params(id));
                const auto sig = signer.sign_message(m.data(), m.size(), botan_rng());
                ASSERT_EQ(sig.size(), 64u);
                const std::string sig_hex = to_hex(ByteView(sig.data(), sig.size()));
                EXPECT_TRUE(pelmo_verify(k, id, sig_hex, m));
                Bytes other = m;
                other[0] ^= 1;
                EXPECT_FALSE(pelmo_verify(k, id, sig_hex, other));
                // pelmo signs, Botan verifies; with another identity it fails.
                const Bytes mine = from_hex(pelmo_sign(k, id, m));
                Botan::PK_Verifier verifier(*k.botan, botan_params(id));
                EXPECT_TRUE(verifier.verify_message(m.data(), m.size(), mine.data(), mine.size()));
                Botan::PK_Verifier wrong_id(*k.botan, botan_params(id + "!"));
                EXPECT_FALSE(wrong_id.verify_message(m.data(), m.size(), mine.data(), mine.size()));
            }
            // Botan 2's empty parameter is the empty identity, not pelmo's default.
            const Bytes m = pelmo::test::random_bytes(20);
            const Bytes mine = from_hex(pelmo_sign(k, "1234567812345678", m));
            Botan::PK_Verifier plain(*k.botan, "");
            EXPECT_FALSE(plain.verify_message(m.data(), m.size(), mine.data(), mine.size()));
            Botan::PK_Signer empty(*k.botan, botan_rng(), "");
            const auto sig = empty.sign_message(m.data(), m.size(), botan_rng());
            EXPECT_TRUE(pelmo_verify(k, "", to_hex(ByteView(sig.data(), sig.size())), m));
        }
    }
}

TEST(BotanSm2, EncryptionBothWays) {
    const int rounds = pelmo::test::iterations(3, 1);
    for (int r = 0; r < rounds; ++r) {
        for (const bool botan_made : {false, true}) {
            const KeyPair k = key_pair(botan_made);
            for (const std::size_t len : {1u, 32u, 33u, 150u}) {
                SCOPED_TRACE(std::to_string(len) +
                             (botan_made ? ", Botan's key" : ", pelmo's key"));
                const Bytes m = pelmo::test::random_bytes(len);
                // Botan encrypts; pelmo finds the ASN.1 layout and decrypts. Botan 2 keeps k
                // when the key stream comes out all zero (a chance of 2^-8 per byte of
                // message), which the standard forbids and pelmo refuses: one-byte messages
                // go from pelmo to Botan only.
                if (len >= 8) {
                    Botan::PK_Encryptor_EME enc(*k.botan, botan_rng(), "SM3");
                    const auto c = enc.encrypt(m, botan_rng());
                    const Bytes theirs(c.begin(), c.end());
                    const auto got = fmt::sm2_decrypt_any_layout(theirs, k.d);
                    ASSERT_TRUE(got.has_value());
                    EXPECT_EQ(got->plaintext, m);
                    EXPECT_EQ(got->layout, fmt::Sm2CiphertextLayout::asn1);
                }
                // pelmo encrypts (ASN.1), Botan decrypts; a flipped bit is refused.
                const pelmo::sm2::CryptSM2 engine(std::nullopt, k.pub,
                                                  pelmo::sm2::default_ecc_table, 1);
                std::optional<Bytes> mine;
                while (!(mine = engine.encrypt(m))) {
                }
                Bytes asn1 = fmt::sm2_ciphertext_convert(*mine, fmt::Sm2CiphertextLayout::c1c3c2,
                                                         fmt::Sm2CiphertextLayout::asn1);
                Botan::PK_Decryptor_EME dec(*k.botan, botan_rng(), "SM3");
                const auto back = dec.decrypt(asn1);
                EXPECT_EQ(Bytes(back.begin(), back.end()), m);
                asn1.back() ^= 1;
                EXPECT_THROW(dec.decrypt(asn1), Botan::Exception);
            }
        }
    }
}

}  // namespace
