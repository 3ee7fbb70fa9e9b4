// SM4: ECB encryption, CBC encryption and CBC decryption of 8 KiB and 1 MiB with each
// kernel, beside OpenSSL's EVP SM4 on the same buffers; SM4Manager on a 100-byte text.
//
// cycles/byte assumes 3.45 GHz.
#include <pelmo/crypt_managers.hpp>
#include <pelmo/sm4.hpp>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <random>
#include <string>

#include "common/cpu.hpp"
#include "sm4/kernels/kernel.hpp"
#include "support/kernels.hpp"

namespace {

using pelmo::Bytes;
namespace sm4 = pelmo::sm4;
namespace ksm4 = pelmo::detail::sm4;

constexpr double kHz = 3.45e9;

enum class Op { ecb_encrypt, cbc_encrypt, cbc_decrypt };

const char* op_name(Op op) {
    switch (op) {
        case Op::ecb_encrypt:
            return "ecb_encrypt";
        case Op::cbc_encrypt:
            return "cbc_encrypt";
        case Op::cbc_decrypt:
            return "cbc_decrypt";
    }
    return "?";
}

Bytes random_bytes(std::size_t n) {
    static std::mt19937_64 gen(42);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(gen());
    return b;
}

void set_rate(benchmark::State& state, std::size_t bytes) {
    const auto total =
        static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes);
    state.SetBytesProcessed(total);
    state.counters["cycles/byte"] = benchmark::Counter(
        static_cast<double>(bytes) / kHz,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// pelmo through the public interface (no padding, so exactly n bytes are processed).
void bench_pelmo(benchmark::State& state, ksm4::KernelId id, Op op, std::size_t n) {
    pelmo::detail::set_cpu_feature_mask(id == ksm4::KernelId::portable ? 0u : ~0u);
    const pelmo::test::ScopedKernel force("PELMO_SM4_KERNEL", ksm4::kernel_of(id).name);
    const Bytes key = random_bytes(16), iv = random_bytes(16), data = random_bytes(n);
    sm4::CryptSM4 c(sm4::SM4_ENCRYPT, sm4::NoPadding);
    c.set_key(key, op == Op::cbc_decrypt ? sm4::SM4_DECRYPT : sm4::SM4_ENCRYPT);
    for (auto _ : state) {
        Bytes out = op == Op::ecb_encrypt ? c.crypt_ecb(data) : c.crypt_cbc(iv, data);
        benchmark::DoNotOptimize(out.data());
    }
    set_rate(state, n);
    pelmo::detail::set_cpu_feature_mask(~0u);
}

// The kernel alone, into a preallocated buffer (what an in-place caller would see).
void bench_kernel(benchmark::State& state, ksm4::KernelId id, Op op, std::size_t n) {
    const ksm4::Kernel* k = ksm4::kernel_by_id(id);
    const Bytes key = random_bytes(16), data = random_bytes(n);
    Bytes out(n), iv = random_bytes(16);
    std::uint32_t rk[32];
    k->expand_key(key.data(), rk);
    for (auto _ : state) {
        switch (op) {
            case Op::ecb_encrypt:
                k->ecb(rk, data.data(), out.data(), n / 16);
                break;
            case Op::cbc_encrypt:
                k->cbc_encrypt(rk, iv.data(), data.data(), out.data(), n / 16);
                break;
            case Op::cbc_decrypt:
                k->cbc_decrypt(rk, iv.data(), data.data(), out.data(), n / 16);
                break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    set_rate(state, n);
}

void bench_openssl(benchmark::State& state, Op op, std::size_t n) {
    const Bytes key = random_bytes(16), iv = random_bytes(16), data = random_bytes(n);
    Bytes out(n + 16);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const EVP_CIPHER* cipher = op == Op::ecb_encrypt ? EVP_sm4_ecb() : EVP_sm4_cbc();
    const int enc = op == Op::cbc_decrypt ? 0 : 1;
    if (EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv.data(), enc) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx, 0) != 1)
        std::abort();
    for (auto _ : state) {
        int len = 0;
        // Restart the chain from the IV, as every pelmo call does.
        EVP_CipherInit_ex(ctx, nullptr, nullptr, nullptr, iv.data(), enc);
        EVP_CipherUpdate(ctx, out.data(), &len, data.data(), static_cast<int>(n));
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    set_rate(state, n);
}

void bench_manager(benchmark::State& state) {
    pelmo::crypt_managers::SM4Manager m;
    const std::string text(100, 'p');
    for (auto _ : state) {
        std::string back = m.decrypt(m.encrypt(text));
        benchmark::DoNotOptimize(back.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

}  // namespace

int main(int argc, char** argv) {
    for (std::size_t n : {std::size_t{8192}, std::size_t{1} << 20}) {
        for (Op op : {Op::ecb_encrypt, Op::cbc_encrypt, Op::cbc_decrypt}) {
            const std::string suffix = std::string(op_name(op)) + "/" + std::to_string(n);
            benchmark::RegisterBenchmark(("openssl/" + suffix).c_str(), bench_openssl, op, n);
            for (ksm4::KernelId id : ksm4::kAllKernels) {
                if (ksm4::kernel_by_id(id) == nullptr) continue;
                benchmark::RegisterBenchmark(
                    ("pelmo/" + std::string(ksm4::kernel_of(id).name) + "/" + suffix).c_str(),
                    bench_pelmo, id, op, n);
                benchmark::RegisterBenchmark(
                    ("kernel/" + std::string(ksm4::kernel_of(id).name) + "/" + suffix).c_str(),
                    bench_kernel, id, op, n);
            }
        }
    }
    benchmark::RegisterBenchmark("SM4Manager/encrypt+decrypt/100", bench_manager);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
