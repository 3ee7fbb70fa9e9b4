// pelmo speed: a quick single-core measurement of every algorithm, as a table.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

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

void print_row(const std::string& name, double value, const char* unit, const std::string& kernel) {
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
    print_row("sm2 key exchange, one side",
              rate(
                  [&] {
                      (void)side.ephemeral();
                      (void)side.compute(R_peer, 16);
                  },
                  seconds),
              "ops/s", kernel);
}

// The rows a name selects: every row whose tag is the name or starts with it and a
// '-' ("sm4" selects all SM4 rows, "sm4-gcm" the two GCM rows).
bool selects(const std::string& name, const std::string& tag) {
    return tag == name || tag.rfind(name + "-", 0) == 0;
}

// The tags of the rows, in the order they run.
const std::vector<std::string> kTags = {
    "sm3",        "sm4-ecb",     "sm4-cbc",     "sm4-cbc", "sm4-ctr",  "sm4-cfb",    "sm4-cfb",
    "sm4-ofb",    "sm4-gcm",     "sm4-gcm",     "sm4-ccm", "sm4-ccm",  "sm2-keygen", "sm2-sign",
    "sm2-verify", "sm2-encrypt", "sm2-decrypt", "sm2-kx",  "sm3-hmac", "sm3-hmac",   "sm3-pbkdf2"};

// The names that select something: every tag and every prefix of one up to a '-'.
std::set<std::string> known_names() {
    std::set<std::string> names;
    for (const std::string& tag : kTags) {
        names.insert(tag);
        names.insert(tag.substr(0, tag.find('-')));
    }
    return names;
}

int run_speed(double seconds, const std::vector<std::string>& names) {
    const std::set<std::string> known = known_names();
    for (const std::string& name : names) {
        if (known.count(name) != 0) continue;
        std::string list;
        for (const std::string& k : known) list += (list.empty() ? "" : ", ") + k;
        throw UsageError("speed: unknown algorithm '" + name + "'; known: " + list);
    }
    // Row i runs when no name is given or a name selects its tag.
    std::size_t next_row = 0;
    const auto wanted = [&] {
        const std::string& tag = kTags.at(next_row++);
        if (names.empty()) return true;
        for (const std::string& name : names)
            if (selects(name, tag)) return true;
        return false;
    };
    const auto row = [&](const std::string& name, const std::function<void()>& fn, double scale,
                         const char* unit, const std::string& kernel) {
        if (wanted()) print_row(name, rate(fn, seconds) * scale, unit, kernel);
    };
    const double kib8 = 8192 / 1e6;  // 8 KiB calls per second to MB/s
    std::printf("%-34s %12s %-6s %s\n", "operation", "rate", "", "kernel");
    // Ask after a first use: the choice is made (by timing) at first use.
    (void)sm3::sm3_hash({});
    const std::string sm3_kernel = kernel(detail::sm3::active_kernel_name(), "PELMO_SM3_KERNEL");
    const std::string sm4_kernel = kernel(detail::sm4::active_kernel().name, "PELMO_SM4_KERNEL");
    const std::string sm2_kernel =
        kernel(detail::sm2::curve::field_kernel_name(), "PELMO_SM2_FIELD_KERNEL");
    const Bytes block(8192, 0x5a);
    row(
        "sm3 hash, 8 KiB", [&] { (void)sm3::SM3::hash(block); }, kib8, "MB/s", sm3_kernel);

    const Bytes key(16, 7), iv(16, 9);
    sm4::CryptSM4 enc(sm4::SM4_ENCRYPT, sm4::NoPadding), dec(sm4::SM4_DECRYPT, sm4::NoPadding);
    enc.set_key(key, sm4::SM4_ENCRYPT);
    dec.set_key(key, sm4::SM4_DECRYPT);
    row(
        "sm4-ecb encrypt, 8 KiB", [&] { (void)enc.crypt_ecb(block); }, kib8, "MB/s", sm4_kernel);
    row(
        "sm4-cbc encrypt, 8 KiB", [&] { (void)enc.crypt_cbc(iv, block); }, kib8, "MB/s",
        sm4_kernel);
    row(
        "sm4-cbc decrypt, 8 KiB", [&] { (void)dec.crypt_cbc(iv, block); }, kib8, "MB/s",
        sm4_kernel);
    row(
        "sm4-ctr, 8 KiB", [&] { (void)sm4::ctr_crypt(key, iv, block); }, kib8, "MB/s", sm4_kernel);
    row(
        "sm4-cfb encrypt, 8 KiB", [&] { (void)sm4::cfb_encrypt(key, iv, block); }, kib8, "MB/s",
        sm4_kernel);
    row(
        "sm4-cfb decrypt, 8 KiB", [&] { (void)sm4::cfb_decrypt(key, iv, block); }, kib8, "MB/s",
        sm4_kernel);
    row(
        "sm4-ofb, 8 KiB", [&] { (void)sm4::ofb_crypt(key, iv, block); }, kib8, "MB/s", sm4_kernel);
    const Bytes nonce(12, 3), aad(16, 4);
    (void)sm4::gcm_seal(key, nonce, {});
    const std::string gcm_kernel =
        sm4_kernel + "+" + kernel(detail::sm4::active_ghash().name, "PELMO_GHASH_KERNEL");
    const Bytes gcm_sealed = sm4::gcm_seal(key, nonce, block, aad);
    row(
        "sm4-gcm seal, 8 KiB", [&] { (void)sm4::gcm_seal(key, nonce, block, aad); }, kib8, "MB/s",
        gcm_kernel);
    row(
        "sm4-gcm open, 8 KiB", [&] { (void)sm4::gcm_open(key, nonce, gcm_sealed, aad); }, kib8,
        "MB/s", gcm_kernel);
    const Bytes ccm_sealed = sm4::ccm_seal(key, nonce, block, aad);
    row(
        "sm4-ccm seal, 8 KiB", [&] { (void)sm4::ccm_seal(key, nonce, block, aad); }, kib8, "MB/s",
        sm4_kernel);
    row(
        "sm4-ccm open, 8 KiB", [&] { (void)sm4::ccm_open(key, nonce, ccm_sealed, aad); }, kib8,
        "MB/s", sm4_kernel);

    row(
        "sm2 key pair", [] { (void)crypt_managers::SM2Manager().get_public_key(); }, 1, "ops/s",
        sm2_kernel);
    crypt_managers::SM2Manager m;
    m.get_public_key();
    const Bytes msg(32, 0x42), msg64(64, 0x42);
    const std::string sig = *m.sign_with_sm3(msg);
    row(
        "sm2 sign (SM3, identity digest)", [&] { (void)m.sign_with_sm3(msg); }, 1, "ops/s",
        sm2_kernel);
    row(
        "sm2 verify (SM3, identity digest)", [&] { (void)m.verify_with_sm3(sig, msg); }, 1, "ops/s",
        sm2_kernel);
    const Bytes ct = *m.encrypt(msg);
    row(
        "sm2 encrypt, 32 bytes", [&] { (void)m.encrypt(msg); }, 1, "ops/s", sm2_kernel);
    row(
        "sm2 decrypt, 32 bytes", [&] { (void)m.decrypt(ct); }, 1, "ops/s", sm2_kernel);
    if (wanted()) key_exchange_row(m, seconds, sm2_kernel);

    // A new key each time, as a one-shot call does: the key blocks, then the message.
    const Bytes mac_key(32, 0x6b);
    row(
        "sm3 hmac, 64 bytes", [&] { (void)sm3::hmac_sm3(mac_key, msg64); }, 1, "ops/s", sm3_kernel);
    row(
        "sm3 hmac, 8 KiB", [&] { (void)sm3::hmac_sm3(mac_key, block); }, kib8, "MB/s", sm3_kernel);
    const Bytes salt(16, 0x73);
    row(
        "sm3 pbkdf2, 10000 iterations", [&] { (void)sm3::pbkdf2_sm3(msg, salt, 10000, 32); }, 1,
        "ops/s", sm3_kernel);
    return 0;
}

}  // namespace

void add_speed(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "speed", "Measure the algorithms on one core, like openssl speed (all, or those named)");
    auto seconds = std::make_shared<double>(0.3);
    auto names = std::make_shared<std::vector<std::string>>();
    cmd->add_option("ALGORITHM", *names,
                    "Rows to run: sm3, sm4, sm2, or one kind (sm4-gcm, sm2-sign, sm3-hmac, ...)");
    cmd->add_option("--seconds", *seconds, "Time per measurement, more than 0")
        ->capture_default_str()
        ->check(CLI::Validator(
            [](const std::string& text) -> std::string {
                double v = 0;
                // NaN and infinity are refused too: the timing loop needs an end.
                if (!CLI::detail::lexical_cast(text, v) || !std::isfinite(v) || v <= 0)
                    return "must be a positive number of seconds, got " + text;
                return {};
            },
            "POSITIVE"));
    cmd->callback([&action, seconds, names] {
        action = [seconds, names] { return run_speed(*seconds, *names); };
    });
}

}  // namespace pelmo::cli
