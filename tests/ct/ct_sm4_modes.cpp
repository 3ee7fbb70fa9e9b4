// SM4 in CTR, CFB, OFB, GCM and CCM with a secret key, a secret IV or nonce (so the counters,
// H, J0 and CCM's B0 are secret too) and a secret plaintext, one-shot and streaming, under
// every SM4 kernel of ct_kernels.hpp and each GHASH kernel valgrind runs (portable and
// PCLMULQDQ; valgrind hides AVX-512, so the VPCLMULQDQ kernel is never offered here). Only
// whether a tag verifies is published.
#include <pelmo/sm4.hpp>

#include <cstdio>
#include <cstdlib>

#include "ct_check.hpp"
#include "ct_kernels.hpp"
#include "sm4/ghash.hpp"

namespace {

using pelmo::Bytes;
using pelmo::ct_check::classify;
using pelmo::ct_check::declassify;
namespace sm4 = pelmo::sm4;
namespace ds = pelmo::detail::sm4;

Bytes pattern(std::size_t n, unsigned seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(seed * 131 + i * 29 + (i >> 3));
    return b;
}

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "ct_sm4_modes: %s\n", what);
        std::abort();
    }
}

Bytes secret(std::size_t n, unsigned seed) {
    Bytes b = pattern(n, seed);
    classify(b.data(), b.size());
    return b;
}

Bytes published(Bytes b) {
    declassify(b.data(), b.size());
    return b;
}

void run_all() {
    const Bytes key = secret(16, 1), iv = secret(16, 2);
    for (std::size_t len : {std::size_t{0}, std::size_t{5}, std::size_t{16}, std::size_t{200}}) {
        const Bytes plain = pattern(len, 3), msg = secret(len, 3);
        // Stream modes, one-shot and in two pieces.
        require(published(sm4::ctr_crypt(key, iv, sm4::ctr_crypt(key, iv, msg))) == plain, "ctr");
        require(published(sm4::cfb_decrypt(key, iv, sm4::cfb_encrypt(key, iv, msg))) == plain,
                "cfb");
        require(published(sm4::ofb_crypt(key, iv, sm4::ofb_crypt(key, iv, msg))) == plain, "ofb");
        sm4::SM4Stream s(sm4::SM4Stream::CFB_DECRYPT, key, iv);
        const Bytes c = sm4::cfb_encrypt(key, iv, msg);
        Bytes a = s.update(pelmo::ByteView(c).first(len / 3));
        const Bytes b = s.update(pelmo::ByteView(c).subspan(len / 3));
        a.insert(a.end(), b.begin(), b.end());
        require(published(a) == plain, "cfb streaming");

        // GCM (12-byte and hashed nonces) and CCM: the sealed message is published, as it
        // would be sent; opening it and a tampered copy publishes only the verdict.
        const Bytes aad = pattern(20, 4);
        for (std::size_t nonce_len : {std::size_t{12}, std::size_t{7}, std::size_t{13}}) {
            const Bytes nonce = secret(nonce_len, 5);
            const Bytes gcm = published(sm4::gcm_seal(key, nonce, msg, aad, 16));
            const Bytes ccm = published(sm4::ccm_seal(key, nonce, msg, aad, 8));
            auto g = sm4::gcm_open(key, nonce, gcm, aad, 16);
            auto m = sm4::ccm_open(key, nonce, ccm, aad, 8);
            require(g && published(*g) == plain && m && published(*m) == plain, "aead open");
            Bytes bad = gcm;
            bad[0] ^= 1;
            require(!sm4::gcm_open(key, nonce, bad, aad, 16), "gcm tamper");
            bad = ccm;
            bad[bad.size() - 1] ^= 1;
            require(!sm4::ccm_open(key, nonce, bad, aad, 8), "ccm tamper");
            sm4::SM4AeadOpen o(sm4::SM4AeadSeal::GCM, key, nonce, aad, 16, gcm.size());
            const Bytes part = published(o.update_unverified(gcm));
            require(o.finish() && part == plain, "gcm streaming");
        }
    }
}

void run_with_ghash_kernels() {
    int ran = 0;
    for (ds::GhashKernelId id : ds::kAllGhashKernels) {
        const char* name = ds::ghash_kernel_of(id).name;
        if (ds::ghash_kernel_by_id(id) == nullptr) {
            std::printf("ct:     ghash kernel %s: not run (not offered here)\n", name);
            continue;
        }
        const pelmo::test::ScopedKernel force("PELMO_GHASH_KERNEL", name);
        if (ds::active_ghash().name != ds::ghash_kernel_of(id).name) std::abort();
        std::printf("ct:     ghash kernel %s\n", name);
        std::fflush(stdout);
        run_all();
        ++ran;
    }
    if (ran == 0) std::abort();
}

PELMO_CT_CHECK_CASE(sm4_stream_and_authenticated_modes) {
    pelmo::ct_check::for_each_sm4_kernel(run_with_ghash_kernels);
}

}  // namespace
