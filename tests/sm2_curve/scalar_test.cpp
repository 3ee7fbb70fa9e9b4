// Scalar arithmetic modulo n against GMP, through the byte interface and the limbs.
#include <gtest/gtest.h>

#include "reference.hpp"
#include "sm2/curve/curve.hpp"
#include "sm2/curve/scalar.hpp"

namespace {

namespace curve = pelmo::detail::sm2::curve;
namespace scalar = curve::scalar;
using namespace pelmo::test::sm2ref;

#if defined(PELMO_SM2_TEST_LIGHT)
constexpr int kRandom = 600;
#else
constexpr int kRandom = 3000;
#endif

TEST(Sm2Scalar, Constants) {
    EXPECT_EQ(from_bytes(curve::kN), kN);
    EXPECT_EQ(value_of(curve::sc::kR2), mod(kTwo256 * kTwo256, kN));
    EXPECT_EQ(mod(mpz_class(std::to_string(curve::sc::kN0)) * kN + 1, mpz_class(1) << 64), 0);
}

TEST(Sm2Scalar, ReduceAnyValue) {
    std::vector<mpz_class> in = edge_scalars();
    for (const mpz_class& extra :
         std::vector<mpz_class>{kTwo256 - 1, kN, kN + 1, 2 * kN - kTwo256 + kTwo256 - 1})
        in.push_back(mod(extra, kTwo256));
    for (int i = 0; i < kRandom; ++i) in.push_back(random_bits(256));
    for (const mpz_class& a : in) {
        ASSERT_EQ(from_bytes(scalar::reduce(to_bytes(a))), mod(a, kN)) << a.get_str(16);
    }
}

TEST(Sm2Scalar, AddSubMulAgainstGmp) {
    const std::vector<mpz_class> in = inputs_below(kN, kRandom);
    const std::size_t count = in.size();
    for (std::size_t i = 0; i < count; ++i) {
        const mpz_class& a = in[i];
        for (const mpz_class& b :
             std::vector<mpz_class>{in[(i + 1) % count], in[(i * 7919 + 5) % count], a}) {
            const auto ba = to_bytes(a), bb = to_bytes(b);
            ASSERT_EQ(from_bytes(scalar::add(ba, bb)), mod(a + b, kN)) << a << " " << b;
            ASSERT_EQ(from_bytes(scalar::sub(ba, bb)), mod(a - b, kN)) << a << " " << b;
            ASSERT_EQ(from_bytes(scalar::mul(ba, bb)), mod(a * b, kN)) << a << " " << b;
        }
    }
}

TEST(Sm2Scalar, EdgeValuesPairwise) {
    const std::vector<mpz_class> in = edge_values(kN);
    for (const mpz_class& a : in)
        for (const mpz_class& b : in) {
            const auto ba = to_bytes(a), bb = to_bytes(b);
            ASSERT_EQ(from_bytes(scalar::mul(ba, bb)), mod(a * b, kN)) << a << " " << b;
            ASSERT_EQ(from_bytes(scalar::add(ba, bb)), mod(a + b, kN)) << a << " " << b;
            ASSERT_EQ(from_bytes(scalar::sub(ba, bb)), mod(a - b, kN)) << a << " " << b;
        }
}

TEST(Sm2Scalar, Inversion) {
    EXPECT_EQ(from_bytes(scalar::inv(to_bytes(0))), 0);
    for (const mpz_class& a : inputs_below(kN, kRandom / 5)) {
        if (a == 0) continue;
        ASSERT_EQ(from_bytes(scalar::inv(to_bytes(a))), inv(a, kN)) << a;
    }
}

TEST(Sm2Scalar, FermatInversionAgrees) {
    EXPECT_EQ(value_of(curve::sc::inv_fermat(sc_of(0))), 0);
    for (const mpz_class& a : inputs_below(kN, 50)) {
        if (a == 0) continue;
        ASSERT_EQ(value_of(curve::sc::inv_fermat(sc_of(a))), inv(a, kN)) << a;
    }
}

TEST(Sm2Scalar, InputsOfNOrMoreAreReducedFirst) {
    const std::vector<mpz_class> big = {kN, kN + 1, kN + 2, kTwo256 - 1,
                                        kN + (kN >> 1) % (kTwo256 - kN)};
    for (const mpz_class& a : big) {
        const mpz_class b = random_below(kN);
        EXPECT_EQ(from_bytes(scalar::add(to_bytes(a), to_bytes(b))), mod(a + b, kN));
        EXPECT_EQ(from_bytes(scalar::sub(to_bytes(b), to_bytes(a))), mod(b - a, kN));
        EXPECT_EQ(from_bytes(scalar::mul(to_bytes(a), to_bytes(b))), mod(a * b, kN));
        EXPECT_EQ(from_bytes(scalar::inv(to_bytes(a))), inv(a, kN));
    }
}

TEST(Sm2Scalar, LimbInterfaceAgrees) {
    for (int i = 0; i < 50; ++i) {
        const mpz_class a = random_below(kN), b = random_below(kN);
        EXPECT_EQ(value_of(curve::sc::mul(sc_of(a), sc_of(b))), mod(a * b, kN));
        EXPECT_EQ(value_of(curve::sc::neg(sc_of(a))), mod(-a, kN));
        EXPECT_EQ(value_of(curve::sc::mont_mul(sc_of(a), sc_of(b))),
                  mod(a * b * inv(kTwo256, kN), kN));
    }
    EXPECT_EQ(value_of(curve::sc::neg(sc_of(0))), 0);
}

}  // namespace
