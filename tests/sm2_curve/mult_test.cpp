// Scalar multiplications, lift_x and point validation against the GMP model.
#include <gtest/gtest.h>

#include "kernels.hpp"
#include "reference.hpp"
#include "sm2/curve/curve.hpp"

namespace {

namespace curve = pelmo::detail::sm2::curve;
using namespace pelmo::test::sm2ref;

#if defined(PELMO_SM2_TEST_LIGHT)
constexpr int kRandom = 40;
#else
constexpr int kRandom = 150;
#endif

Bytes32 hex32(const char* s) {
    return to_bytes(mpz_class(s, 16));
}

/// Checks one multiplication result against the model: false exactly at infinity.
void expect_point(bool ok, const curve::Affine& got, const Point& want, const mpz_class& k) {
    ASSERT_EQ(ok, !want.inf) << "k = " << k.get_str(16);
    if (ok) {
        ASSERT_EQ(from_bytes(got.x), want.x) << "k = " << k.get_str(16);
        ASSERT_EQ(from_bytes(got.y), want.y) << "k = " << k.get_str(16);
    }
}

std::vector<mpz_class> test_scalars(int random_count) {
    std::vector<mpz_class> v = edge_scalars();
    for (int i = 0; i < random_count; ++i)
        v.push_back(i % 3 == 0 ? random_runs() : random_bits(256));
    return v;
}

/// A random point: a random multiple of G computed by the model.
Point random_point() {
    return mul(random_below(kN - 1) + 1, generator());
}

TEST(Sm2Mult, PublicKeyKnownAnswer) {
    for_each_dispatch([&] {
        // GM/T 0003.5 signature example: private key and public key.
        curve::Affine pub;
        ASSERT_TRUE(curve::mul_base(
            pub, hex32("3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8")));
        EXPECT_EQ(pub.x, hex32("09F9DF311E5421A150DD7D161E4BC5C672179FAD1833FC076BB08FF356F35020"));
        EXPECT_EQ(pub.y, hex32("CCEA490CE26775A52DC6EA718CC1AA600AED05FBF35E084A6632F6072DA9AD13"));
        // The same through the variable-base path with P = G.
        curve::Affine again;
        ASSERT_TRUE(curve::mul(
            again, hex32("3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8"),
            curve::Affine{curve::kGx, curve::kGy}));
        EXPECT_EQ(again.x, pub.x);
        EXPECT_EQ(again.y, pub.y);
    });
}

TEST(Sm2Mult, BaseAgainstModel) {
    for_each_dispatch([&] {
        const Point g = generator();
        for (const mpz_class& k : test_scalars(kRandom)) {
            curve::Affine out;
            const bool ok = curve::mul_base(out, to_bytes(k));
            expect_point(ok, out, mul(mod(k, kN), g), k);
        }
    });
}

TEST(Sm2Mult, BaseSmallMultiplesAndNeighboursOfN) {
    for_each_dispatch([&] {
        // k and n - k give points with the same x and opposite y.
        const Point g = generator();
        Point acc{0, 0, true};
        for (int k = 1; k <= 70; ++k) {
            acc = add(acc, g);
            curve::Affine out, neg_out;
            ASSERT_TRUE(curve::mul_base(out, to_bytes(k)));
            expect_point(true, out, acc, k);
            ASSERT_TRUE(curve::mul_base(neg_out, to_bytes(kN - k)));
            expect_point(true, neg_out, neg(acc), kN - k);
        }
    });
}

TEST(Sm2Mult, VariableBaseAgainstModel) {
    for_each_dispatch([&] {
        const std::vector<mpz_class> scalars = test_scalars(kRandom);
        Point p = random_point();
        for (std::size_t i = 0; i < scalars.size(); ++i) {
            if (i % 16 == 0) p = random_point();
            const mpz_class& k = scalars[i];
            curve::Affine out;
            const bool ok = curve::mul(out, to_bytes(k), to_affine_bytes(p));
            expect_point(ok, out, mul(mod(k, kN), p), k);
        }
    });
}

TEST(Sm2Mult, VariableBaseSmallMultiples) {
    for_each_dispatch([&] {
        const Point p = random_point();
        Point acc{0, 0, true};
        for (int k = 1; k <= 40; ++k) {
            acc = add(acc, p);
            curve::Affine out;
            const bool ok = curve::mul(out, to_bytes(k), to_affine_bytes(p));
            expect_point(ok, out, acc, k);
            const bool ok_neg = curve::mul(out, to_bytes(kN - k), to_affine_bytes(p));
            expect_point(ok_neg, out, neg(acc), kN - k);
        }
    });
}

TEST(Sm2Mult, DoubleAgainstModel) {
    for_each_dispatch([&] {
        const std::vector<mpz_class> scalars = test_scalars(kRandom / 2);
        const Point g = generator();
        Point p = random_point();
        for (std::size_t i = 0; i < scalars.size(); ++i) {
            if (i % 8 == 0) p = random_point();
            const mpz_class& s = scalars[i];
            const mpz_class& t = scalars[(i * 31 + 7) % scalars.size()];
            curve::Affine out;
            const bool ok =
                curve::mul_double_vartime(out, to_bytes(s), to_bytes(t), to_affine_bytes(p));
            expect_point(ok, out, add(mul(mod(s, kN), g), mul(mod(t, kN), p)), s);
        }
    });
}

TEST(Sm2Mult, DoubleDegenerateCombinations) {
    for_each_dispatch([&] {
        const Point g = generator();
        for (int i = 0; i < 6; ++i) {
            const mpz_class d = random_below(kN - 1) + 1;
            const Point p = mul(d, g);
            const mpz_class t = random_below(kN - 1) + 1;
            curve::Affine out;
            // s*G = -t*P: infinity.
            const mpz_class s_cancel = mod(-t * d, kN);
            EXPECT_FALSE(curve::mul_double_vartime(out, to_bytes(s_cancel), to_bytes(t),
                                                   to_affine_bytes(p)));
            // s*G = t*P: the two halves meet and must be doubled.
            const mpz_class s_same = mod(t * d, kN);
            bool ok =
                curve::mul_double_vartime(out, to_bytes(s_same), to_bytes(t), to_affine_bytes(p));
            expect_point(ok, out, mul(mod(2 * t * d, kN), g), s_same);
            // P = G and P = -G.
            ok = curve::mul_double_vartime(out, to_bytes(t), to_bytes(t), to_affine_bytes(g));
            expect_point(ok, out, mul(mod(2 * t, kN), g), t);
            EXPECT_FALSE(
                curve::mul_double_vartime(out, to_bytes(t), to_bytes(t), to_affine_bytes(neg(g))));
            // One scalar zero.
            ok = curve::mul_double_vartime(out, to_bytes(0), to_bytes(t), to_affine_bytes(p));
            expect_point(ok, out, mul(t, p), t);
            ok = curve::mul_double_vartime(out, to_bytes(t), to_bytes(kN), to_affine_bytes(p));
            expect_point(ok, out, mul(t, g), t);
        }
        curve::Affine out;
        EXPECT_FALSE(curve::mul_double_vartime(out, to_bytes(0), to_bytes(0), to_affine_bytes(g)));
        EXPECT_FALSE(
            curve::mul_double_vartime(out, to_bytes(kN), to_bytes(kN), to_affine_bytes(g)));
    });
}

TEST(Sm2Mult, MulSumAgainstModel) {
    for_each_dispatch([&] {
        const std::vector<mpz_class> scalars = test_scalars(kRandom / 8);
        Point base = random_point(), addend = random_point();
        const auto check = [](const mpz_class& k, const mpz_class& x, const Point& p,
                              const Point& q) {
            const Point sum = add(mul(mod(x, kN), p), q);
            curve::Affine out;
            const bool ok = curve::mul_sum(out, to_bytes(k), to_bytes(x), to_affine_bytes(p),
                                           to_affine_bytes(q));
            expect_point(ok, out, sum.inf ? sum : mul(mod(k, kN), sum), k);
        };
        for (std::size_t i = 0; i < scalars.size(); ++i) {
            if (i % 8 == 7) {
                base = random_point();
                addend = random_point();
            }
            // The edge scalars on either side, with a random one or 1 on the other.
            const mpz_class other = i % 2 ? mpz_class(1) : random_below(kN);
            check(scalars[i], other, base, addend);
            check(other, scalars[i], base, addend);
        }
        // x*P = Q (a doubling), x*P = -Q (infinity), x = 0 and x = n (Q itself).
        const mpz_class d = random_below(kN - 1) + 1, x = random_below(kN - 1) + 1;
        const Point p = mul(d, generator()), xp = mul(x, p);
        for (const mpz_class& k : std::vector<mpz_class>{1, random_below(kN), 0, kN - 1}) {
            check(k, x, p, xp);
            check(k, x, p, neg(xp));
            check(k, 0, p, xp);
            check(k, kN, p, xp);
        }
    });
}

TEST(Sm2Mult, PointValidation) {
    for_each_dispatch([&] {
        const Point g = generator();
        EXPECT_TRUE(curve::is_valid_point(to_affine_bytes(g)));
        for (int i = 0; i < 20; ++i)
            EXPECT_TRUE(curve::is_valid_point(to_affine_bytes(random_point())));
        EXPECT_FALSE(curve::is_valid_point(curve::Affine{to_bytes(g.x), to_bytes(g.y + 1)}));
        EXPECT_FALSE(curve::is_valid_point(curve::Affine{to_bytes(0), to_bytes(0)}));
        EXPECT_FALSE(curve::is_valid_point(curve::Affine{to_bytes(kP), to_bytes(0)}));
        // A point with a small x: adding p to x keeps the equation true modulo p, but the
        // coordinate is not canonical and is rejected.
        for (mpz_class x = 0;; ++x) {
            const mpz_class rhs = mod(x * x * x + kA * x + kB, kP);
            mpz_class y;
            mpz_powm(y.get_mpz_t(), rhs.get_mpz_t(), mpz_class((kP + 1) / 4).get_mpz_t(),
                     kP.get_mpz_t());
            if (mod(y * y, kP) != rhs) continue;
            EXPECT_TRUE(curve::is_valid_point(curve::Affine{to_bytes(x), to_bytes(y)}));
            EXPECT_FALSE(curve::is_valid_point(curve::Affine{to_bytes(x + kP), to_bytes(y)}));
            break;
        }
        EXPECT_FALSE(curve::is_valid_point(curve::Affine{to_bytes(g.x), to_bytes(kP)}));
        EXPECT_FALSE(curve::is_valid_point(curve::Affine{to_bytes(g.x), to_bytes(kTwo256 - 1)}));
        // mul and mul_double_vartime refuse invalid points rather than compute on them.
        curve::Affine out;
        EXPECT_FALSE(curve::mul(out, to_bytes(5), curve::Affine{to_bytes(g.x), to_bytes(g.y + 1)}));
    });
}

TEST(Sm2Mult, LiftXRoundTrips) {
    for_each_dispatch([&] {
        for (int i = 0; i < 40; ++i) {
            const Point q = i == 0 ? generator() : random_point();
            const int parity = mpz_odd_p(q.y.get_mpz_t()) ? 1 : 0;
            curve::Affine out;
            ASSERT_TRUE(curve::lift_x(out, to_bytes(q.x), parity));
            EXPECT_EQ(from_bytes(out.x), q.x);
            EXPECT_EQ(from_bytes(out.y), q.y);
            ASSERT_TRUE(curve::lift_x(out, to_bytes(q.x), 1 - parity));
            EXPECT_EQ(from_bytes(out.y), kP - q.y);
        }
        // x values with no point, and x >= p.
        int misses = 0;
        for (int i = 0; i < 40; ++i) {
            const mpz_class x = random_below(kP);
            const mpz_class rhs = mod(x * x * x + kA * x + kB, kP);
            const bool square = mpz_legendre(rhs.get_mpz_t(), kP.get_mpz_t()) >= 0;
            curve::Affine out;
            EXPECT_EQ(curve::lift_x(out, to_bytes(x), 0), square);
            misses += square ? 0 : 1;
        }
        EXPECT_GT(misses, 0);
        curve::Affine out;
        EXPECT_FALSE(curve::lift_x(out, to_bytes(kP), 0));
        EXPECT_FALSE(curve::lift_x(out, to_bytes(kTwo256 - 1), 1));
    });
}

}  // namespace
