// SM2 beside OpenSSL 3.0: key generation, signing and verification of a 32-byte
// value, scalar multiplication of a random point, encryption and decryption of 32 bytes
// and 1 KiB, SM2-with-SM3 signatures (identity digest included), public-key recovery
// and one side of a key exchange; OpenSSL's ECDSA and ECDH on P-256 (hand-written
// assembly) as the reference for a curve of this size.
#include <pelmo/crypt_managers.hpp>
#include <pelmo/func.hpp>
#include <pelmo/sm2.hpp>

#include <benchmark/benchmark.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <optional>
#include <stdexcept>
#include <vector>

#include "common/hex.hpp"
#include "sm2/fast.hpp"

namespace {

using pelmo::crypt_managers::SM2Manager;
using pelmo::sm2::CryptSM2;

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(what);
}

std::vector<std::uint8_t> random32() {
    return pelmo::detail::from_hex(pelmo::func::random_hex(64));
}

// pelmo

void BM_pelmo_keygen(benchmark::State& state) {
    for (auto _ : state) {
        SM2Manager m;
        benchmark::DoNotOptimize(m.get_public_key());
    }
}
BENCHMARK(BM_pelmo_keygen);

struct PelmoKeys {
    PelmoKeys() {
        SM2Manager m;
        pub = m.get_public_key();
        priv = m.get_private_key();
    }
    std::string priv, pub;
};
const PelmoKeys& pelmo_keys() {
    static const PelmoKeys k;
    return k;
}

void BM_pelmo_sign(benchmark::State& state) {
    const CryptSM2 e(pelmo_keys().priv, pelmo_keys().pub);
    const auto digest = random32();
    for (auto _ : state) {
        // A fresh nonce per signature, as OpenSSL draws its own.
        benchmark::DoNotOptimize(e.sign(digest, pelmo::func::random_hex(64)));
    }
}
BENCHMARK(BM_pelmo_sign);

void BM_pelmo_verify(benchmark::State& state) {
    const CryptSM2 e(pelmo_keys().priv, pelmo_keys().pub);
    const auto digest = random32();
    const std::string sig = *e.sign(digest, pelmo::func::random_hex(64));
    for (auto _ : state) benchmark::DoNotOptimize(e.verify(sig, digest));
    check(e.verify(sig, digest), "pelmo verify");
}
BENCHMARK(BM_pelmo_verify);

void BM_pelmo_kg_random_point(benchmark::State& state) {
    const CryptSM2 e(std::nullopt, std::nullopt);
    const std::string P = *e._kg(pelmo::detail::parse_hex_int(pelmo::func::random_hex(64)),
                                 pelmo::sm2::default_ecc_table.at("g"));
    const pelmo::BigInt k = pelmo::detail::parse_hex_int(pelmo::func::random_hex(64));
    for (auto _ : state) benchmark::DoNotOptimize(e._kg(k, P));
}
BENCHMARK(BM_pelmo_kg_random_point);

void BM_pelmo_kg_generic_path(benchmark::State& state) {
    // The same multiplication through the GMP path (a table other than the recommended).
    pelmo::sm2::EccTable t = pelmo::sm2::default_ecc_table;
    // Not the recommended table (the double-and-add never reads b).
    t.insert_or_assign("b", std::string(1, '1'));
    const CryptSM2 e(std::nullopt, std::nullopt, t);
    const pelmo::BigInt k = pelmo::detail::parse_hex_int(pelmo::func::random_hex(64));
    for (auto _ : state) benchmark::DoNotOptimize(e._kg(k, t["g"]));
}
BENCHMARK(BM_pelmo_kg_generic_path);

void BM_pelmo_hex_point_parse_and_format(benchmark::State& state) {
    const std::string P = pelmo_keys().pub;
    for (auto _ : state) {
        const auto A = pelmo::detail::sm2::fast::parse_point(P);
        benchmark::DoNotOptimize(pelmo::detail::sm2::fast::format_point(*A));
    }
}
BENCHMARK(BM_pelmo_hex_point_parse_and_format);

void BM_pelmo_hex_scalar_parse(benchmark::State& state) {
    const std::string d = pelmo_keys().priv;
    pelmo::detail::sm2::curve::Bytes32 out;
    for (auto _ : state) {
        pelmo::detail::sm2::fast::parse_scalar(d, out, "k");
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_pelmo_hex_scalar_parse);

void BM_pelmo_encrypt(benchmark::State& state) {
    const CryptSM2 e(std::nullopt, pelmo_keys().pub);
    const auto data = pelmo::detail::from_hex(pelmo::func::random_hex(2 * state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(e.encrypt(data));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_pelmo_encrypt)->Arg(32)->Arg(1024);

void BM_pelmo_decrypt(benchmark::State& state) {
    const CryptSM2 e(pelmo_keys().priv, pelmo_keys().pub);
    const auto data = pelmo::detail::from_hex(pelmo::func::random_hex(2 * state.range(0)));
    const auto c = *e.encrypt(data);
    for (auto _ : state) benchmark::DoNotOptimize(e.decrypt(c));
    check(e.decrypt(c) == data, "pelmo decrypt");
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_pelmo_decrypt)->Arg(32)->Arg(1024);

void BM_pelmo_sign_with_sm3(benchmark::State& state) {
    const CryptSM2 e(pelmo_keys().priv, pelmo_keys().pub);
    const auto msg = random32();
    for (auto _ : state) benchmark::DoNotOptimize(e.sign_with_sm3(msg));
}
BENCHMARK(BM_pelmo_sign_with_sm3);

void BM_pelmo_verify_with_sm3(benchmark::State& state) {
    const CryptSM2 e(pelmo_keys().priv, pelmo_keys().pub);
    const auto msg = random32();
    const std::string sig = *e.sign_with_sm3(msg);
    for (auto _ : state) benchmark::DoNotOptimize(e.verify_with_sm3(sig, msg));
    check(e.verify_with_sm3(sig, msg), "pelmo verify_with_sm3");
}
BENCHMARK(BM_pelmo_verify_with_sm3);

void BM_pelmo_sm3_z(benchmark::State& state) {
    const CryptSM2 e(std::nullopt, pelmo_keys().pub);
    const auto msg = random32();
    for (auto _ : state) benchmark::DoNotOptimize(e._sm3_z(msg));
}
BENCHMARK(BM_pelmo_sm3_z);

// Both candidates (v absent), or the one that the recovery byte names.
void BM_pelmo_recover_public_keys(benchmark::State& state) {
    const CryptSM2 e(pelmo_keys().priv, pelmo_keys().pub);
    const auto digest = random32();
    const std::string sig = *e.sign(digest, pelmo::func::random_hex(64));
    const std::optional<int> v =
        state.range(0) == 0 ? std::nullopt : std::optional<int>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(e.recover_public_keys(sig, digest, v));
    check(state.range(0) != 0 || e.recover_public_keys(sig, digest).contains(pelmo_keys().pub),
          "pelmo recover_public_keys");
}
BENCHMARK(BM_pelmo_recover_public_keys)->Arg(0)->Arg(27);

// One side of a key exchange with static keys set up once, as a server holds them: a
// fresh ephemeral point, then K (16 bytes) and the confirmations from the peer's
// ephemeral point, and the check of the peer's confirmation.
void BM_pelmo_key_exchange_side(benchmark::State& state) {
    SM2Manager peer_keys;
    const std::string peer_pub = peer_keys.get_public_key();
    const std::string_view id_text = "1234567812345678";
    const pelmo::ByteView id(reinterpret_cast<const std::uint8_t*>(id_text.data()), id_text.size());
    pelmo::sm2::SM2KeyExchange me(pelmo_keys().priv, pelmo_keys().pub, id, peer_pub, id, true);
    pelmo::sm2::SM2KeyExchange peer(peer_keys.get_private_key(), peer_pub, id, pelmo_keys().pub, id,
                                    false);
    const std::string R_peer = peer.ephemeral();
    for (auto _ : state) {
        const std::string R = me.ephemeral();
        const auto result = me.compute(R_peer, 16);
        benchmark::DoNotOptimize(R.data());
        check(result.has_value(), "pelmo key exchange");
        benchmark::DoNotOptimize(pelmo::sm2::SM2KeyExchange::confirm(*result, result->expected));
    }
    const std::string R_me = me.ephemeral();
    const auto mine = me.compute(R_peer, 16);
    const auto theirs = peer.compute(R_me, 16);
    check(mine && theirs && mine->key == theirs->key, "pelmo key exchange agreement");
}
BENCHMARK(BM_pelmo_key_exchange_side);

// OpenSSL

struct OsslKey {
    explicit OsslKey(const char* name, int curve_nid = 0) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, name, nullptr);
        check(EVP_PKEY_keygen_init(ctx) == 1, "keygen_init");
        if (curve_nid != 0)
            check(EVP_PKEY_CTX_set_ec_paramgen_curve_nid(ctx, curve_nid) == 1, "nid");
        check(EVP_PKEY_generate(ctx, &key) == 1, "keygen");
        EVP_PKEY_CTX_free(ctx);
    }
    ~OsslKey() { EVP_PKEY_free(key); }
    EVP_PKEY* key = nullptr;
};

void BM_openssl_sm2_keygen(benchmark::State& state) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    check(EVP_PKEY_keygen_init(ctx) == 1, "keygen_init");
    for (auto _ : state) {
        EVP_PKEY* key = nullptr;
        check(EVP_PKEY_generate(ctx, &key) == 1, "keygen");
        EVP_PKEY_free(key);
    }
    EVP_PKEY_CTX_free(ctx);
}
BENCHMARK(BM_openssl_sm2_keygen);

void sign_loop(benchmark::State& state, EVP_PKEY* key) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    check(EVP_PKEY_sign_init(ctx) == 1, "sign_init");
    const auto digest = random32();
    std::uint8_t sig[80];
    for (auto _ : state) {
        std::size_t len = sizeof sig;
        check(EVP_PKEY_sign(ctx, sig, &len, digest.data(), digest.size()) == 1, "sign");
        benchmark::DoNotOptimize(sig);
    }
    EVP_PKEY_CTX_free(ctx);
}

void verify_loop(benchmark::State& state, EVP_PKEY* key) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    check(EVP_PKEY_sign_init(ctx) == 1, "sign_init");
    const auto digest = random32();
    std::uint8_t sig[80];
    std::size_t len = sizeof sig;
    check(EVP_PKEY_sign(ctx, sig, &len, digest.data(), digest.size()) == 1, "sign");
    check(EVP_PKEY_verify_init(ctx) == 1, "verify_init");
    for (auto _ : state)
        check(EVP_PKEY_verify(ctx, sig, len, digest.data(), digest.size()) == 1, "verify");
    EVP_PKEY_CTX_free(ctx);
}

void BM_openssl_sm2_sign(benchmark::State& state) {
    static const OsslKey k("SM2");
    sign_loop(state, k.key);
}
BENCHMARK(BM_openssl_sm2_sign);

void BM_openssl_sm2_verify(benchmark::State& state) {
    static const OsslKey k("SM2");
    verify_loop(state, k.key);
}
BENCHMARK(BM_openssl_sm2_verify);

void BM_openssl_sm2_encrypt(benchmark::State& state) {
    static const OsslKey k("SM2");
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, k.key, nullptr);
    check(EVP_PKEY_encrypt_init(ctx) == 1, "encrypt_init");
    const auto data = pelmo::detail::from_hex(pelmo::func::random_hex(2 * state.range(0)));
    std::vector<std::uint8_t> out(data.size() + 200);
    for (auto _ : state) {
        std::size_t len = out.size();
        check(EVP_PKEY_encrypt(ctx, out.data(), &len, data.data(), data.size()) == 1, "encrypt");
        benchmark::DoNotOptimize(out.data());
    }
    EVP_PKEY_CTX_free(ctx);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_openssl_sm2_encrypt)->Arg(32)->Arg(1024);

void BM_openssl_sm2_decrypt(benchmark::State& state) {
    static const OsslKey k("SM2");
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, k.key, nullptr);
    check(EVP_PKEY_encrypt_init(ctx) == 1, "encrypt_init");
    const auto data = pelmo::detail::from_hex(pelmo::func::random_hex(2 * state.range(0)));
    std::vector<std::uint8_t> c(data.size() + 200), out(data.size() + 200);
    std::size_t clen = c.size();
    check(EVP_PKEY_encrypt(ctx, c.data(), &clen, data.data(), data.size()) == 1, "encrypt");
    check(EVP_PKEY_decrypt_init(ctx) == 1, "decrypt_init");
    for (auto _ : state) {
        std::size_t len = out.size();
        check(EVP_PKEY_decrypt(ctx, out.data(), &len, c.data(), clen) == 1, "decrypt");
        benchmark::DoNotOptimize(out.data());
    }
    EVP_PKEY_CTX_free(ctx);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_openssl_sm2_decrypt)->Arg(32)->Arg(1024);

// SM2-with-SM3 as an application does it: a fresh context with the identity set.
constexpr char kIdentity[] = "1234567812345678";

EVP_MD_CTX* sm3_context(EVP_PKEY* key, bool for_signing) {
    EVP_MD_CTX* mctx = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    check(EVP_PKEY_CTX_set1_id(pctx, kIdentity, sizeof kIdentity - 1) == 1, "set1_id");
    EVP_MD_CTX_set_pkey_ctx(mctx, pctx);
    const int ok = for_signing ? EVP_DigestSignInit(mctx, nullptr, EVP_sm3(), nullptr, key)
                               : EVP_DigestVerifyInit(mctx, nullptr, EVP_sm3(), nullptr, key);
    check(ok == 1, "DigestInit");
    return mctx;
}

void free_sm3_context(EVP_MD_CTX* mctx) {
    EVP_PKEY_CTX* pctx = EVP_MD_CTX_get_pkey_ctx(mctx);
    EVP_MD_CTX_free(mctx);
    EVP_PKEY_CTX_free(pctx);
}

void BM_openssl_sm2_sign_with_sm3(benchmark::State& state) {
    static const OsslKey k("SM2");
    const auto msg = random32();
    std::uint8_t sig[80];
    for (auto _ : state) {
        EVP_MD_CTX* mctx = sm3_context(k.key, true);
        std::size_t len = sizeof sig;
        check(EVP_DigestSign(mctx, sig, &len, msg.data(), msg.size()) == 1, "DigestSign");
        free_sm3_context(mctx);
        benchmark::DoNotOptimize(sig);
    }
}
BENCHMARK(BM_openssl_sm2_sign_with_sm3);

void BM_openssl_sm2_verify_with_sm3(benchmark::State& state) {
    static const OsslKey k("SM2");
    const auto msg = random32();
    std::uint8_t sig[80];
    std::size_t len = sizeof sig;
    EVP_MD_CTX* signer = sm3_context(k.key, true);
    check(EVP_DigestSign(signer, sig, &len, msg.data(), msg.size()) == 1, "DigestSign");
    free_sm3_context(signer);
    for (auto _ : state) {
        EVP_MD_CTX* mctx = sm3_context(k.key, false);
        check(EVP_DigestVerify(mctx, sig, len, msg.data(), msg.size()) == 1, "DigestVerify");
        free_sm3_context(mctx);
    }
}
BENCHMARK(BM_openssl_sm2_verify_with_sm3);

void BM_openssl_sm2_ec_point_mul(benchmark::State& state) {
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
    BN_CTX* bn = BN_CTX_new();
    BIGNUM* k = BN_new();
    BIGNUM* k2 = BN_new();
    check(BN_rand_range(k, EC_GROUP_get0_order(group)) == 1, "rand");
    check(BN_rand_range(k2, EC_GROUP_get0_order(group)) == 1, "rand");
    EC_POINT* P = EC_POINT_new(group);
    EC_POINT* R = EC_POINT_new(group);
    check(EC_POINT_mul(group, P, k2, nullptr, nullptr, bn) == 1, "base mul");
    for (auto _ : state) {
        check(EC_POINT_mul(group, R, nullptr, P, k, bn) == 1, "mul");
        // Affine coordinates, as _kg returns.
        check(EC_POINT_get_affine_coordinates(group, R, k2, k2, bn) == 1, "affine");
    }
    EC_POINT_free(R);
    EC_POINT_free(P);
    BN_free(k2);
    BN_free(k);
    BN_CTX_free(bn);
    EC_GROUP_free(group);
}
BENCHMARK(BM_openssl_sm2_ec_point_mul);

void BM_openssl_p256_ecdsa_sign(benchmark::State& state) {
    static const OsslKey k("EC", NID_X9_62_prime256v1);
    sign_loop(state, k.key);
}
BENCHMARK(BM_openssl_p256_ecdsa_sign);

void BM_openssl_p256_ecdsa_verify(benchmark::State& state) {
    static const OsslKey k("EC", NID_X9_62_prime256v1);
    verify_loop(state, k.key);
}
BENCHMARK(BM_openssl_p256_ecdsa_verify);

// One side of an ephemeral ECDH on P-256, the counterpart of a key-exchange side: a
// fresh key pair, then the shared secret with the peer's public key.
void BM_openssl_p256_ecdh_keygen_and_derive(benchmark::State& state) {
    static const OsslKey peer("EC", NID_X9_62_prime256v1);
    EVP_PKEY_CTX* gen = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    check(EVP_PKEY_keygen_init(gen) == 1, "keygen_init");
    check(EVP_PKEY_CTX_set_ec_paramgen_curve_nid(gen, NID_X9_62_prime256v1) == 1, "nid");
    std::uint8_t secret[32];
    for (auto _ : state) {
        EVP_PKEY* key = nullptr;
        check(EVP_PKEY_generate(gen, &key) == 1, "keygen");
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
        check(EVP_PKEY_derive_init(ctx) == 1, "derive_init");
        check(EVP_PKEY_derive_set_peer(ctx, peer.key) == 1, "set_peer");
        std::size_t len = sizeof secret;
        check(EVP_PKEY_derive(ctx, secret, &len) == 1, "derive");
        benchmark::DoNotOptimize(secret);
        EVP_PKEY_CTX_free(ctx);
        EVP_PKEY_free(key);
    }
    EVP_PKEY_CTX_free(gen);
}
BENCHMARK(BM_openssl_p256_ecdh_keygen_and_derive);

}  // namespace

BENCHMARK_MAIN();
