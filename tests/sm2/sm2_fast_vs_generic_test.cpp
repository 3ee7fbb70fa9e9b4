// The fixed-width core against the generic path on the recommended curve: _kg for
// boundary and random scalars, on G and on random points.
#include <pelmo/sm2.hpp>

#include <gtest/gtest.h>

#include <vector>

#include "sm2/fast.hpp"
#include "sm2/generic/point_ops.hpp"
#include "sm2_test_util.hpp"

namespace {

using namespace pelmo::test::sm2;
using pelmo::BigInt;
using pelmo::sm2::CryptSM2;
namespace generic = pelmo::detail::sm2::generic;
namespace fast = pelmo::detail::sm2::fast;

std::vector<BigInt> boundary_scalars() {
    const BigInt& n = N();
    const BigInt top = two_256();
    std::vector<BigInt> ks = {0,
                              1,
                              2,
                              3,
                              n - 3,
                              n - 2,
                              n - 1,
                              n,
                              n + 1,
                              n + 2,
                              n + 3,
                              n + 4,
                              top - 1,
                              top - 2,
                              top - n,
                              top - n + 1,
                              top >> 1,
                              (top >> 1) - 1,
                              (top >> 1) + 1,
                              (n + 1) / 2,
                              (n - 1) / 2,
                              (n + 3) / 2,
                              top + 5,
                              top + n,
                              top + n + 2,
                              2 * top - 1};
    // Long runs of ones and zeros, from either end.
    for (unsigned run : {1u, 7u, 31u, 32u, 33u, 63u, 64u, 65u, 128u, 200u, 224u, 255u}) {
        const BigInt ones = (BigInt(1) << run) - 1;
        ks.push_back(ones);
        ks.push_back(ones << (256 - run));
        ks.push_back((top - 1) ^ ones);
        ks.push_back(BigInt(1) << run);
        ks.push_back(n ^ ones);
    }
    // Alternating bytes and nibbles.
    ks.push_back(H(std::string(32, 'a') + std::string(32, '5')));
    ks.push_back(H(std::string(64, 'f').replace(10, 20, std::string(20, '0'))));
    return ks;
}

void expect_same(const CryptSM2& e, const BigInt& k, const std::string& P) {
    const auto& c = curve_of(e);
    const auto want = generic::kg_text(c, k, P);
    ASSERT_EQ(e._kg(k, P), want) << "k = " << k.get_str(16) << " P = " << P;
}

TEST(Sm2FastVsGeneric, BoundaryScalarsOnG) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    for (const BigInt& k : boundary_scalars()) expect_same(e, k, G());
}

TEST(Sm2FastVsGeneric, BoundaryScalarsOnOtherPoints) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    const auto ks = boundary_scalars();
    for (int i = 0; i < 3; ++i) {
        const std::string P = *e._kg(random_below_pow2(256), G());
        for (std::size_t j = 0; j < ks.size(); j += kScale) expect_same(e, ks[j], upper(P));
    }
}

TEST(Sm2FastVsGeneric, RandomScalarsAndPoints) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    const auto& c = curve_of(e);
    const int rounds = 1200 / kScale;
    std::string P = G();
    for (int i = 0; i < rounds; ++i) {
        // Every third round uses a new random point (one of the previous results).
        const BigInt k = random_below_pow2(i % 5 == 0 ? 300 : 256);
        const auto want = generic::kg_text(c, k, i % 2 == 0 ? G() : P);
        ASSERT_EQ(e._kg(k, i % 2 == 0 ? G() : P), want) << k.get_str(16) << " " << P;
        if (i % 3 == 0 && want) P = *want;
    }
}

TEST(Sm2FastVsGeneric, ShortScalarsDecodeLikeNumbers) {
    using pelmo::detail::sm2::curve::Bytes32;
    for (const std::string& text :
         std::vector<std::string>{"1", "f", "10", "abc", "ABCDEF0", std::string(63, '9'),
                                  std::string(64, 'F'), "0000000000001"}) {
        Bytes32 raw;
        fast::parse_scalar(text, raw, "k");
        EXPECT_EQ(pelmo::detail::to_hex(raw), hex64(H(text))) << text;
        EXPECT_EQ(fast::scalar_from_int(H(text)), raw);
    }
    // Any length: the value decides whether it fits in 256 bits.
    for (const std::string& text : std::vector<std::string>{
             "00" + std::string(64, 'f'), std::string(300, '0') + "abc", "0" + std::string(64, '0'),
             "1" + std::string(64, '0'), std::string(65, 'f'),
             std::string(100, '0') + "1" + G().substr(0, 64)}) {
        Bytes32 raw;
        const bool fits = H(text) < two_256();
        EXPECT_EQ(fast::parse_scalar(text, raw, "k"), fits) << text;
        EXPECT_EQ(pelmo::detail::to_hex(raw), hex64(fits ? H(text) : BigInt(0))) << text;
    }
    Bytes32 raw;
    EXPECT_THROW(fast::parse_scalar("", raw, "k"), std::invalid_argument);
    EXPECT_THROW(fast::parse_scalar("12 4", raw, "k"), std::invalid_argument);
    EXPECT_THROW(fast::parse_scalar("-1", raw, "k"), std::invalid_argument);
    EXPECT_THROW(fast::parse_scalar("0x" + std::string(64, '1'), raw, "k"), std::invalid_argument);
    EXPECT_EQ(fast::scalar_from_int(two_256() + 7), fast::scalar_from_int(7));
    EXPECT_EQ(fast::scalar_from_int(BigInt(-1)), fast::scalar_from_int(two_256() - 1));
}

}  // namespace
