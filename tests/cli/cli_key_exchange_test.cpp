// The key-exchange walk-through of `pelmo demo`: both confirmations check, and both
// parties end with the same key.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/command.hpp"

namespace {

using pelmo::test::pelmo_tool;
using pelmo::test::run_command;

TEST(CliDemo, KeyExchangeAgreesAndConfirms) {
    const auto r = run_command(pelmo_tool() + " demo");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("A checks S_B: true"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("B checks S_A: true"), std::string::npos) << r.out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m,
                                  std::regex("K at A = ([0-9a-f]{32})\n  K at B = ([0-9a-f]{32})")))
        << r.out;
    EXPECT_EQ(m[1], m[2]);
}

}  // namespace
