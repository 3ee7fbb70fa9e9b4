// The key-exchange walk-through of `pelmo demo`: both confirmations check, and both
// parties end with the same key.
#include <gtest/gtest.h>

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
    // Both parties print the 32-digit key they derived, one line after the other.
    const auto key_after = [&](const std::string& label) {
        const std::size_t at = r.out.find(label);
        return at == std::string::npos ? std::string() : r.out.substr(at + label.size(), 32);
    };
    const std::string ka = key_after("K at A = "), kb = key_after("\n  K at B = ");
    ASSERT_EQ(ka.size(), 32u) << r.out;
    EXPECT_EQ(ka.find_first_not_of("0123456789abcdef"), std::string::npos) << r.out;
    EXPECT_EQ(ka, kb) << r.out;
}

}  // namespace
