// `pelmo sm2 encrypt/decrypt` with every ciphertext layout and public keys in every
// form: --format auto (the default) tells the layout by structure, the explicit
// layouts still work, and a ciphertext that fails is one message, exit 1, no output.
#include <pelmo/formats.hpp>

#include <gtest/gtest.h>

#include "common/der.hpp"
#include "common/hex.hpp"
#include "support/command.hpp"
#include "support/random_input.hpp"

namespace {

namespace fmt = pelmo::formats;
using pelmo::Bytes;
using pelmo::test::pelmo_tool;
using pelmo::test::q;
using pelmo::test::run_command;
using pelmo::test::TempDir;
using Layout = fmt::Sm2CiphertextLayout;

std::string str(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

Bytes bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

class CliSm2Formats : public ::testing::Test {
  protected:
    void SetUp() override {
        d.write("msg", "interoperable message\n");
        const auto gen = run_command(pelmo_tool() + " sm2 keygen --out " + q(d.path("k.pem")));
        ASSERT_EQ(gen.status, 0) << gen.err;
        key = fmt::sm2_private_key_from_pem(d.read("k.pem"));
    }
    // Runs `pelmo sm2 <args>`.
    pelmo::test::CommandResult sm2(const std::string& args) {
        return run_command(pelmo_tool() + " sm2 " + args);
    }
    std::string decrypt(const std::string& file, const std::string& format = "") {
        const auto r = sm2("decrypt" + (format.empty() ? "" : " --format " + format) + " --key " +
                           q(d.path("k.pem")) + " --in " + q(d.path(file)));
        EXPECT_EQ(r.status, 0) << file << ": " << r.err;
        return r.out;
    }
    TempDir d;
    fmt::Sm2PrivateKey key;
};

TEST_F(CliSm2Formats, EveryLayoutDecryptsByStructure) {
    for (const char* format : {"c1c3c2", "c1c2c3", "04c1c3c2", "04c1c2c3", "asn1"}) {
        SCOPED_TRACE(format);
        const auto enc =
            sm2(std::string("encrypt --format ") + format + " --pubkey " + q(d.path("k.pem")) +
                " --in " + q(d.path("msg")) + " --out " + q(d.path("ct")));
        ASSERT_EQ(enc.status, 0) << enc.err;
        const Bytes ct = bytes(d.read("ct"));
        const Layout layout = fmt::sm2_ciphertext_layout_from_name(format);
        // The file is a valid ciphertext of that layout.
        EXPECT_NO_THROW(fmt::sm2_ciphertext_convert(ct, layout, Layout::c1c3c2));
        EXPECT_EQ(decrypt("ct"), d.read("msg"));
        EXPECT_EQ(decrypt("ct", format), d.read("msg"));
        if (layout == Layout::prefixed_c1c2c3) {
            d.write("small", str(fmt::sm2_ciphertext_convert(ct, layout, layout, true)));
            EXPECT_EQ(decrypt("small", "auto"), d.read("msg"));
            EXPECT_EQ(decrypt("small", format), d.read("msg"));
        }
    }
}

TEST_F(CliSm2Formats, FailuresAreOneMessageAndNoOutput) {
    ASSERT_EQ(sm2("encrypt --pubkey " + q(d.path("k.pem")) + " --in " + q(d.path("msg")) +
                  " --out " + q(d.path("ct")))
                  .status,
              0);
    const std::string ct = d.read("ct");
    std::string flipped = ct,
                asn1_tail =
                    str(fmt::sm2_ciphertext_convert(bytes(ct), Layout::c1c3c2, Layout::asn1));
    flipped.back() ^= 1;
    asn1_tail += '\0';
    const auto garbage = pelmo::test::random_bytes(150);
    const std::pair<std::string, std::string> cases[] = {
        {"flipped", flipped},
        {"truncated", ct.substr(0, 96)},
        {"asn1 trailing", asn1_tail},
        {"garbage", str(garbage)},
        {"empty", ""},
    };
    for (const auto& [what, content] : cases) {
        for (const char* format : {"auto", "asn1"}) {
            SCOPED_TRACE(what + " " + format);
            d.write("bad", content);
            const auto r =
                sm2(std::string("decrypt --format ") + format + " --key " + q(d.path("k.pem")) +
                    " --in " + q(d.path("bad")) + " --out " + q(d.path("plain")));
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(
                r.err,
                "pelmo: decryption failed: wrong key, wrong format or corrupted ciphertext\n");
            EXPECT_NE(run_command("test -e " + q(d.path("plain"))).status, 0);
        }
    }
    // The wrong key is the same failure.
    ASSERT_EQ(sm2("keygen --out " + q(d.path("other.pem"))).status, 0);
    const auto r = sm2("decrypt --key " + q(d.path("other.pem")) + " --in " + q(d.path("ct")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("decryption failed"), std::string::npos);
    EXPECT_EQ(sm2("encrypt --format der --pubkey " + q(d.path("k.pem"))).status, 2);
}

TEST_F(CliSm2Formats, PublicKeysInEveryForm) {
    using E = fmt::Sm2PublicKeyEncoding;
    const std::string& pub = key.public_key;
    const Bytes compressed = fmt::sm2_public_key_encode(pub, E::compressed);
    const std::pair<std::string, std::string> files[] = {
        {"raw.bin", str(fmt::sm2_public_key_encode(pub, E::raw))},
        {"full.bin", str(fmt::sm2_public_key_encode(pub, E::uncompressed))},
        {"small.bin", str(compressed)},
        {"spki.der", str(fmt::sm2_public_key_encode(pub, E::spki_der))},
        {"spki.pem", str(fmt::sm2_public_key_encode(pub, E::spki_pem))},
        {"hex130.txt", "04" + pub + "\n"},
        {"hex66.txt", pelmo::detail::to_hex(compressed) + "\n"},
    };
    std::vector<std::string> args = {pub, "04" + pub, pelmo::detail::to_hex(compressed)};
    for (const auto& [name, content] : files) {
        d.write(name, content);
        args.push_back(q(d.path(name)));
    }
    for (const std::string& arg : args) {
        SCOPED_TRACE(arg);
        const auto hex = sm2("pubkey --hex --key " + arg);
        ASSERT_EQ(hex.status, 0) << hex.err;
        EXPECT_EQ(hex.out, pub + "\n");
    }
    // Encryption takes them through the same loader.
    ASSERT_EQ(sm2("encrypt --pubkey " + q(d.path("small.bin")) + " --in " + q(d.path("msg")) +
                  " --out " + q(d.path("ct")))
                  .status,
              0);
    EXPECT_EQ(decrypt("ct"), d.read("msg"));
    // A point off the curve is refused, whichever form carries it.
    std::string off = pub;
    off.back() = off.back() == '0' ? '1' : '0';
    const auto r = sm2("encrypt --pubkey " + off + " --in " + q(d.path("msg")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not a point of the curve"), std::string::npos) << r.err;
}

TEST_F(CliSm2Formats, Pkcs8KeysNamingSm2AsTheAlgorithm) {
    // pelmo's PKCS#8 key re-encoded with the SM2 OID in place of id-ecPublicKey and the
    // curve.
    namespace der = pelmo::detail::der;
    const Bytes pkcs8 = fmt::sm2_private_key_to_der(key.private_key, key.public_key);
    der::Reader outer(pkcs8, "test");
    der::Reader r(outer.read(der::kSequence, "SEQUENCE"), "test");
    Bytes body = {0x02, 0x01, 0x00}, alg, oid, out;
    (void)r.read(der::kInteger, "version");
    (void)r.read(der::kSequence, "algorithm");
    der::write(oid, der::kOid, Bytes{0x2a, 0x81, 0x1c, 0xcf, 0x55, 0x01, 0x82, 0x2d});
    der::write(alg, der::kSequence, oid);
    body.insert(body.end(), alg.begin(), alg.end());
    der::write(body, der::kOctetString, r.read(der::kOctetString, "key"));
    der::write(out, der::kSequence, body);
    d.write("sm2oid.der", str(out));
    d.write("sm2oid.pem", fmt::pem_encode(out, "PRIVATE KEY"));
    ASSERT_EQ(sm2("encrypt --pubkey " + q(d.path("k.pem")) + " --in " + q(d.path("msg")) +
                  " --out " + q(d.path("ct")))
                  .status,
              0);
    for (const char* file : {"sm2oid.der", "sm2oid.pem"}) {
        const auto dec = sm2("decrypt --key " + q(d.path(file)) + " --in " + q(d.path("ct")));
        EXPECT_EQ(dec.status, 0) << dec.err;
        EXPECT_EQ(dec.out, d.read("msg"));
        EXPECT_EQ(sm2("pubkey --hex --key " + q(d.path(file))).out, key.public_key + "\n");
    }
}

}  // namespace
