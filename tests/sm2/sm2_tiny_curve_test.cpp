// The group law of the generic path, checked exhaustively on a curve small enough to
// enumerate: y^2 = x^3 + 5x + 3 over the field of 263 elements, whose 283 points
// (with the point at infinity) form a group of prime order.
#include <pelmo/sm2.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <vector>

#include "sm2_test_util.hpp"

namespace {

using namespace pelmo::test::sm2;
using pelmo::BigInt;
using pelmo::sm2::CryptSM2;
using pelmo::sm2::EccTable;

constexpr long kP = 263, kA = 5, kB = 3, kN = 283;

long md(long v) {
    return ((v % kP) + kP) % kP;
}
long inv(long v) {
    long r = 1, b = md(v);
    for (long e = kP - 2; e > 0; e >>= 1, b = b * b % kP)
        if (e & 1) r = r * b % kP;
    return r;
}

// Affine points with the point at infinity as nullopt.
struct Pt {
    long x, y;
    bool operator==(const Pt&) const = default;
};
using MaybePt = std::optional<Pt>;

MaybePt add(const MaybePt& a, const MaybePt& b) {
    if (!a) return b;
    if (!b) return a;
    long l;
    if (a->x == b->x) {
        if (md(a->y + b->y) == 0) return std::nullopt;
        l = md((3 * a->x * a->x + kA) % kP * inv(2 * a->y));
    } else {
        l = md(md(b->y - a->y) * inv(b->x - a->x));
    }
    const long x = md(l * l - a->x - b->x);
    return Pt{x, md(l * (a->x - x) - a->y)};
}

std::vector<Pt> all_points() {
    std::vector<Pt> pts;
    for (long x = 0; x < kP; ++x)
        for (long y = 0; y < kP; ++y)
            if (md(y * y - (x * x * x + kA * x + kB)) == 0) pts.push_back({x, y});
    return pts;
}

std::string coord(long v, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*lx", width, v);
    return buf;
}
std::string text(const Pt& P, int width = 3) {
    return coord(P.x, width) + coord(P.y, width);
}

// What the double-and-add of _kg yields, modelled on affine points: the top set bit
// loads P; each later bit doubles and, when set, adds P. Jacobian addition has no
// doubling case, and Z = 0 never leaves again: the result has no value as soon as
// P is added to itself, or the running point reaches infinity.
MaybePt model_kg(const BigInt& k, const Pt& P, unsigned bits) {
    BigInt kk = k & ((BigInt(1) << bits) - 1);
    if (kk == 0) return P;
    MaybePt T = P;
    bool dead = false;
    for (long i = static_cast<long>(mpz_sizeinbase(kk.get_mpz_t(), 2)) - 2; i >= 0; --i) {
        T = add(T, T);
        if (!T) dead = true;
        if (mpz_tstbit(kk.get_mpz_t(), static_cast<mp_bitcnt_t>(i))) {
            if (!T || *T == P) dead = true;
            T = add(T, P);
            if (!T) dead = true;
        }
    }
    if (dead) return std::nullopt;
    return T;
}

// The double-and-add written over the engine's text operations, as the algorithm
// reads: k is shifted left without bound, and only the bit under the mask counts.
std::optional<std::string> literal_kg(const CryptSM2& e, BigInt k, const std::string& point) {
    const int pl = e.para_len();
    const std::string start = point + "1";
    const BigInt mask = BigInt(1) << (4 * pl - 1);
    std::string temp = start;
    bool flag = false;
    for (int i = 0; i < 4 * pl; ++i) {
        if (flag) temp = *e._double_point(temp);
        if ((k & mask) != 0) {
            if (flag) {
                temp = *e._add_point(temp, start);
            } else {
                flag = true;
                temp = start;
            }
        }
        k <<= 1;
    }
    return e._convert_jacb_to_nor(temp);
}

EccTable tiny_table(const Pt& g) {
    return {{"n", "11b"}, {"p", "107"}, {"a", "5"}, {"b", "3"}, {"g", text(g)}};
}

class TinyCurve : public ::testing::Test {
  protected:
    void SetUp() override {
        pts = all_points();
        ASSERT_EQ(pts.size() + 1, static_cast<std::size_t>(kN));
    }
    std::vector<Pt> pts;
};

TEST_F(TinyCurve, ScalarMultiplicationMatchesTheModelForEveryPoint) {
    const CryptSM2 e(std::nullopt, std::nullopt, tiny_table(pts[0]));
    ASSERT_EQ(e.para_len(), 3);
    std::vector<BigInt> ks;
    for (long k : {0L,   1L,   2L,    3L,    4L,    5L,    7L,    100L,        141L, 142L,
                   143L, 281L, 282L,  283L,  284L,  285L,  286L,  566L,        567L, 568L,
                   569L, 570L, 1000L, 2048L, 4095L, 4096L, 4097L, 4096L + 285L})
        ks.push_back(k);
    for (int i = 0; i < 12; ++i) ks.push_back(random_below_pow2(12));
    ks.push_back(BigInt(-1));
    const std::size_t stride = kScale;
    for (std::size_t i = 0; i < pts.size(); i += stride) {
        for (const BigInt& k : ks) {
            const MaybePt want = model_kg(k, pts[i], 12);
            const auto got = e._kg(k, text(pts[i]));
            ASSERT_EQ(got.has_value(), want.has_value()) << text(pts[i]) << " k=" << k;
            if (want) {
                ASSERT_EQ(*got, text(*want)) << text(pts[i]) << " k=" << k;
            }
        }
    }
}

TEST_F(TinyCurve, EveryScalarOfTheFieldWidthOnSomePoints) {
    const CryptSM2 e(std::nullopt, std::nullopt, tiny_table(pts[0]));
    for (std::size_t i : {std::size_t{0}, std::size_t{141}}) {
        for (long k = 0; k < 4096; k += kScale) {
            const MaybePt want = model_kg(k, pts[i], 12);
            const auto got = e._kg(k, text(pts[i]));
            ASSERT_EQ(got.has_value(), want.has_value()) << text(pts[i]) << " k=" << k;
            if (want) {
                ASSERT_EQ(*got, text(*want)) << text(pts[i]) << " k=" << k;
            }
        }
    }
    // The failing scalars on a point of prime order n among 12-bit k include n and
    // n + 2, as on the recommended curve.
    EXPECT_FALSE(e._kg(kN, text(pts[7])).has_value());
    EXPECT_FALSE(e._kg(kN + 2, text(pts[7])).has_value());
    EXPECT_EQ(e._kg(kN + 1, text(pts[7])), text(pts[7]));
}

TEST_F(TinyCurve, AdditionOfEveryPairAndDoublingOfEveryPoint) {
    const CryptSM2 e(std::nullopt, std::nullopt, tiny_table(pts[0]));
    // P1 in Jacobian form with a varying Z: (x z^2, y z^3, z).
    long z = 2;
    for (std::size_t i = 0; i < pts.size(); ++i) {
        z = z % (kP - 1) + 1;
        const Pt& A = pts[i];
        const std::string jac = coord(A.x * z % kP * z % kP, 3) +
                                coord(A.y * z % kP * z % kP * z % kP, 3) + coord(z, 3);
        const auto dbl = e._double_point(jac);
        ASSERT_TRUE(dbl);
        ASSERT_EQ(dbl->size(), 9u);
        const MaybePt want2 = add(A, A);
        const auto got2 = e._convert_jacb_to_nor(*dbl);
        ASSERT_EQ(got2.has_value(), want2.has_value());
        if (want2) {
            ASSERT_EQ(*got2, text(*want2));
        }
        for (std::size_t j = i % kScale; j < pts.size(); j += kScale) {
            const Pt& B = pts[j];
            const auto sum = e._add_point(jac, text(B));
            ASSERT_TRUE(sum);
            const auto got = e._convert_jacb_to_nor(*sum);
            // No doubling case: A + A has no value, like A + (-A).
            const MaybePt want = A == B ? std::nullopt : add(A, B);
            ASSERT_EQ(got.has_value(), want.has_value()) << text(A) << " + " << text(B);
            if (want) {
                ASSERT_EQ(*got, text(*want)) << text(A) << " + " << text(B);
            }
        }
    }
}

TEST_F(TinyCurve, NumbersAndTextsAgree) {
    const CryptSM2 e(std::nullopt, std::nullopt, tiny_table(pts[0]));
    for (std::size_t i = 0; i < pts.size(); i += 23)
        for (long k : {0L, 1L, 2L, 3L, 141L, 283L, 285L, 1234L, 4095L})
            EXPECT_EQ(e._kg(k, text(pts[i])), literal_kg(e, k, text(pts[i]))) << i << " " << k;
}

TEST_F(TinyCurve, NarrowOrderTextsAreReadByPosition) {
    // "n" of two digits while p needs three: coordinates overflow their fields and the
    // texts are re-read by position. Only the text loop reproduces that.
    const EccTable narrow = {{"n", "fb"}, {"p", "107"}, {"a", "5"}, {"b", "3"}, {"g", "0102"}};
    const CryptSM2 e(std::nullopt, std::nullopt, narrow);
    ASSERT_EQ(e.para_len(), 2);
    for (const char* point : {"0102", "0a0b", "ffee", "1234"})
        for (long k : {0L, 1L, 2L, 3L, 5L, 77L, 200L, 255L, 256L + 9L})
            EXPECT_EQ(e._kg(k, point), literal_kg(e, k, point)) << point << " " << k;
}

TEST_F(TinyCurve, SignAndVerifyOnTheTinyCurve) {
    // With a key pair, the DER form round-trips for every scalar that signs.
    const Pt g = pts[10];
    CryptSM2 e(std::string("2a"), std::nullopt, tiny_table(g), 0, true);
    e.public_key = e._kg(0x2a, text(g));
    ASSERT_TRUE(e.public_key);
    const std::uint8_t msg[] = {0x01, 0x17};
    const std::uint8_t other[] = {0x01, 0x18};
    int signed_count = 0, other_verified = 0;
    for (long k = 1; k < kN; ++k) {
        const auto sig = e.sign(msg, coord(k, 3));
        if (!sig) continue;
        ++signed_count;
        ASSERT_TRUE(e.verify(*sig, msg)) << k;
        other_verified += e.verify(*sig, other) ? 1 : 0;
    }
    EXPECT_GT(signed_count, 250);
    EXPECT_LT(other_verified, 10);  // a group of 283 elements: chance agreements only
    // The raw form writes 64-digit fields whatever the table, but reads para_len
    // digits: on a table whose "n" is not 64 digits it does not read back.
    e.asn1 = false;
    const auto raw = e.sign(msg, "05");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->size(), 128u);
    EXPECT_FALSE(e.verify(*raw, msg));
}

}  // namespace
