// HMAC-SM3, PBKDF2-HMAC-SM3 and HKDF-SM3: pelmo beside OpenSSL's HMAC(), EVP_MAC,
// PKCS5_PBKDF2_HMAC and EVP_KDF "HKDF" with SM3 on the same inputs.
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <pelmo/sm3.hpp>

namespace {

const pelmo::Bytes kKey(32, 0x6b);
const pelmo::Bytes kSalt(16, 0x73);
const pelmo::Bytes kPassword(12, 0x70);
constexpr std::uint32_t kIterations = 10000;

const pelmo::Bytes& message() {
    static const pelmo::Bytes data(1 << 16, 0x5a);
    return data;
}

void set_bytes(benchmark::State& state, std::size_t n) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

// One call per message, key setup included, as a caller with a new key pays.
void BM_pelmo_hmac_sm3(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const pelmo::ByteView msg(message().data(), n);
    for (auto _ : state) benchmark::DoNotOptimize(pelmo::sm3::hmac_sm3(kKey, msg));
    set_bytes(state, n);
}

// The key's states computed once; each message starts from a copy of them.
void BM_pelmo_hmac_sm3_same_key(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const pelmo::ByteView msg(message().data(), n);
    const pelmo::sm3::HmacSM3 keyed(kKey);
    for (auto _ : state) {
        pelmo::sm3::HmacSM3 mac = keyed;
        mac.update(msg);
        benchmark::DoNotOptimize(mac.digest());
    }
    set_bytes(state, n);
}

// HMAC(): the digest fetched, a context made, keyed and freed on every call.
void BM_openssl_hmac_sm3(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    unsigned char out[32];
    unsigned len = 0;
    for (auto _ : state) {
        HMAC(EVP_sm3(), kKey.data(), static_cast<int>(kKey.size()), message().data(), n, out, &len);
        benchmark::DoNotOptimize(out);
    }
    set_bytes(state, n);
}

// EVP_MAC keyed once; each message re-initialises the context with the same key.
void BM_openssl_hmac_sm3_same_key(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
    char digest[] = "SM3";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    EVP_MAC_init(ctx, kKey.data(), kKey.size(), params);
    unsigned char out[32];
    std::size_t len = 0;
    for (auto _ : state) {
        EVP_MAC_init(ctx, nullptr, 0, nullptr);
        EVP_MAC_update(ctx, message().data(), n);
        EVP_MAC_final(ctx, out, &len, sizeof out);
        benchmark::DoNotOptimize(out);
    }
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
    set_bytes(state, n);
}

void BM_pelmo_pbkdf2_sm3(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(pelmo::sm3::pbkdf2_sm3(kPassword, kSalt, kIterations, 32));
}

void BM_openssl_pbkdf2_sm3(benchmark::State& state) {
    unsigned char out[32];
    for (auto _ : state) {
        PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(kPassword.data()),
                          static_cast<int>(kPassword.size()), kSalt.data(),
                          static_cast<int>(kSalt.size()), static_cast<int>(kIterations), EVP_sm3(),
                          sizeof out, out);
        benchmark::DoNotOptimize(out);
    }
}

void BM_pelmo_hkdf_sm3(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(pelmo::sm3::hkdf_sm3(kKey, kSalt, kSalt, n));
    set_bytes(state, n);
}

void BM_openssl_hkdf_sm3(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    char digest[] = "SM3";
    auto* key = const_cast<std::uint8_t*>(kKey.data());
    auto* salt = const_cast<std::uint8_t*>(kSalt.data());
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, key, kKey.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, salt, kSalt.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, salt, kSalt.size()),
        OSSL_PARAM_construct_end()};
    pelmo::Bytes out(n);
    for (auto _ : state) {
        EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
        EVP_KDF_derive(ctx, out.data(), n, params);
        EVP_KDF_CTX_free(ctx);
        benchmark::DoNotOptimize(out.data());
    }
    EVP_KDF_free(kdf);
    set_bytes(state, n);
}

BENCHMARK(BM_pelmo_hmac_sm3)->Arg(64)->Arg(8192);
BENCHMARK(BM_openssl_hmac_sm3)->Arg(64)->Arg(8192);
BENCHMARK(BM_pelmo_hmac_sm3_same_key)->Arg(64)->Arg(8192);
BENCHMARK(BM_openssl_hmac_sm3_same_key)->Arg(64)->Arg(8192);
BENCHMARK(BM_pelmo_pbkdf2_sm3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_openssl_pbkdf2_sm3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_pelmo_hkdf_sm3)->Arg(32)->Arg(255 * 32);
BENCHMARK(BM_openssl_hkdf_sm3)->Arg(32)->Arg(255 * 32);

}  // namespace

BENCHMARK_MAIN();
