// `pelmo sm4` end to end: against `openssl enc`, and against the library on whole
// messages, across the tool's chunk boundaries.
#include <pelmo/sm4.hpp>

#include <gtest/gtest.h>

#include <fstream>

#include "common/hex.hpp"
#include "support/command.hpp"
#include "support/random_input.hpp"

namespace {

using pelmo::Bytes;
using pelmo::test::pelmo_tool;
using pelmo::test::run_command;
using pelmo::test::TempDir;

const std::string kKey = "0123456789abcdeffedcba9876543210";
const std::string kIv = "00112233445566778899aabbccddeeff";

std::string sm4_cmd(const std::string& dir, const std::string& mode, const std::string& padding,
                    const std::string& in, const std::string& out) {
    std::string cmd = pelmo_tool() + " sm4 " + dir + " --key " + kKey + " --mode " + mode +
                      " --padding " + padding + " --in '" + in + "' --out '" + out + "'";
    if (mode == "cbc") cmd += " --iv " + kIv;
    return cmd;
}

std::string as_string(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

TEST(CliSm4, MatchesOpenSslEnc) {
    TempDir d;
    for (std::size_t size : {0u, 1u, 16u, 1000u, (1u << 20), (2u << 20) + 5}) {
        d.write("plain", as_string(pelmo::test::random_bytes(size)));
        for (const std::string mode : {"ecb", "cbc"}) {
            for (const std::string padding : {"pkcs7", "none"}) {
                if (padding == "none" && size % 16 != 0) continue;
                SCOPED_TRACE(mode + " " + padding + " " + std::to_string(size));
                const std::string ossl = "openssl enc -sm4-" + mode + " -K " + kKey +
                                         (mode == "cbc" ? " -iv " + kIv : "") +
                                         (padding == "none" ? " -nopad" : "");
                ASSERT_EQ(run_command(ossl + " -in '" + d.path("plain") + "' -out '" +
                                      d.path("ossl") + "'")
                              .status,
                          0);
                const auto enc =
                    run_command(sm4_cmd("encrypt", mode, padding, d.path("plain"), d.path("ct")));
                ASSERT_EQ(enc.status, 0) << enc.err;
                EXPECT_EQ(d.read("ct"), d.read("ossl"));
                const auto dec =
                    run_command(sm4_cmd("decrypt", mode, padding, d.path("ossl"), d.path("back")));
                ASSERT_EQ(dec.status, 0) << dec.err;
                EXPECT_EQ(d.read("back"), d.read("plain"));
            }
        }
    }
}

TEST(CliSm4, EveryPaddingMatchesTheLibraryAcrossChunks) {
    namespace s4 = pelmo::sm4;
    const std::pair<const char*, int> paddings[] = {
        {"pkcs7", s4::PKCS7}, {"zero", s4::ZERO}, {"iso9797m2", s4::ISO9797M2}, {"pboc", s4::PBOC}};
    TempDir d;
    for (std::size_t size : {0u, 15u, 16u, 17u, (1u << 20) - 1, (1u << 20), (1u << 20) + 16}) {
        const Bytes plain = pelmo::test::random_bytes(size);
        d.write("plain", as_string(plain));
        for (const auto& [name, padding] : paddings) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(size));
            s4::CryptSM4 enc(s4::SM4_ENCRYPT, padding), dec(s4::SM4_DECRYPT, padding);
            enc.set_key(pelmo::detail::from_hex(kKey), s4::SM4_ENCRYPT);
            dec.set_key(pelmo::detail::from_hex(kKey), s4::SM4_DECRYPT);
            const Bytes iv = pelmo::detail::from_hex(kIv);
            const Bytes ct = enc.crypt_cbc(iv, plain);
            const auto r =
                run_command(sm4_cmd("encrypt", "cbc", name, d.path("plain"), d.path("ct")));
            ASSERT_EQ(r.status, 0) << r.err;
            ASSERT_EQ(d.read("ct"), as_string(ct));
            // Decryption gives what the library gives on the whole message, errors included.
            std::string expected;
            bool library_failed = false;
            try {
                expected = as_string(dec.crypt_cbc(iv, ct));
            } catch (const std::exception&) {
                library_failed = true;
            }
            const auto back =
                run_command(sm4_cmd("decrypt", "cbc", name, d.path("ct"), d.path("back")));
            EXPECT_EQ(back.status, library_failed ? 1 : 0) << back.err;
            if (!library_failed) {
                EXPECT_EQ(d.read("back"), expected);
            }
        }
    }
}

TEST(CliSm4, StreamsThroughPipes) {
    const auto r =
        run_command(pelmo_tool() + " sm4 encrypt --key " + kKey + " --iv " + kIv + " | " +
                        pelmo_tool() + " sm4 decrypt --key " + kKey + " --iv " + kIv,
                    "hello, pipes");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "hello, pipes");
}

// A file written to standard output is read ahead on a second thread, a file
// written to a file is mapped and written behind: both give the same bytes.
TEST(CliSm4, StandardOutputAndFileOutputAgree) {
    TempDir d;
    for (std::size_t size : {(1u << 20) - 1, (1u << 20), (3u << 20) + 17}) {
        const Bytes plain = pelmo::test::random_bytes(size);
        d.write("plain", as_string(plain));
        for (const std::string padding : {"pkcs7", "iso9797m2"}) {
            SCOPED_TRACE(padding + " " + std::to_string(size));
            ASSERT_EQ(run_command(sm4_cmd("encrypt", "cbc", padding, d.path("plain"), d.path("ct")))
                          .status,
                      0);
            ASSERT_EQ(run_command(sm4_cmd("encrypt", "cbc", padding, d.path("plain"), "-") +
                                  " > '" + d.path("ct2") + "'")
                          .status,
                      0);
            EXPECT_EQ(d.read("ct2"), d.read("ct"));
            ASSERT_EQ(run_command(sm4_cmd("decrypt", "cbc", padding, d.path("ct"), "-") + " > '" +
                                  d.path("back") + "'")
                          .status,
                      0);
            EXPECT_EQ(d.read("back"), as_string(plain));
        }
    }
}

TEST(CliSm4, UsageAndInputErrors) {
    TempDir d;
    d.write("plain", "abc");
    // Missing IV in CBC, an IV in ECB, a bad mode: usage errors.
    EXPECT_EQ(run_command(pelmo_tool() + " sm4 encrypt --key " + kKey, "x").status, 2);
    EXPECT_EQ(
        run_command(pelmo_tool() + " sm4 encrypt --mode ecb --iv " + kIv + " --key " + kKey, "x")
            .status,
        2);
    EXPECT_EQ(run_command(pelmo_tool() + " sm4 encrypt --mode xts --key " + kKey, "x").status, 2);
    EXPECT_EQ(run_command(pelmo_tool() + " sm4 encrypt --iv " + kIv, "x").status, 2);
    // A short key, a bad digit: failures with a message.
    const auto short_key = run_command(pelmo_tool() + " sm4 encrypt --mode ecb --key 0011", "x");
    EXPECT_EQ(short_key.status, 1);
    EXPECT_NE(short_key.err.find("--key must be 16 bytes"), std::string::npos) << short_key.err;
    // A bad digit: the argument, the problem and the length, never the key's text.
    const auto bad = run_command(
        pelmo_tool() + " sm4 encrypt --mode ecb --key " + std::string(31, '7') + "g", "x");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err,
              "pelmo: --key must be 16 bytes (32 hexadecimal digits), got 32 characters, not all "
              "hexadecimal digits\n");
    // A partial block without padding, and a wrong key's padding, fail and leave no file.
    EXPECT_EQ(run_command(sm4_cmd("encrypt", "ecb", "none", d.path("plain"), d.path("out"))).status,
              1);
    ASSERT_EQ(run_command(sm4_cmd("encrypt", "cbc", "pkcs7", d.path("plain"), d.path("ct"))).status,
              0);
    const auto wrong =
        run_command(pelmo_tool() + " sm4 decrypt --key " + std::string(32, 'f') + " --iv " + kIv +
                    " --in '" + d.path("ct") + "' --out '" + d.path("out") + "'");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("invalid PKCS#7 padding"), std::string::npos) << wrong.err;
    EXPECT_FALSE(std::ifstream(d.path("out")).good());
    EXPECT_EQ(
        run_command(sm4_cmd("encrypt", "cbc", "pkcs7", d.path("missing"), d.path("o2"))).status, 1);
}

}  // namespace
