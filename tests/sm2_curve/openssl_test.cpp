// The curve core against OpenSSL's SM2 group, and its algorithms against each other
// in volume (the comb, the variable-base window and the wNAF pass share no code
// beyond the field and the group law).
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include <memory>

#include "kernels.hpp"
#include "reference.hpp"
#include "sm2/curve/curve.hpp"

namespace {

namespace curve = pelmo::detail::sm2::curve;
using namespace pelmo::test::sm2ref;

#if defined(PELMO_SM2_TEST_LIGHT)
constexpr int kOpenSsl = 30;
constexpr int kVolume = 300;
#else
constexpr int kOpenSsl = 150;
constexpr int kVolume = 2000;
#endif

struct OpenSslSm2 {
    OpenSslSm2() : group(EC_GROUP_new_by_curve_name(NID_sm2)), ctx(BN_CTX_new()) {}
    ~OpenSslSm2() {
        BN_CTX_free(ctx);
        EC_GROUP_free(group);
    }
    EC_GROUP* group;
    BN_CTX* ctx;

    static BIGNUM* bn(const Bytes32& b) { return BN_bin2bn(b.data(), 32, nullptr); }

    /// s*G + t*P (either may be null); false at infinity.
    bool mul(curve::Affine& out, const Bytes32* s, const Bytes32* t, const curve::Affine* P) {
        std::unique_ptr<BIGNUM, decltype(&BN_free)> bs(s ? bn(*s) : nullptr, BN_free),
            bt(t ? bn(*t) : nullptr, BN_free);
        std::unique_ptr<EC_POINT, decltype(&EC_POINT_free)> p(nullptr, EC_POINT_free),
            r(EC_POINT_new(group), EC_POINT_free);
        if (P) {
            p.reset(EC_POINT_new(group));
            std::unique_ptr<BIGNUM, decltype(&BN_free)> x(bn(P->x), BN_free), y(bn(P->y), BN_free);
            if (!EC_POINT_set_affine_coordinates(group, p.get(), x.get(), y.get(), ctx))
                std::abort();
        }
        if (!EC_POINT_mul(group, r.get(), bs.get(), p.get(), bt.get(), ctx)) std::abort();
        if (EC_POINT_is_at_infinity(group, r.get())) return false;
        std::unique_ptr<BIGNUM, decltype(&BN_free)> x(BN_new(), BN_free), y(BN_new(), BN_free);
        EC_POINT_get_affine_coordinates(group, r.get(), x.get(), y.get(), ctx);
        BN_bn2binpad(x.get(), out.x.data(), 32);
        BN_bn2binpad(y.get(), out.y.data(), 32);
        return true;
    }
};

Bytes32 random_scalar_bytes(int i) {
    return to_bytes(i % 4 == 0 ? random_runs() : random_bits(256));
}

TEST(Sm2AgainstOpenSsl, BaseVariableAndDoubleMultiplication) {
    OpenSslSm2 ossl;
    for_each_dispatch([&] {
        for (int i = 0; i < kOpenSsl; ++i) {
            const Bytes32 s = random_scalar_bytes(i), t = random_scalar_bytes(i + 1);
            curve::Affine want, got, p;
            ASSERT_TRUE(ossl.mul(p, &t, nullptr, nullptr));
            ASSERT_EQ(curve::mul_base(got, s), ossl.mul(want, &s, nullptr, nullptr));
            ASSERT_EQ(got.x, want.x);
            ASSERT_EQ(got.y, want.y);
            ASSERT_EQ(curve::mul(got, s, p), ossl.mul(want, nullptr, &s, &p));
            ASSERT_EQ(got.x, want.x);
            ASSERT_EQ(got.y, want.y);
            ASSERT_EQ(curve::mul_double_vartime(got, s, t, p), ossl.mul(want, &s, &t, &p));
            ASSERT_EQ(got.x, want.x);
            ASSERT_EQ(got.y, want.y);
        }
    });
}

TEST(Sm2AgainstOpenSsl, CurveConstants) {
    OpenSslSm2 ossl;
    std::unique_ptr<BIGNUM, decltype(&BN_free)> p(BN_new(), BN_free), a(BN_new(), BN_free),
        b(BN_new(), BN_free);
    ASSERT_TRUE(EC_GROUP_get_curve(ossl.group, p.get(), a.get(), b.get(), ossl.ctx));
    Bytes32 pb{}, bb{}, nb{};
    BN_bn2binpad(p.get(), pb.data(), 32);
    BN_bn2binpad(b.get(), bb.data(), 32);
    BN_bn2binpad(EC_GROUP_get0_order(ossl.group), nb.data(), 32);
    EXPECT_EQ(pb, curve::kP);
    EXPECT_EQ(bb, curve::kB);
    EXPECT_EQ(nb, curve::kN);
}

TEST(Sm2AlgorithmsAgree, CombWindowAndWnafInVolume) {
    // k*G four ways (comb, window with P = G, the wNAF pass on either scalar), and
    // k*P for a walking point P by the window and by the wNAF pass.
    const curve::Affine g{curve::kGx, curve::kGy};
    const Bytes32 zero{};
    for_each_dispatch([&] {
        curve::Affine p;
        ASSERT_TRUE(curve::mul_base(p, random_scalar_bytes(1)));
        for (int i = 0; i < kVolume; ++i) {
            const Bytes32 k = random_scalar_bytes(i);
            curve::Affine comb, window, wnaf_g, wnaf_p;
            const bool ok = curve::mul_base(comb, k);
            ASSERT_EQ(curve::mul(window, k, g), ok);
            ASSERT_EQ(curve::mul_double_vartime(wnaf_g, k, zero, p), ok);
            ASSERT_EQ(curve::mul_double_vartime(wnaf_p, zero, k, g), ok);
            if (!ok) continue;
            ASSERT_EQ(window.x, comb.x);
            ASSERT_EQ(window.y, comb.y);
            ASSERT_EQ(wnaf_g.x, comb.x);
            ASSERT_EQ(wnaf_g.y, comb.y);
            ASSERT_EQ(wnaf_p.x, comb.x);
            ASSERT_EQ(wnaf_p.y, comb.y);
            if (i % 4 == 0) {
                curve::Affine kp, kp2;
                ASSERT_EQ(curve::mul(kp, k, p), curve::mul_double_vartime(kp2, zero, k, p));
                ASSERT_EQ(kp.x, kp2.x);
                ASSERT_EQ(kp.y, kp2.y);
                p = comb;  // walk to a new point
            }
        }
    });
}

}  // namespace
