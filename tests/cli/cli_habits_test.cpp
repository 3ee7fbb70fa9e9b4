// The pelmo tool as users of openssl and the like expect it to behave: one way to name
// the input, messages that name the mistake, SM2 identities as OpenSSL's distid, and key
// recovery that agrees with sign. (sha256sum's --check: cli_sm3_test; speed by name:
// cli_speed_test.)
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

#include "support/command.hpp"

namespace {

using pelmo::test::pelmo_tool;
using pelmo::test::q;
using pelmo::test::run_command;
using pelmo::test::TempDir;

std::string tool(const std::string& args) {
    return pelmo_tool() + " " + args;
}

const std::string kKey = "0123456789abcdeffedcba9876543210";
const std::string kIv = "000102030405060708090a0b0c0d0e0f";

// --- One way to name the input -------------------------------------------------------

TEST(CliInput, PositionalFileInStdinAndInAgree) {
    TempDir d;
    d.write("msg", "a message of some forty-odd bytes, give or take\n");
    const std::string enc = "sm4 encrypt --key " + kKey + " --iv " + kIv + " ";
    const auto by_in = run_command(tool(enc + "--in " + q(d.path("msg"))));
    ASSERT_EQ(by_in.status, 0) << by_in.err;
    EXPECT_EQ(by_in.out.size(), 64u);
    EXPECT_EQ(run_command(tool(enc + q(d.path("msg")))).out, by_in.out);
    EXPECT_EQ(run_command(tool(enc + "-"), d.read("msg")).out, by_in.out);
    d.write("ct", by_in.out);
    const auto back =
        run_command(tool("sm4 decrypt --key " + kKey + " --iv " + kIv + " " + q(d.path("ct"))));
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(back.out, d.read("msg"));

    // SM2 encryption and decryption, and the key derivations, the same way.
    ASSERT_EQ(run_command(tool("sm2 keygen --out " + q(d.path("k.pem")) + " --pubout " +
                               q(d.path("p.pem"))))
                  .status,
              0);
    ASSERT_EQ(run_command(tool("sm2 encrypt --pubkey " + q(d.path("p.pem")) + " --out " +
                               q(d.path("sm2ct")) + " " + q(d.path("msg"))))
                  .status,
              0);
    const auto plain =
        run_command(tool("sm2 decrypt --key " + q(d.path("k.pem")) + " " + q(d.path("sm2ct"))));
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, d.read("msg"));
    d.write("pw", "password");
    const std::string kdf = "kdf pbkdf2 --salt 73616c74 --iter 2 --len 16 ";
    const auto by_option = run_command(tool(kdf + "--password-file " + q(d.path("pw"))));
    ASSERT_EQ(by_option.status, 0) << by_option.err;
    EXPECT_EQ(run_command(tool(kdf + q(d.path("pw")))).out, by_option.out);
    EXPECT_EQ(run_command(tool(kdf + "-"), "password").out, by_option.out);

    // Two inputs at once is a usage error, whichever command.
    for (const std::string& args :
         {enc + "--in " + q(d.path("msg")) + " " + q(d.path("msg")),
          "sm2 encrypt --pubkey " + q(d.path("p.pem")) + " --in " + q(d.path("msg")) + " -",
          kdf + "--password-file " + q(d.path("pw")) + " " + q(d.path("pw"))}) {
        const auto r = run_command(tool(args));
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err.rfind("pelmo: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("excludes"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

// --- Messages that name the mistake --------------------------------------------------

TEST(CliMessages, NameTheMistake) {
    TempDir d;
    d.write("msg", "abc");
    ASSERT_EQ(run_command(tool("sm2 keygen --out " + q(d.path("k.pem")) + " --pubout " +
                               q(d.path("p.pem"))))
                  .status,
              0);
    ASSERT_EQ(run_command(tool("sm2 pubkey --hex --key " + q(d.path("k.pem")) + " --out " +
                               q(d.path("p.hex"))))
                  .status,
              0);
    ASSERT_EQ(run_command("openssl pkey -pubin -in " + q(d.path("p.pem")) + " -outform DER -out " +
                          q(d.path("p.der")))
                  .status,
              0);
    ASSERT_EQ(run_command("openssl pkcs8 -topk8 -v2 aes-128-cbc -passout pass:secret -in " +
                          q(d.path("k.pem")) + " -out " + q(d.path("enc.pem")))
                  .status,
              0);
    const std::string missing = d.path("missing.txt");
    const std::string public_key = ": this is a public key; a private key is needed\n";
    const struct {
        std::string args, err;
    } cases[] = {
        {"sm4 encrypt --key " + kKey + " --iv " + kIv + " " + q(missing),
         "pelmo: " + missing + ": No such file or directory\n"},
        {"sm2 sign --key " + q(d.path("k.pem")) + " " + q(missing),
         "pelmo: " + missing + ": No such file or directory\n"},
        {"sm2 sign --key " + q(missing) + " " + q(d.path("msg")),
         "pelmo: --key: " + missing + ": No such file or directory\n"},
        {"sm2 verify --pubkey " + q(d.path("p.pem")) + " --sig " + q(missing) + " " +
             q(d.path("msg")),
         "pelmo: " + missing + ": No such file or directory\n"},
        {"sm2 sign --key " + q(d.path("p.pem")) + " " + q(d.path("msg")),
         "pelmo: --key: " + d.path("p.pem") + public_key},
        {"sm2 decrypt --key " + q(d.path("p.der")) + " " + q(d.path("msg")),
         "pelmo: --key: " + d.path("p.der") + public_key},
        {"sm2 sign --key " + q(d.path("p.hex")) + " " + q(d.path("msg")),
         "pelmo: --key: " + d.path("p.hex") + public_key},
        {"sm2 sign --key " + q(d.path("enc.pem")) + " " + q(d.path("msg")),
         "pelmo: --key: " + d.path("enc.pem") +
             ": encrypted private keys are not supported (decrypt it first: openssl pkey -in "
             "KEY -out PLAIN.pem)\n"},
    };
    for (const auto& c : cases) {
        const auto r = run_command(tool(c.args));
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
    }

    // A wrong key's padding: openssl enc's "bad decrypt", and no output.
    ASSERT_EQ(run_command(tool("sm4 encrypt --key " + kKey + " --iv " + kIv + " --out " +
                               q(d.path("ct")) + " " + q(d.path("msg"))))
                  .status,
              0);
    const auto wrong = run_command(
        tool("sm4 decrypt --key " + std::string(32, 'f') + " --iv " + kIv + " " + q(d.path("ct"))));
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err.rfind("pelmo: bad decrypt (wrong key or IV, or corrupted data)", 0), 0u)
        << wrong.err;
    EXPECT_EQ(wrong.out, "");

    // Usage errors, from the option parser or found later, carry the tool's name.
    for (const std::string& args : {std::string("sm3 --no-such-option"),
                                    "sm4 encrypt --key " + kKey + " --mode ecb --iv " + kIv}) {
        const auto r = run_command(tool(args));
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err.rfind("pelmo: ", 0), 0u) << r.err;
    }
}

// --- SM2 identities --------------------------------------------------------------------

class CliSm2Identity : public ::testing::Test {
  protected:
    void SetUp() override {
        d.write("msg", "signed under some identity\n");
        ASSERT_EQ(run_command("openssl genpkey -algorithm SM2 -out " + q(d.path("k.pem"))).status,
                  0);
        ASSERT_EQ(run_command("openssl pkey -in " + q(d.path("k.pem")) + " -pubout -out " +
                              q(d.path("p.pem")))
                      .status,
                  0);
        ASSERT_EQ(run_command(tool("sm2 keygen --out " + q(d.path("other.pem")) + " --pubout " +
                                   q(d.path("other_pub.pem"))))
                      .status,
                  0);
    }
    // openssl dgst signing (sigopt: "" for none) to file sig.
    void openssl_sign(const std::string& sigopt, const std::string& sig) {
        ASSERT_EQ(run_command("openssl dgst -sm3 -sign " + q(d.path("k.pem")) + sigopt + " -out " +
                              q(d.path(sig)) + " " + q(d.path("msg")))
                      .status,
                  0);
    }
    int pelmo_verify(const std::string& id_args, const std::string& sig) {
        return run_command(tool("sm2 verify --pubkey " + q(d.path("p.pem")) + " --sig " +
                                q(d.path(sig)) + id_args + " " + q(d.path("msg"))))
            .status;
    }
    TempDir d;
};

TEST_F(CliSm2Identity, AgreesWithOpenSslWithAndWithoutDistid) {
    // OpenSSL without -sigopt distid signs under the empty identity.
    openssl_sign("", "none.sig");
    EXPECT_EQ(pelmo_verify(" --id ''", "none.sig"), 0);
    EXPECT_EQ(pelmo_verify(" --id-hex ''", "none.sig"), 0);
    EXPECT_EQ(pelmo_verify("", "none.sig"), 1);  // the default identity is not the empty one
    // With a distid, the same identity as text or as hexadecimal bytes.
    openssl_sign(" -sigopt distid:alice@example.com", "alice.sig");
    EXPECT_EQ(pelmo_verify(" --id alice@example.com", "alice.sig"), 0);
    EXPECT_EQ(pelmo_verify(" --id-hex 616c696365406578616d706c652e636f6d", "alice.sig"), 0);
    EXPECT_EQ(pelmo_verify(" --id bob@example.com", "alice.sig"), 1);

    // pelmo signs under an identity, OpenSSL verifies under the same one only.
    for (const auto& [pelmo_id, good, bad] :
         {std::tuple<std::string, std::string, std::string>{" --id ''", "",
                                                            " -sigopt distid:1234567812345678"},
          {" --id carol", " -sigopt distid:carol", ""},
          {" --id-hex 00ff", " -sigopt hexdistid:00ff", " -sigopt distid:carol"}}) {
        SCOPED_TRACE(pelmo_id);
        ASSERT_EQ(run_command(tool("sm2 sign --key " + q(d.path("k.pem")) + pelmo_id + " --out " +
                                   q(d.path("p.sig")) + " " + q(d.path("msg"))))
                      .status,
                  0);
        const std::string verify = "openssl dgst -sm3 -verify " + q(d.path("p.pem")) +
                                   " -signature " + q(d.path("p.sig")) + " ";
        EXPECT_EQ(run_command(verify + good + " " + q(d.path("msg"))).status, 0);
        EXPECT_NE(run_command(verify + bad + " " + q(d.path("msg"))).status, 0);
    }
    const auto both = run_command(
        tool("sm2 sign --key " + q(d.path("k.pem")) + " --id a --id-hex 61 " + q(d.path("msg"))));
    EXPECT_EQ(both.status, 2);
    const auto bad_hex =
        run_command(tool("sm2 verify --pubkey " + q(d.path("p.pem")) + " --sig " +
                         q(d.path("alice.sig")) + " --id-hex 6g " + q(d.path("msg"))));
    EXPECT_EQ(bad_hex.status, 1);
    EXPECT_NE(bad_hex.err.find("--id-hex"), std::string::npos) << bad_hex.err;
}

// --- recover agrees with sign --------------------------------------------------------

TEST_F(CliSm2Identity, RecoverPicksTheSignerAmongTheCandidates) {
    const std::string signer =
        run_command(tool("sm2 pubkey --hex --key " + q(d.path("k.pem")))).out;
    const std::string other =
        run_command(tool("sm2 pubkey --hex --key " + q(d.path("other.pem")))).out;
    ASSERT_EQ(signer.size(), 129u);
    const std::string candidates =
        " --pubkey " + q(d.path("other_pub.pem")) + " --pubkey " + q(d.path("p.pem")) + " ";
    // DER and raw signatures, under the default identity and another one.
    for (const auto& [form, id] :
         {std::pair<std::string, std::string>{"", ""}, {" --raw", " --id dave"}}) {
        {
            SCOPED_TRACE(form + id);
            ASSERT_EQ(run_command(tool("sm2 sign --key " + q(d.path("k.pem")) + form + id +
                                       " --out " + q(d.path("s")) + " " + q(d.path("msg"))))
                          .status,
                      0);
            const auto r = run_command(tool("sm2 recover --sig " + q(d.path("s")) + candidates +
                                            id + " " + q(d.path("msg"))));
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, signer);
            // Under the wrong identity no candidate made it.
            const auto none =
                run_command(tool("sm2 recover --sig " + q(d.path("s")) + candidates +
                                 (id.empty() ? " --id dave" : "") + " " + q(d.path("msg"))));
            EXPECT_EQ(none.status, 1);
            EXPECT_EQ(none.out, "");
            EXPECT_EQ(none.err, "pelmo: none of the candidate keys made this signature\n");
        }
    }
    // The raw signature's text on the command line, the message on standard input.
    ASSERT_EQ(run_command(tool("sm2 sign --raw --key " + q(d.path("k.pem")) + " --out " +
                               q(d.path("raw")) + " " + q(d.path("msg"))))
                  .status,
              0);
    const std::string raw = d.read("raw").substr(0, 128);
    EXPECT_EQ(run_command(tool("sm2 recover --sig " + raw + " --pubkey " + other.substr(0, 128) +
                               " --pubkey " + signer.substr(0, 128)),
                          d.read("msg"))
                  .out,
              signer);
    // Neither candidates nor --digest: usage error naming both.
    const auto usage =
        run_command(tool("sm2 recover --sig " + q(d.path("raw")) + " " + q(d.path("msg"))));
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("--pubkey"), std::string::npos) << usage.err;
    EXPECT_NE(usage.err.find("--digest"), std::string::npos) << usage.err;
    // A signature that is neither a file nor a signature's text.
    const auto junk = run_command(
        tool("sm2 recover --digest --sig " + q(d.path("nope.sig")) + " " + q(d.path("msg"))));
    EXPECT_EQ(junk.status, 1);
    EXPECT_EQ(junk.err, "pelmo: " + d.path("nope.sig") + ": No such file or directory\n");
}

}  // namespace
