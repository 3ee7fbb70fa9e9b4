// `pelmo sm3` end to end, against `openssl dgst -sm3`.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/command.hpp"
#include "support/random_input.hpp"

namespace {

using pelmo::test::pelmo_tool;
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
