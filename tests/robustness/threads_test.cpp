// Many threads on one shared SM2 engine (keys present) and on per-thread SM4
// engines: every result equals the single-threaded one. Run under ThreadSanitizer
// by the tsan preset in CI.
#include <pelmo/crypt_managers.hpp>
#include <pelmo/func.hpp>
#include <pelmo/sm2.hpp>
#include <pelmo/sm3.hpp>
#include <pelmo/sm4.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/random_input.hpp"

namespace {

using pelmo::Bytes;

constexpr int kThreads = 4;
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kRounds = 3;
#else
constexpr int kRounds = 20;
#endif

template <typename Body>
void in_threads(Body body) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(body, t);
    for (auto& th : threads) th.join();
}

TEST(Threads, SharedSm2EngineGivesSingleThreadedResults) {
    pelmo::crypt_managers::SM2Manager keys;
    keys.get_public_key();
    for (bool asn1 : {false, true}) {
        const pelmo::sm2::CryptSM2 engine(keys.private_key, keys.public_key,
                                          pelmo::sm2::default_ecc_table, 1, asn1);
        const Bytes msg = pelmo::test::random_bytes(32);
        const std::string k = pelmo::func::random_hex(64);
        const auto sig = engine.sign(msg, k);
        const auto sig3 = engine.sign_with_sm3(msg, k);
        const Bytes ct = *engine.encrypt(msg);
        ASSERT_TRUE(sig && sig3);
        std::atomic<int> failures{0};
        in_threads([&](int) {
            for (int i = 0; i < kRounds; ++i) {
                if (engine.sign(msg, k) != sig) ++failures;
                if (engine.sign_with_sm3(msg, k) != sig3) ++failures;
                if (!engine.verify(*sig, msg) || !engine.verify_with_sm3(*sig3, msg)) ++failures;
                if (engine.decrypt(ct) != msg) ++failures;
                const auto fresh = engine.encrypt(msg);
                if (!fresh || engine.decrypt(*fresh) != msg) ++failures;
                if (!asn1 && engine.recover_public_keys(*sig, msg).count(*keys.public_key) != 1)
                    ++failures;
            }
        });
        EXPECT_EQ(failures.load(), 0);
    }
}

TEST(Threads, SharedManagerOnceItsKeysArePresent) {
    pelmo::crypt_managers::SM2Manager manager;
    manager.get_public_key();
    std::atomic<int> failures{0};
    in_threads([&](int t) {
        for (int i = 0; i < kRounds; ++i) {
            const std::string text = "thread " + std::to_string(t) + " round " + std::to_string(i);
            const auto sig = manager.signature(text);
            if (!sig || !manager.validate(*sig, text) || manager.validate(*sig, text + "!"))
                ++failures;
        }
    });
    EXPECT_EQ(failures.load(), 0);
}

TEST(Threads, Sm4EnginesPerThreadAndSm3) {
    const Bytes key = pelmo::test::random_bytes(16), iv = pelmo::test::random_bytes(16);
    const Bytes msg = pelmo::test::random_bytes(4099);
    pelmo::sm4::CryptSM4 ref;
    ref.set_key(key, pelmo::sm4::SM4_ENCRYPT);
    const Bytes ecb = ref.crypt_ecb(msg), cbc = ref.crypt_cbc(iv, msg);
    const std::string digest = pelmo::sm3::sm3_hash(msg);
    std::atomic<int> failures{0};
    in_threads([&](int) {
        for (int i = 0; i < kRounds; ++i) {
            pelmo::sm4::CryptSM4 enc, dec;
            enc.set_key(key, pelmo::sm4::SM4_ENCRYPT);
            dec.set_key(key, pelmo::sm4::SM4_DECRYPT);
            if (enc.crypt_ecb(msg) != ecb || enc.crypt_cbc(iv, msg) != cbc) ++failures;
            if (dec.crypt_cbc(iv, cbc) != msg || dec.crypt_ecb(ecb) != msg) ++failures;
            pelmo::crypt_managers::SM4Manager box;
            if (box.decrypt(box.encrypt("多线程")) != "多线程") ++failures;
            if (pelmo::sm3::sm3_hash(msg) != digest) ++failures;
        }
    });
    EXPECT_EQ(failures.load(), 0);
}

TEST(Threads, SharedKeyedHmacAndKeyDerivations) {
    const Bytes key = pelmo::test::random_bytes(40), msg = pelmo::test::random_bytes(1000);
    const pelmo::sm3::HmacSM3 keyed(key);
    const auto tag = pelmo::sm3::hmac_sm3(key, msg);
    const Bytes pbkdf2 = pelmo::sm3::pbkdf2_sm3(key, msg, 20, 40);
    const Bytes hkdf = pelmo::sm3::hkdf_sm3(key, msg, key, 100);
    std::atomic<int> failures{0};
    in_threads([&](int) {
        for (int i = 0; i < kRounds; ++i) {
            pelmo::sm3::HmacSM3 mac = keyed;  // a copy of the shared keyed object
            if (mac.update(msg).digest() != tag || keyed.digest() == tag) ++failures;
            if (pelmo::sm3::pbkdf2_sm3(key, msg, 20, 40) != pbkdf2) ++failures;
            if (pelmo::sm3::hkdf_sm3(key, msg, key, 100) != hkdf) ++failures;
        }
    });
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
