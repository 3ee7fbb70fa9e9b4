// The kernel chooser: what it may pick, and the environment override. (Which of two
// available kernels is faster is a measurement, so no test depends on it.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "common/dispatch.hpp"
#include "support/kernels.hpp"

namespace {

using pelmo::detail::choose_kernel;
using pelmo::detail::KernelOption;

constexpr const char* kVar = "PELMO_TEST_KERNEL";
std::set<std::size_t> g_ran;
void record(std::size_t i) {
    g_ran.insert(i);
}

TEST(KernelChooser, PicksOnlyAvailableKernelsAndTimesOnlyThem) {
    const KernelOption options[] = {{"a", false}, {"b", true}, {"c", false}, {"d", true}};
    g_ran.clear();
    const std::size_t i = choose_kernel(kVar, options, record);
    EXPECT_TRUE(i == 1 || i == 3) << i;
    EXPECT_EQ(g_ran, (std::set<std::size_t>{1, 3}));

    // A lone available kernel is taken without timing anything.
    const KernelOption lone[] = {{"a", false}, {"b", false}, {"c", true}};
    g_ran.clear();
    EXPECT_EQ(choose_kernel(kVar, lone, record), 2u);
    EXPECT_TRUE(g_ran.empty());
}

TEST(KernelChooser, EnvironmentForcesAnAvailableKernelAndNothingElse) {
    const KernelOption options[] = {{"a", true}, {"b", true}, {"c", false}};
    struct Case {
        const char* value;
        std::set<std::size_t> allowed;
        bool timed;
    };
    for (const Case& c : {Case{"b", {1}, false}, Case{"a", {0}, false},
                          Case{"c", {0, 1}, true},  // not available here: ignored
                          Case{"zz", {0, 1}, true}, Case{"", {0, 1}, true}}) {
        const pelmo::test::ScopedKernel force(kVar, c.value);
        g_ran.clear();
        const std::size_t i = choose_kernel(kVar, options, record);
        EXPECT_TRUE(c.allowed.count(i)) << c.value << " -> " << i;
        EXPECT_EQ(!g_ran.empty(), c.timed) << c.value;
    }
}

TEST(KernelChooser, ChoiceIsCachedUntilRefreshed) {
    pelmo::detail::KernelChoice choice;
    int made = 0;
    const auto options = [&made] {
        ++made;
        return std::array<KernelOption, 2>{{{"a", true}, {"b", true}}};
    };
    {
        const pelmo::test::ScopedKernel force(kVar, "b");
        EXPECT_EQ(choice.get(kVar, options, record), 1u);
        EXPECT_EQ(choice.get(kVar, options, record), 1u);
        EXPECT_EQ(made, 1);
    }
    const pelmo::test::ScopedKernel force(kVar, "a");  // refreshes the choice
    EXPECT_EQ(choice.get(kVar, options, record), 0u);
    EXPECT_EQ(made, 2);
}

}  // namespace
