// `pelmo sm4 --mode ctr|cfb|ofb|gcm|ccm` end to end: the stream modes against `openssl enc`
// both ways, the authenticated modes against the library on whole messages, through files,
// pipes and standard input, and a failed tag that leaves no output.
#include <pelmo/sm4.hpp>

#include <gtest/gtest.h>

#include <fstream>

#include "common/hex.hpp"
#include "support/command.hpp"
#include "support/emulation.hpp"
#include "support/random_input.hpp"

namespace {

using pelmo::Bytes;
using pelmo::test::pelmo_tool;
using pelmo::test::run_command;
using pelmo::test::TempDir;

const std::string kKey = "0123456789abcdeffedcba9876543210";
const std::string kIv = "00112233445566778899aabbccddeeff";
const std::string kNonce = "00001234567800000000abcd";

std::string as_string(const Bytes& b) {
    return std::string(b.begin(), b.end());
}
pelmo::ByteView view(const std::string& s) {
    return pelmo::test::as_bytes(s);
}

std::string tool(const std::string& dir, const std::string& mode, const std::string& args) {
    return pelmo_tool() + " sm4 " + dir + " --key " + kKey + " --mode " + mode + " " + args;
}

std::string files(const std::string& in, const std::string& out) {
    return "--in '" + in + "' --out '" + out + "'";
}

TEST(CliSm4Modes, StreamModesMatchOpenSslEncBothWays) {
    TempDir d;
    // Past the tool's 1 MiB chunk natively; smaller under an emulator.
    const std::size_t big = pelmo::test::kEmulated ? 70000u : (1u << 20) + 5;
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{17}, std::size_t{1000}, big}) {
        d.write("plain", as_string(pelmo::test::random_bytes(size)));
        for (const std::string mode : {"ctr", "cfb", "ofb"}) {
            SCOPED_TRACE(mode + " " + std::to_string(size));
            const std::string ossl = "openssl enc -sm4-" + mode + " -K " + kKey + " -iv " + kIv;
            ASSERT_EQ(
                run_command(ossl + " -in '" + d.path("plain") + "' -out '" + d.path("ossl") + "'")
                    .status,
                0);
            const auto enc = run_command(
                tool("encrypt", mode, "--iv " + kIv + " " + files(d.path("plain"), d.path("ct"))));
            ASSERT_EQ(enc.status, 0) << enc.err;
            EXPECT_EQ(d.read("ct"), d.read("ossl"));
            const auto dec = run_command(
                tool("decrypt", mode, "--iv " + kIv + " " + files(d.path("ossl"), d.path("back"))));
            ASSERT_EQ(dec.status, 0) << dec.err;
            EXPECT_EQ(d.read("back"), d.read("plain"));
            // OpenSSL decrypts what pelmo encrypted.
            ASSERT_EQ(
                run_command(ossl + " -d -in '" + d.path("ct") + "' -out '" + d.path("o2") + "'")
                    .status,
                0);
            EXPECT_EQ(d.read("o2"), d.read("plain"));
        }
    }
    const auto piped = run_command(
        tool("encrypt", "ctr", "--iv " + kIv) + " | " + tool("decrypt", "ctr", "--iv " + kIv),
        "hello, pipes");
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, "hello, pipes");
}

TEST(CliSm4Modes, AeadMatchesTheLibraryAndRoundTrips) {
    TempDir d;
    d.write("aad", "header\x01\x02");
    const Bytes key = pelmo::detail::from_hex(kKey);
    const std::size_t big = pelmo::test::kEmulated ? 70000u : (1u << 20) + 7;
    for (std::size_t size : {std::size_t{0}, std::size_t{33}, big}) {
        const std::string plain = as_string(pelmo::test::random_bytes(size));
        d.write("plain", plain);
        for (const std::string mode : {"gcm", "ccm"}) {
            SCOPED_TRACE(mode + " " + std::to_string(size));
            const Bytes nonce = pelmo::detail::from_hex(kNonce);
            const std::string args =
                "--nonce " + kNonce + " --aad-file '" + d.path("aad") + "' --tag-len 8 ";
            const auto enc =
                run_command(tool("encrypt", mode, args + files(d.path("plain"), d.path("ct"))));
            ASSERT_EQ(enc.status, 0) << enc.err;
            using Seal = Bytes (*)(pelmo::ByteView, pelmo::ByteView, pelmo::ByteView,
                                   pelmo::ByteView, std::size_t);
            const Seal seal =
                mode == "gcm" ? Seal{pelmo::sm4::gcm_seal} : Seal{pelmo::sm4::ccm_seal};
            EXPECT_EQ(d.read("ct"),
                      as_string(seal(key, nonce, view(plain), view(d.read("aad")), 8)));
            const auto dec =
                run_command(tool("decrypt", mode, args + files(d.path("ct"), d.path("back"))));
            ASSERT_EQ(dec.status, 0) << dec.err;
            EXPECT_EQ(d.read("back"), plain);
            // Standard input (CCM reads it whole for its length) and standard output.
            const auto piped =
                run_command(tool("encrypt", mode, "--iv " + kNonce + " --aad hi") + " | " +
                                tool("decrypt", mode, "--iv " + kNonce + " --aad hi"),
                            plain);
            ASSERT_EQ(piped.status, 0) << piped.err;
            EXPECT_EQ(piped.out, plain);
        }
    }
}

TEST(CliSm4Modes, FailedTagLeavesNoOutput) {
    TempDir d;
    d.write("plain", std::string(5000, 'p'));
    for (const std::string mode : {"gcm", "ccm"}) {
        SCOPED_TRACE(mode);
        const std::string args = "--nonce " + kNonce + " --aad abc ";
        ASSERT_EQ(
            run_command(tool("encrypt", mode, args + files(d.path("plain"), d.path("ct")))).status,
            0);
        std::string ct = d.read("ct");
        ct[100] = static_cast<char>(ct[100] ^ 1);
        d.write("bad", ct);
        for (const std::string& variant :
             {files(d.path("bad"), d.path("out")), std::string("--in '" + d.path("bad") + "'")}) {
            const auto r = run_command(tool("decrypt", mode, args + variant));
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, "pelmo: authentication failed\n");
            EXPECT_EQ(r.out, "");
            EXPECT_FALSE(std::ifstream(d.path("out")).good());
        }
        // The wrong AAD fails the same way.
        const auto wrong_aad = run_command(
            tool("decrypt", mode,
                 "--nonce " + kNonce + " --aad abd " + files(d.path("ct"), d.path("out"))));
        EXPECT_EQ(wrong_aad.status, 1);
        EXPECT_FALSE(std::ifstream(d.path("out")).good());
    }
}

TEST(CliSm4Modes, UsageErrors) {
    const auto status = [](const std::string& cmd) { return run_command(cmd, "x").status; };
    EXPECT_EQ(status(tool("encrypt", "gcm", "")), 2);  // no nonce
    EXPECT_EQ(status(tool("encrypt", "ctr", "")), 2);  // no IV
    EXPECT_EQ(status(tool("encrypt", "ctr", "--iv " + kIv + " --padding none")), 2);
    EXPECT_EQ(status(tool("encrypt", "cbc", "--iv " + kIv + " --aad x")), 2);
    EXPECT_EQ(status(tool("encrypt", "gcm", "--nonce " + kNonce + " --iv " + kIv)), 2);
    EXPECT_EQ(status(tool("encrypt", "gcm", "--nonce " + kNonce + " --aad a --aad-file /x")), 2);
    const auto tag = run_command(tool("encrypt", "gcm", "--nonce " + kNonce + " --tag-len 5"), "x");
    EXPECT_EQ(tag.status, 1);
    EXPECT_EQ(tag.err, "pelmo: GCM tag length must be 4, 8 or 12..16, got 5\n");
    const auto nonce = run_command(tool("encrypt", "ccm", "--nonce 0011"), "x");
    EXPECT_EQ(nonce.status, 1);
    EXPECT_EQ(nonce.err, "pelmo: CCM nonce must be 7..13 bytes, got 2\n");
}

}  // namespace
