// Field arithmetic modulo p against GMP.
#include <gtest/gtest.h>

#include "kernels.hpp"
#include "reference.hpp"
#include "sm2/curve/field.hpp"

namespace {

namespace curve = pelmo::detail::sm2::curve;
namespace fe = curve::fe;
using namespace pelmo::test::sm2ref;

#if defined(PELMO_SM2_TEST_LIGHT)
constexpr int kRandom = 600;
#else
constexpr int kRandom = 3000;
#endif

TEST(Sm2Field, ConstantsMatchTheCurve) {
    EXPECT_EQ(value_of(fe::kOne), 1);
    EXPECT_EQ(value_of(fe::kZero), 0);
    EXPECT_EQ(value_of(fe::kB), kB);
    EXPECT_EQ(from_bytes(curve::kP), kP);
    EXPECT_EQ(from_bytes(curve::kB), kB);
    mpz_class raw = 0;
    for (int i = 3; i >= 0; --i) raw = (raw << 64) + mpz_class(std::to_string(fe::kP[i]));
    EXPECT_EQ(raw, kP);
}

TEST(Sm2Field, BytesRoundTripAndRange) {
    for (const mpz_class& a : inputs_below(kP, 200)) {
        curve::Fe f{};
        ASSERT_TRUE(fe::from_bytes(f, to_bytes(a)));
        EXPECT_EQ(fe::to_bytes(f), to_bytes(a));
    }
    // p and above are not field elements; out is untouched.
    for (const mpz_class& bad :
         std::vector<mpz_class>{kP, kP + 1, kP + 0xffff, kTwo256 - 1, kTwo256 - kP + kP - 1}) {
        curve::Fe f = fe::kOne;
        EXPECT_FALSE(fe::from_bytes(f, to_bytes(bad))) << bad.get_str(16);
        EXPECT_EQ(value_of(f), 1);
    }
}

template <class F>
class Sm2FieldKernel : public ::testing::Test {
  protected:
    void SetUp() override {
        if (kernel_unavailable<F>()) GTEST_SKIP() << "kernel not supported by this CPU";
    }
};
TYPED_TEST_SUITE(Sm2FieldKernel, FieldKernels);

TYPED_TEST(Sm2FieldKernel, AddSubNegMulSqrAgainstGmp) {
    using F = TypeParam;
    const std::vector<mpz_class> in = inputs_below(kP, kRandom);
    const std::size_t count = in.size();
    for (std::size_t i = 0; i < count; ++i) {
        // Pair each value with its neighbour, with a random value and with itself.
        const mpz_class& a = in[i];
        for (const mpz_class& b :
             std::vector<mpz_class>{in[(i + 1) % count], in[(i * 7919 + 13) % count], a}) {
            const curve::Fe fa = fe_of(a), fb = fe_of(b);
            ASSERT_EQ(value_of(F::add(fa, fb)), mod(a + b, kP)) << a << " " << b;
            ASSERT_EQ(value_of(F::sub(fa, fb)), mod(a - b, kP)) << a << " " << b;
            ASSERT_EQ(value_of(F::mul(fa, fb)), mod(a * b, kP)) << a << " " << b;
        }
        const curve::Fe fa = fe_of(a);
        ASSERT_EQ(value_of(fe::neg(fa)), mod(-a, kP)) << a;
        ASSERT_EQ(value_of(F::sqr(fa)), mod(a * a, kP)) << a;
        ASSERT_EQ(value_of(F::dbl(fa)), mod(2 * a, kP)) << a;
        ASSERT_EQ(mod(2 * value_of(fe::half(fa)), kP), a) << a;
    }
}

TYPED_TEST(Sm2FieldKernel, EdgeValuesPairwise) {
    using F = TypeParam;
    const std::vector<mpz_class> in = edge_values(kP);
    for (const mpz_class& a : in) {
        for (const mpz_class& b : in) {
            const curve::Fe fa = fe_of(a), fb = fe_of(b);
            ASSERT_EQ(value_of(F::mul(fa, fb)), mod(a * b, kP)) << a << " " << b;
            ASSERT_EQ(value_of(F::add(fa, fb)), mod(a + b, kP)) << a << " " << b;
            ASSERT_EQ(value_of(F::sub(fa, fb)), mod(a - b, kP)) << a << " " << b;
            ASSERT_EQ(fe::eq(fa, fb) != 0, a == b);
        }
    }
}

TYPED_TEST(Sm2FieldKernel, TripleSumIsAGoodMultiplicationOperand) {
    // triple_sum may leave 3(a + b) above p; it must still be below 2^256 and congruent,
    // and a product with a reduced operand must come out reduced. Raw limbs (not
    // Montgomery form) let the cases aim at every fold: 3(a + b) just below
    // k 2^256 + 2^256 for each top k, where the second fold carries.
    using F = TypeParam;
    const auto raw = [](const mpz_class& v) {
        curve::Fe f{};
        for (int i = 0; i < 4; ++i)
            f.v[i] = mpz_class((v >> (64 * i)) & mpz_class("ffffffffffffffff", 16)).get_ui();
        return f;
    };
    const auto raw_value = [](const curve::Fe& f) {
        mpz_class v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 64) + mpz_class(std::to_string(f.v[i]));
        return v;
    };
    std::vector<std::pair<mpz_class, mpz_class>> cases;
    const std::vector<mpz_class> edges = edge_values(kP);
    for (const mpz_class& a : edges)
        for (const mpz_class& b : edges) cases.emplace_back(a, b);
    for (int k = 0; k < 6; ++k)
        for (int d = 0; d < 40; ++d) {
            const mpz_class v = mpz_class(k + 1) * kTwo256 - 1 - d;
            if (v % 3 != 0 || v / 3 > 2 * (kP - 1)) continue;
            const mpz_class s = v / 3, a = s < kP ? s : kP - 1;
            cases.emplace_back(a, s - a);
        }
    for (const mpz_class& a : inputs_below(kP, kRandom / 10))
        cases.emplace_back(a, random_below(kP));
    const mpz_class r_inv = inv(kTwo256, kP), u = random_below(kP);
    for (const auto& [a, b] : cases) {
        const curve::Fe w = F::triple_sum(raw(a), raw(b));
        ASSERT_EQ(mod(raw_value(w), kP), mod(3 * (a + b), kP)) << a << " " << b;
        ASSERT_EQ(raw_value(F::mul(raw(u), w)), mod(u * 3 * (a + b) * r_inv, kP)) << a << " " << b;
        ASSERT_EQ(raw_value(F::mul(w, raw(kP - 1))), mod((kP - 1) * 3 * (a + b) * r_inv, kP));
    }
}

TEST(Sm2Field, MontgomeryReductionOfExtremeProducts) {
    // reduce() takes any t < p * 2^256; the largest products come from p - 1.
    const std::vector<mpz_class> ts = {0,
                                       1,
                                       kP - 1,
                                       (kP - 1) * (kP - 1),
                                       kP * kTwo256 - 1,
                                       kP * (kTwo256 - 1),
                                       kP * kP,
                                       kTwo256 * kTwo256 / 2};
    for (const mpz_class& t : ts) {
        if (t >= kP * kTwo256) continue;
        std::uint64_t limbs[8];
        mpz_class x = t;
        for (auto& l : limbs) {
            l = std::stoull(mpz_class(x & mpz_class("ffffffffffffffff", 16)).get_str(16), nullptr,
                            16);
            x >>= 64;
        }
        const curve::Fe r = fe::reduce(limbs);
        mpz_class got = 0;
        for (int i = 3; i >= 0; --i) got = (got << 64) + mpz_class(std::to_string(r.v[i]));
        EXPECT_EQ(got, mod(t * inv(kTwo256, kP), kP)) << t.get_str(16);
    }
}

TYPED_TEST(Sm2FieldKernel, Inversion) {
    using F = TypeParam;
    EXPECT_EQ(value_of(fe::inv<F>(fe::kZero)), 0);
    for (const mpz_class& a : inputs_below(kP, kRandom / 10)) {
        if (a == 0) continue;
        ASSERT_EQ(value_of(fe::inv<F>(fe_of(a))), inv(a, kP)) << a;
        ASSERT_EQ(value_of(fe::inv_fermat<F>(fe_of(a))), inv(a, kP)) << a;
    }
    EXPECT_EQ(value_of(fe::inv_fermat<F>(fe::kZero)), 0);
}

TYPED_TEST(Sm2FieldKernel, SquareRoots) {
    using F = TypeParam;
    int roots = 0;
    for (const mpz_class& a : inputs_below(kP, kRandom / 10)) {
        curve::Fe r{};
        const bool ok = fe::sqrt<F>(r, fe_of(a));
        const bool is_square = mpz_legendre(a.get_mpz_t(), kP.get_mpz_t()) >= 0;
        ASSERT_EQ(ok, is_square) << a;
        if (ok) {
            ++roots;
            ASSERT_EQ(mod(value_of(r) * value_of(r), kP), a);
        }
    }
    EXPECT_GT(roots, 10);
}

TEST(Sm2Field, ConditionalMoveAndNegate) {
    const mpz_class a = random_below(kP), b = random_below(kP);
    curve::Fe r = fe_of(a);
    fe::cmov(r, fe_of(b), 0);
    EXPECT_EQ(value_of(r), a);
    fe::cmov(r, fe_of(b), ~std::uint64_t{0});
    EXPECT_EQ(value_of(r), b);
    fe::cneg(r, 0);
    EXPECT_EQ(value_of(r), b);
    fe::cneg(r, ~std::uint64_t{0});
    EXPECT_EQ(value_of(r), mod(-b, kP));
    EXPECT_NE(fe::is_zero(fe::kZero), 0u);
    EXPECT_EQ(fe::is_zero(fe::kOne), 0u);
}

}  // namespace
