// Divsteps inversion modulo p and n, constant and variable time, against GMP.
#include <gtest/gtest.h>

#include "reference.hpp"
#include "sm2/curve/modinv.hpp"

namespace {

namespace curve = pelmo::detail::sm2::curve;
namespace modinv = curve::modinv;
using namespace pelmo::test::sm2ref;

#if defined(PELMO_SM2_TEST_LIGHT)
constexpr int kRandom = 1000;
#else
constexpr int kRandom = 6000;
#endif

// Both inversions of x, which must agree.
mpz_class inverse_of(const mpz_class& x, const modinv::Modulus& md) {
    const curve::Sc in = sc_of(x);
    curve::Sc out{}, out_vartime{};
    modinv::inverse(out.v, in.v, md);
    modinv::inverse_vartime(out_vartime.v, in.v, md);
    EXPECT_EQ(value_of(out_vartime), value_of(out)) << x.get_str(16);
    return value_of(out);
}

void check_modulus(const mpz_class& m, const modinv::Modulus& md) {
    // The limbs and the 2^62 inverse describe m.
    mpz_class value = 0;
    for (int i = 4; i >= 0; --i) value = (value << 62) + md.m.v[i];
    ASSERT_EQ(value, m);
    ASSERT_EQ(mod(mpz_class(std::to_string(md.inv)) * m, mpz_class(1) << 62), 1);

    EXPECT_EQ(inverse_of(0, md), 0);
    std::vector<mpz_class> in = edge_values(m);
    for (int i = 0; i < kRandom; ++i)
        in.push_back(i % 5 == 0 ? mod(random_runs(), m) : random_below(m));
    for (const mpz_class& x : in) {
        if (x == 0) continue;
        ASSERT_EQ(inverse_of(x, md), inv(x, m)) << x.get_str(16);
    }
}

TEST(Sm2Modinv, FieldPrime) {
    check_modulus(kP, modinv::kFieldP);
}
TEST(Sm2Modinv, GroupOrder) {
    check_modulus(kN, modinv::kOrderN);
}

TEST(Sm2Modinv, PowersOfTwoAndSmallValues) {
    // Inputs whose gcd chains are unusually long or short.
    for (const auto& [m, md] : {std::pair{kP, modinv::kFieldP}, std::pair{kN, modinv::kOrderN}}) {
        for (unsigned b = 0; b < 256; ++b) {
            const mpz_class x = mod(mpz_class(1) << b, m);
            ASSERT_EQ(inverse_of(x, md), inv(x, m)) << b;
            ASSERT_EQ(inverse_of(m - x, md), inv(m - x, m)) << b;
        }
        for (int small = 1; small < 300; ++small)
            ASSERT_EQ(inverse_of(small, md), inv(small, m)) << small;
    }
}

}  // namespace
