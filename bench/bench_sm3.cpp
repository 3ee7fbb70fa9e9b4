// SM3 throughput: pelmo's sm3_hash and incremental hasher (per kernel) beside
// OpenSSL's EVP SM3 on the same buffers.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <pelmo/sm3.hpp>

#include "common/cpu.hpp"
#include "sm3/compress.hpp"

namespace {

const pelmo::Bytes& buffer(std::size_t n) {
    static pelmo::Bytes data(1 << 20, 0x5a);
    (void)n;
    return data;
}

void set_rate(benchmark::State& state, std::size_t n) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
    state.counters["cpb@3.45GHz"] =
        benchmark::Counter(static_cast<double>(state.iterations() * n) / 3.45e9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_pelmo_sm3_hash(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const pelmo::ByteView msg(buffer(n).data(), n);
    for (auto _ : state) benchmark::DoNotOptimize(pelmo::sm3::sm3_hash(msg));
    set_rate(state, n);
}

void BM_pelmo_sm3_incremental(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const pelmo::ByteView msg(buffer(n).data(), n);
    for (auto _ : state) {
        pelmo::sm3::SM3 h;
        h.update(msg);
        benchmark::DoNotOptimize(h.digest());
    }
    set_rate(state, n);
}

void BM_pelmo_sm3_portable_kernel(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    pelmo::detail::set_cpu_feature_mask(0);
    const pelmo::ByteView msg(buffer(n).data(), n);
    for (auto _ : state) benchmark::DoNotOptimize(pelmo::sm3::SM3::hash(msg));
    pelmo::detail::set_cpu_feature_mask(~0u);
    set_rate(state, n);
}

// One kernel on whole blocks, without the public layer: how the kernels compare.
void BM_pelmo_sm3_kernel(benchmark::State& state, pelmo::detail::sm3::Kernel k) {
    const auto fn = pelmo::detail::sm3::kernel_by_name(k);
    if (fn == nullptr) {
        state.SkipWithError("this CPU cannot run the kernel");
        return;
    }
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    std::uint32_t st[8] = {};
    for (auto _ : state) {
        fn(st, buffer(n).data(), n / 64);
        benchmark::DoNotOptimize(st);
    }
    set_rate(state, n);
}

void BM_openssl_sm3(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const pelmo::Bytes& msg = buffer(n);
    unsigned char out[32];
    unsigned len = 0;
    const EVP_MD* md = EVP_sm3();
    for (auto _ : state) {
        EVP_Digest(msg.data(), n, out, &len, md, nullptr);
        benchmark::DoNotOptimize(out);
    }
    set_rate(state, n);
}

#define PELMO_SIZES ->Arg(64)->Arg(1024)->Arg(8192)->Arg(1 << 20)
BENCHMARK(BM_pelmo_sm3_hash) PELMO_SIZES;
BENCHMARK(BM_pelmo_sm3_incremental) PELMO_SIZES;
BENCHMARK(BM_pelmo_sm3_portable_kernel) PELMO_SIZES;
BENCHMARK_CAPTURE(BM_pelmo_sm3_kernel, portable, pelmo::detail::sm3::Kernel::portable) PELMO_SIZES;
#if defined(__x86_64__)
BENCHMARK_CAPTURE(BM_pelmo_sm3_kernel, bmi2, pelmo::detail::sm3::Kernel::bmi2) PELMO_SIZES;
BENCHMARK_CAPTURE(BM_pelmo_sm3_kernel, avx2, pelmo::detail::sm3::Kernel::avx2) PELMO_SIZES;
BENCHMARK_CAPTURE(BM_pelmo_sm3_kernel, avx512, pelmo::detail::sm3::Kernel::avx512) PELMO_SIZES;
#endif
BENCHMARK(BM_openssl_sm3) PELMO_SIZES;

}  // namespace

BENCHMARK_MAIN();
