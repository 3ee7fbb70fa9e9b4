// The generated tables of base-point multiples against a GMP recomputation.
#include <gtest/gtest.h>

#include "reference.hpp"
#include "sm2/curve/mult.hpp"
#include "sm2/curve/tables.hpp"

namespace {

namespace curve = pelmo::detail::sm2::curve;
namespace tables = curve::tables;
using namespace pelmo::test::sm2ref;

void expect_entry(const curve::Aff& got, const Point& want, const char* what, unsigned j,
                  unsigned i) {
    ASSERT_EQ(value_of(got.x), want.x) << what << "[" << j << "][" << i << "]";
    ASSERT_EQ(value_of(got.y), want.y) << what << "[" << j << "][" << i << "]";
}

TEST(Sm2Tables, CombEntriesAreTheirMultiplesOfG) {
    // kComb[j][i] = (i + 1) * 2^(bits * j) * G, recomputed from scratch.
    Point base = generator();
    for (unsigned j = 0; j < tables::kCombWindows; ++j) {
        Point e = base;
        for (unsigned i = 0; i < tables::kCombEntries; ++i) {
            expect_entry(tables::kComb[j][i], e, "kComb", j, i);
            e = add(e, base);
        }
        for (unsigned b = 0; b < tables::kCombBits; ++b) base = add(base, base);
    }
}

TEST(Sm2Tables, CombCoversEveryScalar) {
    // The recoded top window of any k < n fits the table: (n - 1) needs at most
    // kCombWindows * kCombBits - 1 bits plus the sign carry.
    EXPECT_GE(tables::kCombWindows * tables::kCombBits, 257u);
    EXPECT_EQ(tables::kCombEntries, 1u << (tables::kCombBits - 1));
}

TEST(Sm2Tables, WnafEntriesAreOddMultiplesOfG) {
    const Point g = generator(), g2 = add(g, g);
    Point e = g;
    for (unsigned i = 0; i < tables::kWnafEntries; ++i) {
        expect_entry(tables::kWnafG[i], e, "kWnafG", 0, i);
        e = add(e, g2);
    }
}

TEST(Sm2Tables, BasePointConstant) {
    EXPECT_EQ(value_of(curve::kG.x), kGx);
    EXPECT_EQ(value_of(curve::kG.y), kGy);
    EXPECT_EQ(from_bytes(curve::kGx), kGx);
    EXPECT_EQ(from_bytes(curve::kGy), kGy);
}

}  // namespace
