// `pelmo sm3 --hmac`, `pelmo kdf pbkdf2` and `pelmo kdf hkdf` end to end: published and
// cross-implementation answers, keys and secrets from files, and the errors.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "support/command.hpp"

namespace {

using pelmo::test::pelmo_tool;
using pelmo::test::run_command;
using pelmo::test::TempDir;

// The HMAC-SM3 example with the key "Jefe" and its message.
constexpr const char* kJefeMac = "2e87f1d16862e6d964b50a5200bf2b10b764faa9680a296a2405f24bec39f882";
constexpr const char* kJefeMessage = "what do ya want for nothing?";

TEST(CliHmac, KeyAsHexadecimalOrFileOverFilesAndStandardInput) {
    TempDir dir;
    dir.write("msg", kJefeMessage);
    dir.write("key", "Jefe");
    const std::string msg = dir.path("msg");
    const auto r = run_command(pelmo_tool() + " sm3 --hmac 4A656665 '" + msg + "' '" + msg + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kJefeMac) + "  " + msg + "\n" + kJefeMac + "  " + msg + "\n");
    const auto f =
        run_command(pelmo_tool() + " sm3 --hmac-file '" + dir.path("key") + "'", kJefeMessage);
    ASSERT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(f.out, std::string(kJefeMac) + "  -\n");
    // An empty key is a key too, not a plain digest. OpenSSL takes no empty key; a zero
    // byte pads to the same key block.
    dir.write("abc", "abc");
    const auto empty = run_command(pelmo_tool() + " sm3 --hmac '' '" + dir.path("abc") + "'");
    auto oracle =
        run_command("openssl mac -digest SM3 -macopt hexkey:00 -in '" + dir.path("abc") + "' HMAC");
    ASSERT_EQ(empty.status, 0) << empty.err;
    ASSERT_EQ(oracle.status, 0) << oracle.err;
    for (char& c : oracle.out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(empty.out, oracle.out.substr(0, 64) + "  " + dir.path("abc") + "\n");
}

TEST(CliHmac, BadKeysAreRejected) {
    for (const char* key : {"4a6", "4a65666g"}) {
        const auto r = run_command(pelmo_tool() + " sm3 --hmac " + key, "x");
        EXPECT_EQ(r.status, 1) << key;
        EXPECT_NE(r.err.find("--hmac"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    const auto both = run_command(pelmo_tool() + " sm3 --hmac 00 --hmac-file /dev/null", "x");
    EXPECT_EQ(both.status, 2);
    const auto missing = run_command(pelmo_tool() + " sm3 --hmac-file /nonexistent/key", "x");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("/nonexistent/key"), std::string::npos) << missing.err;
}

TEST(CliKdf, Pbkdf2AndHkdfGiveTheCrossImplementationValues) {
    TempDir dir;
    dir.write("password", "password");
    dir.write("ikm", std::string(22, '\x0b'));
    const auto p = run_command(pelmo_tool() + " kdf pbkdf2 --password-file '" +
                               dir.path("password") + "' --salt 73616c74 --iter 2 --len 32");
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.out, "fee723a2bc966e11dffb66133f4e8df577383c78ade30e3298edbd3e54ed85b7\n");
    // The password from standard input.
    const auto s = run_command(
        pelmo_tool() + " kdf pbkdf2 --password-file - --salt 73616C74 --iter 1 --len 32",
        "password");
    EXPECT_EQ(s.out, "4612f922a1fdcefaf4312fc6f8f3322b489cbf24f2ea361b44c2bd8fa2c6dcb0\n");
    const auto h = run_command(pelmo_tool() + " kdf hkdf --ikm-file '" + dir.path("ikm") +
                               "' --salt 000102030405060708090a0b0c --info f0f1f2f3f4f5f6f7f8f9 "
                               "--len 42");
    ASSERT_EQ(h.status, 0) << h.err;
    EXPECT_EQ(h.out,
              "c69fe91b7aaee2dd5718d72dcaee0cce93f1b8e41f792da51261b6a517e68b36ed2c595572b01dfa359b"
              "\n");
    const auto n =
        run_command(pelmo_tool() + " kdf hkdf --ikm-file '" + dir.path("ikm") + "' --len 42");
    EXPECT_EQ(n.out,
              "c8c91a38ae2fb3b023a7c38ce9f0748f28230d59b6b950ba3ba949bf0d713a5774815778801741cb2034"
              "\n");
}

TEST(CliKdf, BadParametersAndUsage) {
    TempDir dir;
    dir.write("pw", "pw");
    const std::string pw = " --password-file '" + dir.path("pw") + "'";
    struct Case {
        std::string args;
        int status;
        const char* err;  // part of the message
    } cases[] = {
        {"kdf pbkdf2" + pw + " --salt 00 --iter 0 --len 32", 1, "iterations must be at least 1"},
        {"kdf pbkdf2" + pw + " --salt 00 --iter 1 --len 0", 1, "PBKDF2 length must be"},
        {"kdf pbkdf2" + pw + " --salt 0 --iter 1 --len 32", 1, "--salt must be an even number"},
        {"kdf pbkdf2" + pw + " --salt 00 --len 32", 2, "--iter"},
        {"kdf pbkdf2 --password-file /nonexistent/pw --salt 00 --iter 1 --len 32", 1,
         "/nonexistent/pw"},
        {"kdf hkdf --ikm-file '" + dir.path("pw") + "' --len 8161", 1,
         "HKDF length must be 1..8160"},
        {"kdf hkdf --ikm-file '" + dir.path("pw") + "' --info xy --len 8", 1, "--info"},
        {"kdf hkdf --len 8", 2, "--ikm-file"},
        {"kdf", 2, "A subcommand is required"},
        {"kdf pbkdf2" + pw + " --salt 00 --iter x --len 32", 2, "--iter"},
    };
    for (const Case& c : cases) {
        const auto r = run_command(pelmo_tool() + " " + c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_EQ(r.out, "") << c.args;
    }
}

}  // namespace
