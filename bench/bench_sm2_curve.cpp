// The SM2 curve core beside OpenSSL's EC_POINT_mul on the SM2 curve and on P-256.
#include <benchmark/benchmark.h>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include <cstdint>
#include <random>
#include <string_view>

#include "common/cpu.hpp"
#include "sm2/curve/curve.hpp"
#include "sm2/curve/field.hpp"
#include "sm2/curve/field_adx.hpp"
#include "sm2/curve/mult.hpp"
#include "sm2/curve/scalar.hpp"
#include "support/kernels.hpp"

namespace {

namespace curve = pelmo::detail::sm2::curve;

curve::Bytes32 random32(std::mt19937_64& gen) {
    curve::Bytes32 b{};
    for (auto& x : b) x = static_cast<std::uint8_t>(gen());
    return b;
}

curve::Bytes32 random_scalar(std::mt19937_64& gen) {
    return curve::scalar::reduce(random32(gen));
}

curve::Affine random_point(std::mt19937_64& gen) {
    curve::Affine p;
    if (!curve::mul_base(p, random_scalar(gen))) std::abort();
    return p;
}

template <class F>
void BM_FieldMul(benchmark::State& state) {
    curve::Fe a = curve::fe::kB, b = curve::fe::kR2;
    for (auto _ : state) {
        a = F::mul(a, b);
        benchmark::DoNotOptimize(a);
    }
}

template <class F>
void BM_FieldSqr(benchmark::State& state) {
    curve::Fe a = curve::fe::kB;
    for (auto _ : state) {
        a = F::sqr(a);
        benchmark::DoNotOptimize(a);
    }
}

template <class F>
void BM_FieldInv(benchmark::State& state) {
    curve::Fe a = curve::fe::kB;
    for (auto _ : state) {
        a = curve::fe::inv<F>(a);
        benchmark::DoNotOptimize(a);
    }
}

template <class F>
void BM_FieldInvVartime(benchmark::State& state) {
    curve::Fe a = curve::fe::kB;
    for (auto _ : state) {
        a = curve::fe::inv_vartime<F>(a);
        benchmark::DoNotOptimize(a);
    }
}

void BM_FieldAdd(benchmark::State& state) {
    curve::Fe a = curve::fe::kB, b = curve::fe::kR2;
    for (auto _ : state) {
        a = curve::fe::add(a, b);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_FieldAdd);

void BM_FieldSub(benchmark::State& state) {
    curve::Fe a = curve::fe::kB, b = curve::fe::kR2;
    for (auto _ : state) {
        a = curve::fe::sub(a, b);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_FieldSub);

BENCHMARK(BM_FieldMul<curve::FieldPortable>)->Name("BM_FieldMul/portable");
BENCHMARK(BM_FieldSqr<curve::FieldPortable>)->Name("BM_FieldSqr/portable");
BENCHMARK(BM_FieldInv<curve::FieldPortable>)->Name("BM_FieldInv/portable");
#if defined(PELMO_SM2_HAVE_ADX)
BENCHMARK(BM_FieldMul<curve::FieldAdx>)->Name("BM_FieldMul/adx");
BENCHMARK(BM_FieldSqr<curve::FieldAdx>)->Name("BM_FieldSqr/adx");
BENCHMARK(BM_FieldInv<curve::FieldAdx>)->Name("BM_FieldInv/adx");
BENCHMARK(BM_FieldInvVartime<curve::FieldAdx>)->Name("BM_FieldInvVartime/adx");
#endif

void BM_ScalarMul(benchmark::State& state) {
    std::mt19937_64 gen(1);
    curve::Bytes32 a = random_scalar(gen);
    const curve::Bytes32 b = random_scalar(gen);
    for (auto _ : state) {
        a = curve::scalar::mul(a, b);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_ScalarMul);

void BM_ScalarInv(benchmark::State& state) {
    std::mt19937_64 gen(2);
    curve::Bytes32 a = random_scalar(gen);
    for (auto _ : state) {
        a = curve::scalar::inv(a);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_ScalarInv);

// Runs a benchmark with the field kernel of its argument: 0 portable, 1 BMI2/ADX.
struct KernelOf {
    explicit KernelOf(benchmark::State& state)
        : name(state.range(0) ? "adx" : "portable"), force("PELMO_SM2_FIELD_KERNEL", name) {
        if (std::string_view(curve::field_kernel_name()) != name)
            state.SkipWithError("this CPU cannot run the kernel");
    }
    const char* name;
    pelmo::test::ScopedKernel force;
};

void BM_MulBase(benchmark::State& state) {
    const KernelOf kernel(state);
    std::mt19937_64 gen(3);
    curve::Bytes32 k = random_scalar(gen);
    curve::Affine out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(curve::mul_base(out, k));
        k[0] ^= out.x[5];
    }
}
BENCHMARK(BM_MulBase)->ArgName("adx")->Arg(1)->Arg(0);

void BM_Mul(benchmark::State& state) {
    const KernelOf kernel(state);
    std::mt19937_64 gen(4);
    const curve::Affine p = random_point(gen);
    curve::Bytes32 k = random_scalar(gen);
    curve::Affine out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(curve::mul(out, k, p));
        k[0] ^= out.x[5];
    }
}
BENCHMARK(BM_Mul)->ArgName("adx")->Arg(1)->Arg(0);

void BM_MulDoubleVartime(benchmark::State& state) {
    const KernelOf kernel(state);
    std::mt19937_64 gen(5);
    const curve::Affine p = random_point(gen);
    curve::Bytes32 s = random_scalar(gen);
    const curve::Bytes32 t = random_scalar(gen);
    curve::Affine out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(curve::mul_double_vartime(out, s, t, p));
        s[0] ^= out.x[5];
    }
}
BENCHMARK(BM_MulDoubleVartime)->ArgName("adx")->Arg(1)->Arg(0);

void BM_IsValidPoint(benchmark::State& state) {
    std::mt19937_64 gen(6);
    const curve::Affine p = random_point(gen);
    for (auto _ : state) benchmark::DoNotOptimize(curve::is_valid_point(p));
}
BENCHMARK(BM_IsValidPoint);

// OpenSSL: the same three multiplications through EC_POINT_mul.
struct OpenSslCurve {
    explicit OpenSslCurve(int nid) : group(EC_GROUP_new_by_curve_name(nid)), ctx(BN_CTX_new()) {
        s = BN_new();
        t = BN_new();
        BN_rand_range(s, EC_GROUP_get0_order(group));
        BN_rand_range(t, EC_GROUP_get0_order(group));
        p = EC_POINT_new(group);
        r = EC_POINT_new(group);
        EC_POINT_mul(group, p, t, nullptr, nullptr, ctx);
    }
    ~OpenSslCurve() {
        EC_POINT_free(p);
        EC_POINT_free(r);
        BN_free(s);
        BN_free(t);
        BN_CTX_free(ctx);
        EC_GROUP_free(group);
    }
    EC_GROUP* group;
    BN_CTX* ctx;
    BIGNUM *s, *t;
    EC_POINT *p, *r;
};

void BM_OpenSSL_MulBase(benchmark::State& state) {
    OpenSslCurve c(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(EC_POINT_mul(c.group, c.r, c.s, nullptr, nullptr, c.ctx));
}
BENCHMARK(BM_OpenSSL_MulBase)->ArgName("nid")->Arg(NID_sm2)->Arg(NID_X9_62_prime256v1);

void BM_OpenSSL_Mul(benchmark::State& state) {
    OpenSslCurve c(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(EC_POINT_mul(c.group, c.r, nullptr, c.p, c.s, c.ctx));
}
BENCHMARK(BM_OpenSSL_Mul)->ArgName("nid")->Arg(NID_sm2)->Arg(NID_X9_62_prime256v1);

void BM_OpenSSL_MulDouble(benchmark::State& state) {
    OpenSslCurve c(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(EC_POINT_mul(c.group, c.r, c.s, c.p, c.t, c.ctx));
}
BENCHMARK(BM_OpenSSL_MulDouble)->ArgName("nid")->Arg(NID_sm2)->Arg(NID_X9_62_prime256v1);

void BM_OpenSSL_ScalarInv(benchmark::State& state) {
    OpenSslCurve c(static_cast<int>(state.range(0)));
    BIGNUM* out = BN_new();
    for (auto _ : state)
        benchmark::DoNotOptimize(BN_mod_inverse(out, c.s, EC_GROUP_get0_order(c.group), c.ctx));
    BN_free(out);
}
BENCHMARK(BM_OpenSSL_ScalarInv)->ArgName("nid")->Arg(NID_sm2)->Arg(NID_X9_62_prime256v1);

}  // namespace

BENCHMARK_MAIN();
