// The Jacobian group law against the affine GMP model.
#include <gtest/gtest.h>

#include "kernels.hpp"
#include "reference.hpp"
#include "sm2/curve/group.hpp"

namespace {

namespace curve = pelmo::detail::sm2::curve;
namespace grp = curve::grp;
namespace fe = curve::fe;
using namespace pelmo::test::sm2ref;

#if defined(PELMO_SM2_TEST_LIGHT)
constexpr int kRandom = 100;
#else
constexpr int kRandom = 400;
#endif

/// A random curve point, found by lifting random x coordinates.
Point random_point() {
    for (;;) {
        const mpz_class x = random_below(kP);
        const mpz_class rhs = mod(x * x * x + kA * x + kB, kP);
        mpz_class y;
        mpz_powm(y.get_mpz_t(), rhs.get_mpz_t(), mpz_class((kP + 1) / 4).get_mpz_t(),
                 kP.get_mpz_t());
        if (mod(y * y, kP) != rhs) continue;
        if (pelmo::test::rng()() & 1) y = kP - y;
        return Point{x, y, false};
    }
}

/// The Jacobian form (x z^2, y z^3, z) of an affine point with a chosen z.
curve::Jac jac_of(const Point& q, const mpz_class& z) {
    if (q.inf) return curve::Jac{fe::kOne, fe::kOne, fe::kZero};
    const mpz_class z2 = mod(z * z, kP);
    return curve::Jac{fe_of(mod(q.x * z2, kP)), fe_of(mod(q.y * z2 * z, kP)), fe_of(z)};
}
curve::Jac jac_of(const Point& q) {
    return jac_of(q, 1 + random_below(kP - 1));
}

curve::Aff aff_of(const Point& q) {
    return curve::Aff{fe_of(q.x), fe_of(q.y)};
}

Point point_of(const curve::Jac& j) {
    const mpz_class z = value_of(j.Z);
    if (z == 0) return Point{0, 0, true};
    const mpz_class zi = inv(z, kP);
    return Point{mod(value_of(j.X) * zi * zi, kP), mod(value_of(j.Y) * zi * zi * zi, kP), false};
}

const Point kInfinity{0, 0, true};

template <class F>
class Sm2Group : public ::testing::Test {
  protected:
    void SetUp() override {
        if (kernel_unavailable<F>()) GTEST_SKIP() << "kernel not supported by this CPU";
    }
};
TYPED_TEST_SUITE(Sm2Group, FieldKernels);

TYPED_TEST(Sm2Group, DoublingAgainstModel) {
    using G = curve::grp::Group<TypeParam>;
    for (int i = 0; i < kRandom; ++i) {
        const Point q = random_point();
        ASSERT_EQ(point_of(G::dbl(jac_of(q))), add(q, q));
    }
    EXPECT_EQ(point_of(G::dbl(jac_of(kInfinity))), kInfinity);
    // Jacobian with z = 1 (the affine embedding) and z = p - 1.
    const Point g = generator();
    EXPECT_EQ(point_of(G::dbl(grp::from_affine(aff_of(g)))), add(g, g));
    EXPECT_EQ(point_of(G::dbl(jac_of(g, kP - 1))), add(g, g));
}

TYPED_TEST(Sm2Group, MixedAdditionAgainstModel) {
    using G = curve::grp::Group<TypeParam>;
    for (int i = 0; i < kRandom; ++i) {
        const Point a = random_point(), b = random_point();
        std::uint64_t same = 1;
        ASSERT_EQ(point_of(G::add_mixed(jac_of(a), aff_of(b), same)), add(a, b));
        ASSERT_EQ(same, 0u);
        // a + (-a) is infinity without the "same" flag; a + a raises it.
        EXPECT_EQ(point_of(G::add_mixed(jac_of(a), aff_of(neg(a)), same)), kInfinity);
        EXPECT_EQ(same, 0u);
        (void)G::add_mixed(jac_of(a), aff_of(a), same);
        EXPECT_EQ(same, ~std::uint64_t{0});
    }
}

TYPED_TEST(Sm2Group, FullAdditionAgainstModel) {
    using G = curve::grp::Group<TypeParam>;
    for (int i = 0; i < kRandom; ++i) {
        const Point a = random_point(), b = random_point();
        std::uint64_t same = 1;
        ASSERT_EQ(point_of(G::add(jac_of(a), jac_of(b), same)), add(a, b));
        ASSERT_EQ(same, 0u);
        EXPECT_EQ(point_of(G::add(jac_of(a), jac_of(neg(a)), same)), kInfinity);
        EXPECT_EQ(same, 0u);
        (void)G::add(jac_of(a), jac_of(a), same);
        EXPECT_EQ(same, ~std::uint64_t{0});
    }
}

TYPED_TEST(Sm2Group, CoZDoublingAndAddition) {
    // dbl_coz gives 2a and a on one Z; add_coz adds two points on one Z and moves its
    // first operand to the Z of the sum, so a chain of them walks 3a, 5a, 7a.
    using G = curve::grp::Group<TypeParam>;
    for (int i = 0; i < kRandom / 4; ++i) {
        const Point a = random_point();
        curve::Jac a_coz{}, twice = G::dbl_coz(jac_of(a), a_coz);
        ASSERT_EQ(point_of(twice), add(a, a));
        ASSERT_EQ(point_of(a_coz), a);
        ASSERT_EQ(value_of(a_coz.Z), value_of(twice.Z));
        Point expected = a;
        curve::Jac odd = a_coz;
        for (int k = 0; k < 4; ++k) {
            odd = G::add_coz(twice, odd);
            expected = add(expected, add(a, a));
            ASSERT_EQ(point_of(odd), expected);
            ASSERT_EQ(point_of(twice), add(a, a));
            ASSERT_EQ(value_of(twice.Z), value_of(odd.Z));
        }
        // Two unrelated points on one chosen Z.
        const Point b = random_point(), c = random_point();
        const mpz_class z = 1 + random_below(kP - 1);
        curve::Jac jb = jac_of(b, z);
        const curve::Jac sum = G::add_coz(jb, jac_of(c, z));
        ASSERT_EQ(point_of(sum), add(b, c));
        ASSERT_EQ(point_of(jb), b);
        ASSERT_EQ(value_of(jb.Z), value_of(sum.Z));
    }
}

TYPED_TEST(Sm2Group, CompleteAdditionCoversEveryCase) {
    using G = curve::grp::Group<TypeParam>;
    for (int i = 0; i < kRandom / 4; ++i) {
        const Point a = random_point(), b = random_point();
        const std::vector<std::pair<Point, Point>> cases = {
            {a, b}, {a, a}, {a, neg(a)}, {kInfinity, a}, {a, kInfinity}, {kInfinity, kInfinity}};
        for (const auto& [x, y] : cases) {
            ASSERT_EQ(point_of(G::add_complete(jac_of(x), jac_of(y))), add(x, y));
            if (!y.inf) {
                ASSERT_EQ(point_of(G::add_mixed_complete(jac_of(x), aff_of(y))), add(x, y));
            }
        }
    }
}

TYPED_TEST(Sm2Group, AffineConversionAndCurveEquation) {
    using G = curve::grp::Group<TypeParam>;
    for (int i = 0; i < kRandom / 4; ++i) {
        const Point q = random_point();
        const curve::Aff a = G::to_affine(jac_of(q));
        EXPECT_EQ(value_of(a.x), q.x);
        EXPECT_EQ(value_of(a.y), q.y);
        EXPECT_TRUE(G::on_curve(a));
        EXPECT_FALSE(G::on_curve(curve::Aff{a.x, fe::add(a.y, fe::kOne)}));
    }
    EXPECT_TRUE(G::on_curve(aff_of(generator())));
}

TEST(Sm2GroupHelpers, ConditionalMove) {
    const Point a = random_point(), b = random_point();
    curve::Jac r = jac_of(a);
    grp::cmov(r, jac_of(b), 0);
    EXPECT_EQ(point_of(r), a);
    grp::cmov(r, jac_of(b), ~std::uint64_t{0});
    EXPECT_EQ(point_of(r), b);
}

}  // namespace
