// SM2 key and ciphertext formats, against OpenSSL's own files.
#include <pelmo/crypt_managers.hpp>
#include <pelmo/formats.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "common/der.hpp"
#include "common/hex.hpp"
#include "formats/sm2_keys.hpp"
#include "support/command.hpp"
#include "support/example_keys.hpp"
#include "support/random_input.hpp"

namespace {

namespace fmt = pelmo::formats;
using pelmo::Bytes;
using pelmo::test::run_command;
using pelmo::test::TempDir;

// The GM/T 0003.5 example key pair.
const std::string& kPriv = pelmo::test::kExamplePrivateKey;
const std::string& kPub = pelmo::test::kExamplePublicKey;

// The 64 hexadecimal digits of the private key that `openssl pkey -text` prints.
std::string openssl_private_hex(const std::string& pem_file) {
    const auto r = run_command("openssl pkey -in '" + pem_file + "' -text -noout");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string digits;
    const std::size_t at = r.out.find("priv:");
    const std::size_t end = r.out.find("pub:");
    for (std::size_t i = at + 5; i < end; ++i)
        if (std::isxdigit(static_cast<unsigned char>(r.out[i]))) digits += r.out[i];
    return digits.substr(digits.size() - 64);
}

TEST(Sm2KeyFormats, OpenSslReadsWhatPelmoWrites) {
    TempDir dir;
    dir.write("k.pem", fmt::sm2_private_key_to_pem(kPriv, kPub));
    dir.write("p.pem", fmt::sm2_public_key_to_pem(kPub));
    EXPECT_EQ(openssl_private_hex(dir.path("k.pem")), kPriv);
    // OpenSSL derives the same public key from our private key file.
    const auto pub = run_command("openssl pkey -in '" + dir.path("k.pem") + "' -pubout");
    ASSERT_EQ(pub.status, 0) << pub.err;
    EXPECT_EQ(pub.out, dir.read("p.pem"));
    const auto check = run_command("openssl pkey -pubin -in '" + dir.path("p.pem") + "' -noout");
    EXPECT_EQ(check.status, 0) << check.err;
}

TEST(Sm2KeyFormats, PelmoReadsWhatOpenSslWrites) {
    TempDir dir;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(
            run_command("openssl genpkey -algorithm SM2 -out '" + dir.path("k.pem") + "'").status,
            0);
        ASSERT_EQ(run_command("openssl pkey -in '" + dir.path("k.pem") + "' -pubout -out '" +
                              dir.path("p.pem") + "'")
                      .status,
                  0);
        ASSERT_EQ(run_command("openssl pkey -in '" + dir.path("k.pem") + "' -outform DER -out '" +
                              dir.path("k.der") + "'")
                      .status,
                  0);
        const fmt::Sm2PrivateKey key = fmt::sm2_private_key_from_pem(dir.read("k.pem"));
        EXPECT_EQ(key.private_key, openssl_private_hex(dir.path("k.pem")));
        EXPECT_EQ(key.public_key, fmt::sm2_public_key_from_pem(dir.read("p.pem")));
        const std::string der = dir.read("k.der");
        EXPECT_EQ(fmt::sm2_private_key_from_der(pelmo::test::as_bytes(der)).private_key,
                  key.private_key);
        // Byte-identical when written back.
        EXPECT_EQ(fmt::sm2_private_key_to_pem(key.private_key, key.public_key), dir.read("k.pem"));
        EXPECT_EQ(fmt::sm2_public_key_to_pem(key.public_key), dir.read("p.pem"));
    }
    // The SEC 1 form ("EC PRIVATE KEY") is read as well.
    ASSERT_EQ(
        run_command("openssl ec -in '" + dir.path("k.pem") + "' -out '" + dir.path("ec.pem") + "'")
            .status,
        0);
    EXPECT_EQ(fmt::sm2_private_key_from_pem(dir.read("ec.pem")).private_key,
              fmt::sm2_private_key_from_pem(dir.read("k.pem")).private_key);
}

TEST(Sm2KeyFormats, DerivesOrChecksThePublicKey) {
    const Bytes der = fmt::sm2_private_key_to_der(kPriv, kPub);
    const auto key = fmt::sm2_private_key_from_der(der);
    EXPECT_EQ(key.private_key, kPriv);
    EXPECT_EQ(key.public_key, kPub);
    // Upper case and a "04" prefix are accepted on the way in; output is lower case.
    std::string upper = kPub;
    for (auto& c : upper) c = static_cast<char>(std::toupper(c));
    EXPECT_EQ(fmt::sm2_public_key_from_der(fmt::sm2_public_key_to_der("04" + upper)), kPub);
    // A file whose stored public key belongs to another private key is refused.
    pelmo::crypt_managers::SM2Manager other;
    const Bytes mismatched = fmt::sm2_private_key_to_der(kPriv, other.get_public_key());
    EXPECT_THROW(fmt::sm2_private_key_from_der(mismatched), std::invalid_argument);
}

TEST(Sm2KeyFormats, BadInputIsRejected) {
    const std::string n = "fffffffeffffffffffffffffffffffff7203df6b21c6052b53bbf40939d54123";
    EXPECT_THROW(fmt::sm2_private_key_to_der(std::string(64, '0'), kPub), std::invalid_argument);
    EXPECT_THROW(fmt::sm2_private_key_to_der(n, kPub), std::invalid_argument);
    EXPECT_THROW(fmt::sm2_private_key_to_der(kPriv.substr(2), kPub), std::invalid_argument);
    EXPECT_THROW(fmt::sm2_private_key_to_der("zz" + kPriv.substr(2), kPub), std::invalid_argument);
    std::string off_curve = kPub;
    off_curve.back() = off_curve.back() == '3' ? '4' : '3';
    EXPECT_THROW(fmt::sm2_public_key_to_der(off_curve), std::invalid_argument);

    const Bytes good = fmt::sm2_private_key_to_der(kPriv, kPub);
    for (std::size_t cut = 1; cut < good.size(); cut += 7)
        EXPECT_THROW(fmt::sm2_private_key_from_der(pelmo::ByteView(good.data(), good.size() - cut)),
                     std::invalid_argument);
    Bytes trailing = good;
    trailing.push_back(0);
    EXPECT_THROW(fmt::sm2_private_key_from_der(trailing), std::invalid_argument);
    const Bytes pub = fmt::sm2_public_key_to_der(kPub);
    Bytes wrong_oid = pub;
    wrong_oid[pub.size() - 68 - 1] ^= 1;  // last octet of the curve OID, before the BIT STRING
    EXPECT_THROW(fmt::sm2_public_key_from_der(wrong_oid), std::invalid_argument);
    EXPECT_THROW(fmt::sm2_public_key_from_pem("not a pem"), std::invalid_argument);
    EXPECT_THROW(fmt::sm2_public_key_from_pem(
                     "-----BEGIN PUBLIC KEY-----\n!!!!\n-----END PUBLIC KEY-----\n"),
                 std::invalid_argument);

    // A P-256 key from OpenSSL is not an SM2 key.
    TempDir dir;
    ASSERT_EQ(run_command("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out '" +
                          dir.path("p256.pem") + "'")
                  .status,
              0);
    try {
        fmt::sm2_private_key_from_pem(dir.read("p256.pem"));
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("curve is not SM2"), std::string::npos) << e.what();
    }
}

// SEC 1 ECPrivateKey { 1, d } and PKCS#8 around it, without a public key.
Bytes sec1_der(const Bytes& d) {
    namespace der = pelmo::detail::der;
    Bytes body, out;
    der::write_unsigned_integer(body, Bytes{1});
    der::write(body, der::kOctetString, d);
    der::write(out, der::kSequence, body);
    return out;
}
Bytes pkcs8_der(const Bytes& d) {
    namespace der = pelmo::detail::der;
    const Bytes spki = fmt::sm2_public_key_to_der(kPub);
    Bytes body, out;
    der::write_unsigned_integer(body, Bytes{});
    body.insert(body.end(), spki.begin() + 2, spki.begin() + 23);  // the AlgorithmIdentifier
    der::write(body, der::kOctetString, sec1_der(d));
    der::write(out, der::kSequence, body);
    return out;
}

TEST(Sm2KeyFormats, PrivateKeyRangeIsOneToNMinusTwoEverywhere) {
    const struct {
        std::string d;
        bool ok;
    } cases[] = {
        {std::string(64, '0'), false},
        {std::string(63, '0') + "1", true},
        {"FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54121", true},   // n - 2
        {"fffffffeffffffffffffffffffffffff7203df6b21c6052b53bbf40939d54122", false},  // n - 1
        {"fffffffeffffffffffffffffffffffff7203df6b21c6052b53bbf40939d54123", false},  // n
        {"fffffffeffffffffffffffffffffffff7203df6b21c6052b53bbf40939d54124", false},  // n + 1
        {"ffffffff00000000000000000000000000000000000000000000000000000000", false},
        {std::string(64, 'f'), false},
        {kPriv, true},
    };
    for (const auto& c : cases) {
        std::string lower = c.d;
        for (auto& ch : lower) ch = static_cast<char>(std::tolower(ch));
        const Bytes d = pelmo::detail::from_hex(c.d);
        const std::string pub =
            c.ok ? pelmo::crypt_managers::SM2Manager(lower).get_public_key() : kPub;
        const std::function<fmt::Sm2PrivateKey()> importers[] = {
            [&] { return fmt::sm2_private_key_from_der(sec1_der(d)); },
            [&] { return fmt::sm2_private_key_from_der(pkcs8_der(d)); },
            [&] {
                return fmt::sm2_private_key_from_pem(
                    fmt::pem_encode(sec1_der(d), "EC PRIVATE KEY"));
            },
            [&] {
                return fmt::sm2_private_key_from_pem(
                    fmt::pem_encode(sec1_der(d), "SM2 PRIVATE KEY"));
            },
            [&] {
                return fmt::sm2_private_key_from_pem(fmt::pem_encode(pkcs8_der(d), "PRIVATE KEY"));
            },
            [&] { return pelmo::detail::sm2_keys::key_pair_from_hex(c.d); },
            [&] { return fmt::sm2_private_key_from_der(fmt::sm2_private_key_to_der(c.d, pub)); },
            [&] { return fmt::sm2_private_key_from_pem(fmt::sm2_private_key_to_pem(c.d, pub)); },
        };
        for (std::size_t i = 0; i < std::size(importers); ++i) {
            SCOPED_TRACE(c.d + " importer " + std::to_string(i));
            try {
                const fmt::Sm2PrivateKey key = importers[i]();
                EXPECT_TRUE(c.ok);
                EXPECT_EQ(key.private_key, lower);
                EXPECT_EQ(key.public_key, pub);
            } catch (const std::invalid_argument& e) {
                EXPECT_FALSE(c.ok) << e.what();
                // The message names the range, never the key.
                EXPECT_STREQ(e.what(), "SM2 private key out of range [1, n-2]");
            }
        }
    }
    // Fewer than 32 octets in a SEC 1 key are the same number.
    EXPECT_EQ(fmt::sm2_private_key_from_der(sec1_der({0x01})).private_key,
              std::string(63, '0') + "1");
    EXPECT_THROW(fmt::sm2_private_key_from_der(sec1_der({0x00})), std::invalid_argument);
}

TEST(Sm2CiphertextFormat, RoundTripsAndLayouts) {
    for (std::size_t c2_len : {1u, 19u, 300u}) {
        Bytes raw = pelmo::test::random_bytes(64 + 32 + c2_len);
        raw[0] = 0;  // x with a leading zero octet still comes back at full width
        raw[1] = 0x05;
        for (int mode : {0, 1}) {
            const Bytes asn1 = fmt::sm2_ciphertext_to_asn1(raw, mode);
            EXPECT_EQ(fmt::sm2_ciphertext_from_asn1(asn1, mode), raw);
        }
        // The two layouts differ only in the order of C2 and C3.
        const Bytes as_mode1 =
            fmt::sm2_ciphertext_from_asn1(fmt::sm2_ciphertext_to_asn1(raw, 0), 1);
        EXPECT_EQ(Bytes(as_mode1.begin() + 64, as_mode1.begin() + 96),
                  Bytes(raw.end() - 32, raw.end()));
    }
    EXPECT_THROW(fmt::sm2_ciphertext_to_asn1(Bytes(96, 1), 0), std::invalid_argument);
    EXPECT_THROW(fmt::sm2_ciphertext_to_asn1(Bytes(100, 1), 2), std::invalid_argument);
    const Bytes asn1 = fmt::sm2_ciphertext_to_asn1(pelmo::test::random_bytes(120), 1);
    for (std::size_t cut = 1; cut < asn1.size(); cut += 5)
        EXPECT_THROW(
            fmt::sm2_ciphertext_from_asn1(pelmo::ByteView(asn1.data(), asn1.size() - cut), 1),
            std::invalid_argument);
    Bytes trailing = asn1;
    trailing.push_back(0);
    EXPECT_THROW(fmt::sm2_ciphertext_from_asn1(trailing, 1), std::invalid_argument);
}

TEST(Der, WriterUsesMinimalForms) {
    // The reader's rejections are covered with the signature codec that shares it.
    namespace der = pelmo::detail::der;
    Bytes out;
    der::write_unsigned_integer(out, Bytes{0x00, 0x00, 0x80});
    EXPECT_EQ(out, (Bytes{0x02, 0x02, 0x00, 0x80}));
    out.clear();
    der::write(out, der::kOctetString, Bytes(200, 7));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{0x04, 0x81, 200}));
    der::Reader r(out, "test");
    EXPECT_EQ(r.read(der::kOctetString, "OCTET STRING").size(), 200u);
}

}  // namespace
