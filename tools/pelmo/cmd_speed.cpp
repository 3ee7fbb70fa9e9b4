// pelmo speed: a quick single-core measurement of every algorithm, as a table.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include <pelmo/crypt_managers.hpp>
#include <pelmo/sm2.hpp>
#include <pelmo/sm3.hpp>
#include <pelmo/sm4.hpp>

#include "commands.hpp"
#include "common/dispatch.hpp"
#include "sm2/curve/mult.hpp"
#include "sm3/compress.hpp"
#include "sm4/ghash.hpp"
#include "sm4/kernels/kernel.hpp"

namespace pelmo::cli {

namespace {

// Calls fn repeatedly for about `seconds`; returns calls per second.
double rate(const std::function<void()>& fn, double seconds) {
    using clock = std::chrono::steady_clock;
    fn();  // warm up
    std::uint64_t calls = 0;
    const auto start = clock::now();
    double elapsed = 0;
    for (std::uint64_t batch = 1; elapsed < seconds; batch *= 2) {
        for (std::uint64_t i = 0; i < batch; ++i) fn();
        calls += batch;
        elapsed = std::chrono::duration<double>(clock::now() - start).count();
    }
    return static_cast<double>(calls) / elapsed;
}

// The kernel each algorithm runs; "(forced)" when an environment variable chose it.
std::string kernel(const char* name, const char* env_var) {
    const char* wanted = detail::requested_kernel(env_var);
    return wanted != nullptr && std::string(wanted) == name ? std::string(name) + " (forced)"
                                                            : std::string(name);
}

void row(const std::string& name, double value, const char* unit, const std::string& kernel) {
    std::printf("%-34s %12.1f %-6s %s\n", name.c_str(), value, unit, kernel.c_str());
}

// One side of an SM2 key exchange: a fresh ephemeral point, then K and the
// confirmations from the peer's ephemeral point.
void key_exchange_row(crypt_managers::SM2Manager& me, double seconds, const std::string& kernel) {
    crypt_managers::SM2Manager peer_keys;
    const std::string_view id_text = "1234567812345678";
    const ByteView id(reinterpret_cast<const std::uint8_t*>(id_text.data()), id_text.size());
    sm2::SM2KeyExchange side(me.get_private_key(), me.get_public_key(), id,
                             peer_keys.get_public_key(), id, true);
    sm2::SM2KeyExchange peer(peer_keys.get_private_key(), peer_keys.get_public_key(), id,
                             me.get_public_key(), id, false);
    const std::string R_peer = peer.ephemeral();
    row("sm2 key exchange, one side",
        rate(
            [&] {
                (void)side.ephemeral();
                (void)side.compute(R_peer, 16);
            },
            seconds),
        "ops/s", kernel);
}

int run_speed(double seconds) {
    std::printf("%-34s %12s %-6s %s\n", "operation", "rate", "", "kernel");
    // Ask after a first use: the choice is made (by timing) at first use.
    (void)sm3::sm3_hash({});
    const std::string sm3_kernel = kernel(detail::sm3::active_kernel_name(), "PELMO_SM3_KERNEL");
    const std::string sm4_kernel = kernel(detail::sm4::active_kernel().name, "PELMO_SM4_KERNEL");
    const std::string sm2_kernel =
        kernel(detail::sm2::curve::field_kernel_name(), "PELMO_SM2_FIELD_KERNEL");
    const Bytes block(8192, 0x5a);
    row("sm3 hash, 8 KiB", rate([&] { (void)sm3::SM3::hash(block); }, seconds) * 8192 / 1e6, "MB/s",
        sm3_kernel);

    const Bytes key(16, 7), iv(16, 9);
    sm4::CryptSM4 enc(sm4::SM4_ENCRYPT, sm4::NoPadding), dec(sm4::SM4_DECRYPT, sm4::NoPadding);
    enc.set_key(key, sm4::SM4_ENCRYPT);
    dec.set_key(key, sm4::SM4_DECRYPT);
    row("sm4-ecb encrypt, 8 KiB", rate([&] { (void)enc.crypt_ecb(block); }, seconds) * 8192 / 1e6,
        "MB/s", sm4_kernel);
    row("sm4-cbc encrypt, 8 KiB",
        rate([&] { (void)enc.crypt_cbc(iv, block); }, seconds) * 8192 / 1e6, "MB/s", sm4_kernel);
    row("sm4-cbc decrypt, 8 KiB",
        rate([&] { (void)dec.crypt_cbc(iv, block); }, seconds) * 8192 / 1e6, "MB/s", sm4_kernel);
    const auto mbs = [&](const std::function<void()>& fn) {
        return rate(fn, seconds) * 8192 / 1e6;
    };
    row("sm4-ctr, 8 KiB", mbs([&] { (void)sm4::ctr_crypt(key, iv, block); }), "MB/s", sm4_kernel);
    row("sm4-cfb encrypt, 8 KiB", mbs([&] { (void)sm4::cfb_encrypt(key, iv, block); }), "MB/s",
        sm4_kernel);
    row("sm4-cfb decrypt, 8 KiB", mbs([&] { (void)sm4::cfb_decrypt(key, iv, block); }), "MB/s",
        sm4_kernel);
    row("sm4-ofb, 8 KiB", mbs([&] { (void)sm4::ofb_crypt(key, iv, block); }), "MB/s", sm4_kernel);
    const Bytes nonce(12, 3), aad(16, 4);
    (void)sm4::gcm_seal(key, nonce, {});
    const std::string gcm_kernel =
        sm4_kernel + "+" + kernel(detail::sm4::active_ghash().name, "PELMO_GHASH_KERNEL");
    const Bytes gcm_sealed = sm4::gcm_seal(key, nonce, block, aad);
    row("sm4-gcm seal, 8 KiB", mbs([&] { (void)sm4::gcm_seal(key, nonce, block, aad); }), "MB/s",
        gcm_kernel);
    row("sm4-gcm open, 8 KiB", mbs([&] { (void)sm4::gcm_open(key, nonce, gcm_sealed, aad); }),
        "MB/s", gcm_kernel);
    const Bytes ccm_sealed = sm4::ccm_seal(key, nonce, block, aad);
    row("sm4-ccm seal, 8 KiB", mbs([&] { (void)sm4::ccm_seal(key, nonce, block, aad); }), "MB/s",
        sm4_kernel);
    row("sm4-ccm open, 8 KiB", mbs([&] { (void)sm4::ccm_open(key, nonce, ccm_sealed, aad); }),
        "MB/s", sm4_kernel);

    row("sm2 key pair", rate([] { (void)crypt_managers::SM2Manager().get_public_key(); }, seconds),
        "ops/s", sm2_kernel);
    crypt_managers::SM2Manager m;
    m.get_public_key();
    const Bytes msg(32, 0x42), msg64(64, 0x42);
    const std::string sig = *m.sign_with_sm3(msg);
    row("sm2 sign (SM3, identity digest)", rate([&] { (void)m.sign_with_sm3(msg); }, seconds),
        "ops/s", sm2_kernel);
    row("sm2 verify (SM3, identity digest)",
        rate([&] { (void)m.verify_with_sm3(sig, msg); }, seconds), "ops/s", sm2_kernel);
    const Bytes ct = *m.encrypt(msg);
    row("sm2 encrypt, 32 bytes", rate([&] { (void)m.encrypt(msg); }, seconds), "ops/s", sm2_kernel);
    row("sm2 decrypt, 32 bytes", rate([&] { (void)m.decrypt(ct); }, seconds), "ops/s", sm2_kernel);
    key_exchange_row(m, seconds, sm2_kernel);

    // A new key each time, as a one-shot call does: the key blocks, then the message.
    const Bytes mac_key(32, 0x6b);
    row("sm3 hmac, 64 bytes", rate([&] { (void)sm3::hmac_sm3(mac_key, msg64); }, seconds), "ops/s",
        sm3_kernel);
    row("sm3 hmac, 8 KiB", rate([&] { (void)sm3::hmac_sm3(mac_key, block); }, seconds) * 8192 / 1e6,
        "MB/s", sm3_kernel);
    const Bytes salt(16, 0x73);
    row("sm3 pbkdf2, 10000 iterations",
        rate([&] { (void)sm3::pbkdf2_sm3(msg, salt, 10000, 32); }, seconds), "ops/s", sm3_kernel);
    return 0;
}

}  // namespace

void add_speed(CLI::App& app, Action& action) {
    auto* cmd =
        app.add_subcommand("speed", "Measure every algorithm on one core, like openssl speed");
    auto seconds = std::make_shared<double>(0.3);
    cmd->add_option("--seconds", *seconds, "Time per measurement")->capture_default_str();
    cmd->callback([&action, seconds] { action = [seconds] { return run_speed(*seconds); }; });
}

}  // namespace pelmo::cli
