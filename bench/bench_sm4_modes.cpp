// SM4 in CTR, GCM and CCM on 8 KiB beside their peers in one process: OpenSSL's EVP_sm4_ctr,
// OpenSSL's AES-128-GCM (the usual AEAD, hardware AES), Botan's SM4/GCM and SM4/CCM (when Botan
// is found); and GHASH alone under each GHASH kernel, in cycles per byte.
//
// cycles/byte assumes 3.45 GHz.
#include <pelmo/sm4.hpp>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <string>

#if defined(PELMO_BENCH_BOTAN)
#include <botan/aead.h>
#endif

#include "common/cpu.hpp"
#include "sm4/ghash.hpp"
#include "support/kernels.hpp"

namespace {

using pelmo::Bytes;
namespace sm4 = pelmo::sm4;
namespace ds = pelmo::detail::sm4;

constexpr double kHz = 3.45e9;
constexpr std::size_t kSize = 8192;

Bytes random_bytes(std::size_t n) {
    static std::mt19937_64 gen(42);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(gen());
    return b;
}

const Bytes kKey = random_bytes(16), kIv = random_bytes(16), kNonce = random_bytes(12),
            kAad = random_bytes(16), kData = random_bytes(kSize);

void set_rate(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes));
    state.counters["cycles/byte"] = benchmark::Counter(
        static_cast<double>(bytes) / kHz,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void pelmo_ctr(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(sm4::ctr_crypt(kKey, kIv, kData));
    set_rate(state, kSize);
}

void pelmo_gcm_seal(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(sm4::gcm_seal(kKey, kNonce, kData, kAad));
    set_rate(state, kSize);
}

void pelmo_gcm_open(benchmark::State& state) {
    const Bytes sealed = sm4::gcm_seal(kKey, kNonce, kData, kAad);
    for (auto _ : state) benchmark::DoNotOptimize(sm4::gcm_open(kKey, kNonce, sealed, kAad));
    set_rate(state, kSize);
}

void pelmo_ccm_seal(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(sm4::ccm_seal(kKey, kNonce, kData, kAad));
    set_rate(state, kSize);
}

void pelmo_ccm_open(benchmark::State& state) {
    const Bytes sealed = sm4::ccm_seal(kKey, kNonce, kData, kAad);
    for (auto _ : state) benchmark::DoNotOptimize(sm4::ccm_open(kKey, kNonce, sealed, kAad));
    set_rate(state, kSize);
}

// A whole message per iteration, context set up each time as the one-shot calls do.
void openssl_ctr(benchmark::State& state) {
    Bytes out(kSize);
    for (auto _ : state) {
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        int n = 0;
        EVP_EncryptInit_ex(ctx, EVP_sm4_ctr(), nullptr, kKey.data(), kIv.data());
        EVP_EncryptUpdate(ctx, out.data(), &n, kData.data(), static_cast<int>(kSize));
        EVP_CIPHER_CTX_free(ctx);
        benchmark::DoNotOptimize(out.data());
    }
    set_rate(state, kSize);
}

void openssl_aes_gcm(benchmark::State& state, bool seal) {
    Bytes out(kSize), tag(16);
    for (auto _ : state) {
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        int n = 0;
        EVP_CipherInit_ex(ctx, EVP_aes_128_gcm(), nullptr, kKey.data(), kNonce.data(), seal);
        EVP_CipherUpdate(ctx, nullptr, &n, kAad.data(), static_cast<int>(kAad.size()));
        EVP_CipherUpdate(ctx, out.data(), &n, kData.data(), static_cast<int>(kSize));
        if (seal) {
            EVP_CipherFinal_ex(ctx, out.data() + n, &n);
            EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, tag.data());
        } else {
            EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, 16, tag.data());
            benchmark::DoNotOptimize(EVP_CipherFinal_ex(ctx, out.data() + n, &n));
        }
        EVP_CIPHER_CTX_free(ctx);
        benchmark::DoNotOptimize(out.data());
    }
    set_rate(state, kSize);
}

#if defined(PELMO_BENCH_BOTAN)
void botan_aead(benchmark::State& state, const char* algo, bool seal) {
    const auto enc = Botan::AEAD_Mode::create_or_throw(algo, Botan::ENCRYPTION);
    enc->set_key(kKey.data(), kKey.size());
    enc->set_associated_data(kAad.data(), kAad.size());
    enc->start(kNonce.data(), kNonce.size());
    Botan::secure_vector<std::uint8_t> sealed(kData.begin(), kData.end());
    enc->finish(sealed);
    const auto mode =
        Botan::AEAD_Mode::create_or_throw(algo, seal ? Botan::ENCRYPTION : Botan::DECRYPTION);
    for (auto _ : state) {
        mode->set_key(kKey.data(), kKey.size());
        mode->set_associated_data(kAad.data(), kAad.size());
        Botan::secure_vector<std::uint8_t> buf =
            seal ? Botan::secure_vector<std::uint8_t>(kData.begin(), kData.end()) : sealed;
        mode->start(kNonce.data(), kNonce.size());
        mode->finish(buf);
        benchmark::DoNotOptimize(buf.data());
    }
    set_rate(state, kSize);
}
#endif

// GHASH over 8 KiB under one kernel.
void ghash(benchmark::State& state, ds::GhashKernelId id) {
    ds::GhashKey key;
    ds::ghash_init(key, kKey.data());
    const ds::GhashKernel& g = ds::ghash_kernel_of(id);
    ds::GhashElement y{0, 0};
    for (auto _ : state) {
        g.blocks(key, y, kData.data(), kSize / 16);
        benchmark::DoNotOptimize(y);
    }
    set_rate(state, kSize);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("sm4_ctr/pelmo/8192", pelmo_ctr);
    benchmark::RegisterBenchmark("sm4_ctr/openssl/8192", openssl_ctr);
    benchmark::RegisterBenchmark("gcm_seal/pelmo_sm4/8192", pelmo_gcm_seal);
    benchmark::RegisterBenchmark("gcm_seal/openssl_aes128/8192", openssl_aes_gcm, true);
    benchmark::RegisterBenchmark("gcm_open/pelmo_sm4/8192", pelmo_gcm_open);
    benchmark::RegisterBenchmark("gcm_open/openssl_aes128/8192", openssl_aes_gcm, false);
    benchmark::RegisterBenchmark("ccm_seal/pelmo_sm4/8192", pelmo_ccm_seal);
    benchmark::RegisterBenchmark("ccm_open/pelmo_sm4/8192", pelmo_ccm_open);
#if defined(PELMO_BENCH_BOTAN)
    benchmark::RegisterBenchmark("gcm_seal/botan_sm4/8192", botan_aead, "SM4/GCM", true);
    benchmark::RegisterBenchmark("gcm_open/botan_sm4/8192", botan_aead, "SM4/GCM", false);
    benchmark::RegisterBenchmark("ccm_seal/botan_sm4/8192", botan_aead, "SM4/CCM", true);
    benchmark::RegisterBenchmark("ccm_open/botan_sm4/8192", botan_aead, "SM4/CCM", false);
#endif
    for (ds::GhashKernelId id : ds::kAllGhashKernels)
        if (ds::ghash_kernel_by_id(id) != nullptr)
            benchmark::RegisterBenchmark(
                (std::string("ghash/") + ds::ghash_kernel_of(id).name + "/8192").c_str(), ghash,
                id);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
