// `pelmo speed` end to end: every operation measured, each row naming a kernel that
// this build has, and "(forced)" after a kernel that an environment variable chose.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sm3/compress.hpp"
#include "sm4/ghash.hpp"
#include "sm4/kernels/kernel.hpp"
#include "support/command.hpp"

namespace {

using pelmo::test::pelmo_tool;
using pelmo::test::run_command;
namespace ksm3 = pelmo::detail::sm3;
namespace ksm4 = pelmo::detail::sm4;

struct Row {
    std::string operation;
    double rate = 0;
    std::string unit, kernel;
};

// The rows under the header: the operation fills the first 34 columns, then the rate,
// the unit and the kernel follow, separated by spaces.
std::vector<Row> parse_rows(const std::string& out) {
    std::vector<Row> rows;
    std::istringstream lines(out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("operation", 0), 0u) << line;
    while (std::getline(lines, line)) {
        Row r;
        r.operation = line.substr(0, 34);
        r.operation.erase(r.operation.find_last_not_of(' ') + 1);
        std::istringstream rest(line.substr(34));
        rest >> r.rate >> r.unit >> std::ws;
        std::getline(rest, r.kernel);
        rows.push_back(r);
    }
    return rows;
}

// The kernel names each algorithm's rows may show.
std::set<std::string> kernels_of(const std::string& operation) {
    std::set<std::string> names;
    if (operation.rfind("sm3", 0) == 0) {
        for (const ksm3::Kernel k : ksm3::kAllKernels) names.insert(ksm3::kernel_name(k));
    } else if (operation.rfind("sm4-gcm", 0) == 0) {
        // The block kernel and the GHASH kernel.
        for (const ksm4::KernelId id : ksm4::kAllKernels)
            for (const ksm4::GhashKernelId g : ksm4::kAllGhashKernels)
                names.insert(std::string(ksm4::kernel_of(id).name) + "+" +
                             ksm4::ghash_kernel_of(g).name);
    } else if (operation.rfind("sm4", 0) == 0) {
        for (const ksm4::KernelId id : ksm4::kAllKernels) names.insert(ksm4::kernel_of(id).name);
    } else {
        names.insert("portable");
#if defined(__x86_64__)
        names.insert("adx");
#endif
    }
    return names;
}

TEST(CliSpeed, EveryRowNamesAKernelOfThisBuild) {
    const auto r = run_command(pelmo_tool() + " speed --seconds 0.01");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = parse_rows(r.out);
    ASSERT_EQ(rows.size(), 21u) << r.out;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.operation);
        EXPECT_GT(row.rate, 0);
        EXPECT_TRUE(row.unit == "MB/s" || row.unit == "ops/s") << row.unit;
        EXPECT_EQ(kernels_of(row.operation).count(row.kernel), 1u) << row.kernel;
    }

    // The portable SM3 and SM2 field kernels run on every CPU, so forcing them works
    // everywhere.
    const auto forced = run_command("PELMO_SM3_KERNEL=portable PELMO_SM2_FIELD_KERNEL=portable " +
                                    pelmo_tool() + " speed --seconds 0.01");
    ASSERT_EQ(forced.status, 0) << forced.err;
    for (const Row& row : parse_rows(forced.out)) {
        SCOPED_TRACE(row.operation);
        if (row.operation.rfind("sm4", 0) != 0) {
            EXPECT_EQ(row.kernel, "portable (forced)");
        }
    }
}

// The operation of each row.
std::vector<std::string> operations(const std::string& out) {
    std::vector<std::string> names;
    for (const Row& r : parse_rows(out)) names.push_back(r.operation);
    return names;
}

TEST(CliSpeed, RowsChosenByNameAndSecondsMustBePositive) {
    const auto some =
        run_command(pelmo_tool() + " speed --seconds 0.001 sm3-hmac sm4-gcm sm2-verify");
    ASSERT_EQ(some.status, 0) << some.err;
    EXPECT_EQ(operations(some.out),
              (std::vector<std::string>{"sm4-gcm seal, 8 KiB", "sm4-gcm open, 8 KiB",
                                        "sm2 verify (SM3, identity digest)", "sm3 hmac, 64 bytes",
                                        "sm3 hmac, 8 KiB"}));
    const auto sm3 = run_command(pelmo_tool() + " speed sm3 --seconds 0.001");
    ASSERT_EQ(sm3.status, 0) << sm3.err;
    EXPECT_EQ(operations(sm3.out),
              (std::vector<std::string>{"sm3 hash, 8 KiB", "sm3 hmac, 64 bytes", "sm3 hmac, 8 KiB",
                                        "sm3 pbkdf2, 10000 iterations"}));
    for (const std::string args : {"speed --seconds 0", "speed --seconds -1", "speed --seconds nan",
                                   "speed --seconds x", "speed --seconds 0.001 sm3 sm5"}) {
        const auto r = run_command(pelmo_tool() + " " + args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.out, "") << args;
        EXPECT_EQ(r.err.rfind("pelmo: ", 0), 0u) << r.err;
    }
    const auto unknown = run_command(pelmo_tool() + " speed sm5");
    EXPECT_NE(unknown.err.find("unknown algorithm 'sm5'"), std::string::npos) << unknown.err;
    EXPECT_NE(unknown.err.find("sm2-sign"), std::string::npos) << unknown.err;
}

}  // namespace
