// `pelmo sm3` end to end, against `openssl dgst -sm3`.
#include <gtest/gtest.h>

#include <pelmo/sm3.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/command.hpp"
#include "support/random_input.hpp"

namespace {

using pelmo::test::pelmo_tool;
using pelmo::test::q;
using pelmo::test::run_command;
using pelmo::test::TempDir;

// The digest field of `openssl dgst -sm3 -r FILE` ("<hex> *FILE").
std::string openssl_digest(const std::string& file) {
    const auto r = run_command("openssl dgst -sm3 -r '" + file + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out.substr(0, 64);
}

TEST(CliSm3, FilesOfManySizesMatchOpenSsl) {
    TempDir dir;
    std::string args;
    std::vector<std::string> names;
    for (std::size_t size : {0u, 1u, 55u, 64u, 1000u, (1u << 20) + 3}) {
        const auto bytes = pelmo::test::random_bytes(size);
        const std::string name = dir.path("f" + std::to_string(size));
        dir.write("f" + std::to_string(size), std::string(bytes.begin(), bytes.end()));
        names.push_back(name);
        args += " '" + name + "'";
    }
    const auto r = run_command(pelmo_tool() + " sm3" + args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected;
    for (const auto& name : names) expected += openssl_digest(name) + "  " + name + "\n";
    EXPECT_EQ(r.out, expected);
}

TEST(CliSm3, HundredMebibyteFile) {
    TempDir dir;
    const std::string name = dir.path("big");
    {
        // Random data at the start, the middle and the end, holes between: the file
        // reads as 100 MiB but takes almost no disk, whatever the host's /tmp holds.
        std::ofstream f(name, std::ios::binary);
        const auto chunk = pelmo::test::random_bytes(1 << 20);
        for (long at : {0L, 50L << 20, 99L << 20}) {
            f.seekp(at);
            f.write(reinterpret_cast<const char*>(chunk.data()),
                    static_cast<std::streamsize>(chunk.size()));
        }
    }
    ASSERT_EQ(std::filesystem::file_size(name), 100u << 20);
    const auto r = run_command(pelmo_tool() + " sm3 '" + name + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, openssl_digest(name) + "  " + name + "\n");
}

TEST(CliSm3, StandardInput) {
    const auto r = run_command(pelmo_tool() + " sm3", "abc");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0  -\n");
    EXPECT_EQ(run_command(pelmo_tool() + " sm3 -", "abc").out, r.out);
}

TEST(CliSm3, MissingFileIsReportedAndTheOthersStillHashed) {
    TempDir dir;
    dir.write("ok", "abc");
    const auto r =
        run_command(pelmo_tool() + " sm3 '" + dir.path("missing") + "' '" + dir.path("ok") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelmo: " + dir.path("missing") + ": No such file or directory\n");
    EXPECT_EQ(r.out, "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0  " +
                         dir.path("ok") + "\n");
    // A directory cannot be read either.
    const auto d = run_command(pelmo_tool() + " sm3 '" + dir.path("") + "'");
    EXPECT_EQ(d.status, 1);
    EXPECT_NE(d.err.find("Is a directory"), std::string::npos) << d.err;
}

// sha256sum's output with each 64-digit SHA-256 digest replaced by the SM3 digest of the
// same file: what pelmo sm3 must print, escapes and all.
std::string sm3_listing_like_sha256sum(const std::string& sha_out,
                                       const std::vector<std::string>& contents) {
    // Each line is an optional backslash, the digest, then the rest.
    std::string out;
    std::istringstream lines(sha_out);
    std::size_t k = 0;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.rfind('\\', 0) == 0 ? 1 : 0;
        out += line.substr(0, at) + pelmo::sm3::sm3_hash(pelmo::test::as_bytes(contents.at(k++))) +
               line.substr(at + 64) + "\n";
    }
    return out;
}

TEST(CliSm3Check, BehavesLikeSha256sum) {
    TempDir d;
    const std::vector<std::string> names = {"plain", "back\\slash", "new\nline", "both\\\nx"};
    const std::vector<std::string> contents = {"one", "two", "three", "four"};
    std::string args;
    for (std::size_t i = 0; i < names.size(); ++i) {
        d.write(names[i], contents[i]);
        args += " " + q(names[i]);
    }
    const std::string cd = "cd " + q(d.path("")) + " && ";
    const auto sha = run_command(cd + "sha256sum" + args);
    ASSERT_EQ(sha.status, 0);
    const auto sm3 = run_command(cd + pelmo_tool() + " sm3" + args);
    ASSERT_EQ(sm3.status, 0) << sm3.err;
    EXPECT_EQ(sm3.out, sm3_listing_like_sha256sum(sha.out, contents));
    d.write("sha.list", sha.out);
    d.write("sm3.list", sm3.out);

    // All good, then one file changed, one removed, one line spoiled: the same report,
    // the same status, and the same warnings under the tool's own name.
    const auto compare = [&](const std::string& what) {
        SCOPED_TRACE(what);
        const auto want = run_command(cd + "sha256sum --check sha.list");
        for (const std::string flag : {" --check", " -c"}) {
            const auto got = run_command(cd + pelmo_tool() + " sm3" + flag + " sm3.list");
            EXPECT_EQ(got.status, want.status);
            EXPECT_EQ(got.out, want.out);
            std::string err = want.err;
            if (const std::size_t at = err.find("sha.list"); at != std::string::npos)
                err.replace(at, 3, "sm3");
            for (std::size_t at; (at = err.find("sha256sum: ")) != std::string::npos;)
                err.replace(at, 9, "pelmo");
            EXPECT_EQ(got.err, err);
        }
    };
    compare("all match");
    d.write("back\\slash", "changed");
    d.write("new\nline", "changed too");
    std::remove(d.path("plain").c_str());
    compare("two changed, one missing");
    d.write("sha.list", "junk line\n" + sha.out + "also junk\n");
    d.write("sm3.list", "junk line\n" + sm3.out + "also junk\n");
    compare("improper lines");
    d.write("sha.list", "nothing to check\n");
    d.write("sm3.list", "nothing to check\n");
    compare("no proper line");

    // Digests of either case, a '*' or one blank before the name, comments and blank
    // lines, from standard input.
    const std::string one = pelmo::sm3::sm3_hash(pelmo::test::as_bytes("four"));
    std::string upper = one;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto in = run_command(
        cd + pelmo_tool() + " sm3 -c",
        "# listed by hand\n\n\\" + upper + " *both\\\\\\nx\n\\" + one + "\tboth\\\\\\nx\r\n");
    EXPECT_EQ(in.status, 0) << in.err;
    EXPECT_EQ(in.out, "\\both\\\\\\nx: OK\n\\both\\\\\\nx: OK\n");
    const auto empty = run_command(pelmo_tool() + " sm3 -c", "");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.err, "pelmo: 'standard input': no properly formatted checksum lines found\n");
    const auto no_list = run_command(pelmo_tool() + " sm3 -c " + q(d.path("no.list")));
    EXPECT_EQ(no_list.status, 1);
    EXPECT_EQ(no_list.err, "pelmo: " + d.path("no.list") + ": No such file or directory\n");
}

TEST(CliUsage, HelpAndUnknownOptions) {
    const auto help = run_command(pelmo_tool() + " --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("sm3"), std::string::npos);
    EXPECT_EQ(run_command(pelmo_tool() + " sm3 --help").status, 0);
    const auto bad = run_command(pelmo_tool() + " sm3 --no-such-option");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("no-such-option"), std::string::npos) << bad.err;
    EXPECT_EQ(run_command(pelmo_tool()).status, 2);
    EXPECT_EQ(run_command(pelmo_tool() + " frobnicate").status, 2);
}

TEST(CliDemo, RunsAndShowsTheStandardDigest) {
    const auto r = run_command(pelmo_tool() + " demo");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0"),
              std::string::npos);
}

}  // namespace
