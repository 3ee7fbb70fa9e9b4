// Scalar recodings used by the multiplications: signed fixed windows and wNAF.
#include <gtest/gtest.h>

#include "reference.hpp"
#include "sm2/curve/mult_impl.hpp"

namespace {

namespace curve = pelmo::detail::sm2::curve;
namespace md = curve::mult_detail;
using namespace pelmo::test::sm2ref;

std::vector<mpz_class> recode_inputs() {
    std::vector<mpz_class> v = edge_scalars();
    for (int i = 0; i < 200; ++i) v.push_back(i % 2 ? random_runs() : random_bits(256));
    v.push_back(kTwo256 - 1);
    return v;
}

template <unsigned W, unsigned Count>
void check_signed(const mpz_class& k) {
    const curve::Sc s = sc_of(k);
    std::uint64_t mag[Count], neg[Count];
    md::recode_signed<W>(s.v, mag, neg);
    mpz_class sum = 0;
    for (unsigned i = Count; i-- > 0;) {
        ASSERT_LE(mag[i], 1u << (W - 1)) << k;
        ASSERT_TRUE(neg[i] == 0 || neg[i] == ~std::uint64_t{0});
        ASSERT_FALSE(neg[i] != 0 && mag[i] == 0);
        sum <<= W;
        sum += neg[i] ? -mpz_class(std::to_string(mag[i])) : mpz_class(std::to_string(mag[i]));
    }
    ASSERT_EQ(sum, k) << k.get_str(16);
}

TEST(Sm2Recode, SignedWindowsReconstructTheScalar) {
    for (const mpz_class& k : recode_inputs()) {
        check_signed<6, 43>(k < kN ? k : mod(k, kN));  // the comb reduces first
        check_signed<5, 52>(k);
    }
}

TEST(Sm2Recode, WnafIsNonAdjacentAndExact) {
    for (unsigned w : {2u, 5u, 8u, 10u}) {
        for (const mpz_class& k : recode_inputs()) {
            int digits[258];
            const unsigned len = md::wnaf(digits, sc_of(k).v, w);
            ASSERT_LE(len, 257u);
            mpz_class sum = 0;
            int last = -1000;
            for (unsigned i = 258; i-- > 0;) {
                sum <<= 1;
                sum += digits[i];
                if (digits[i] == 0) continue;
                ASSERT_LT(i, len);
                ASSERT_TRUE(digits[i] % 2 != 0) << "even digit";
                ASSERT_LT(std::abs(digits[i]), 1 << (w - 1));
                // Any two non-zero digits are at least w positions apart.
                if (last != -1000) {
                    ASSERT_GE(last - static_cast<int>(i), static_cast<int>(w));
                }
                last = static_cast<int>(i);
            }
            ASSERT_EQ(sum, k) << "w = " << w << ", k = " << k.get_str(16);
            if (k != 0) {
                ASSERT_NE(digits[len - 1], 0);
            }
        }
    }
}

}  // namespace
