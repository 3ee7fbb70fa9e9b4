// The SM4 kernels: the S-box maps behind the AES-NI and GFNI kernels, the standard's
// examples, and every kernel against OpenSSL on every length up to 300 bytes.
#include <pelmo/sm4.hpp>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/cpu.hpp"
#include "common/hex.hpp"
#include "openssl_sm4.hpp"
#include "sm4/affine.hpp"
#include "sm4/constants.hpp"
#include "sm4/kernels/kernel.hpp"
#include "sm4_kernel_loop.hpp"
#include "support/kernels.hpp"
#include "support/random_input.hpp"

namespace {

using pelmo::Bytes;
using pelmo::ByteView;
using pelmo::detail::from_hex;
using pelmo::detail::to_hex;
using pelmo::test::openssl_sm4;
using pelmo::test::random_bytes;
namespace sm4 = pelmo::sm4;
namespace ksm4 = pelmo::detail::sm4;
namespace aff = pelmo::detail::sm4::affine;
using pelmo::test::for_each_kernel;

std::uint32_t tau_reference(std::uint32_t x) {
    std::uint32_t r = 0;
    for (int b = 0; b < 32; b += 8) r |= std::uint32_t{sm4::SM4_BOXES_TABLE[(x >> b) & 0xff]} << b;
    return r;
}

TEST(Sm4Sbox, TableIsTheAlgebraicSbox) {
    for (unsigned x = 0; x < 256; ++x)
        EXPECT_EQ(sm4::SM4_BOXES_TABLE[x], aff::sbox_reference(static_cast<std::uint8_t>(x))) << x;
}

TEST(Sm4Sbox, AesFieldFormsMatchTheTable) {
    // Mout * invAES(Min * x + cin) + C, and the same through SubBytes.
    const aff::Affine after = aff::after_subbytes(aff::kMout, aff::kC);
    for (unsigned x = 0; x < 256; ++x) {
        const auto z = static_cast<std::uint8_t>(
            aff::apply(aff::kMin, static_cast<std::uint8_t>(x)) ^ aff::kCin);
        const std::uint8_t inv = aff::gf_inv(z, aff::kAesPoly);
        EXPECT_EQ(aff::apply(aff::kMout, inv) ^ aff::kC, sm4::SM4_BOXES_TABLE[x]) << x;
        const auto subbytes = static_cast<std::uint8_t>(aff::apply(aff::aes_la(), inv) ^ 0x63);
        EXPECT_EQ(aff::apply(after.m, subbytes) ^ after.c, sm4::SM4_BOXES_TABLE[x]) << x;
        EXPECT_EQ(aff::apply(aff::kMinInv, aff::apply(aff::kMin, static_cast<std::uint8_t>(x))), x);
    }
}

TEST(Sm4Sbox, TransformedRoundMatchesTheRoundFunction) {
    // X'0 + a0 + rol8(a12) + rol16(a12) + rol24(a3) = Min * (X0 + L(S(t))).
    const auto bytewise = [](const aff::Mat8& m, std::uint32_t w, std::uint8_t c) {
        std::uint32_t r = 0;
        for (int b = 0; b < 32; b += 8)
            r |= std::uint32_t(aff::apply(m, static_cast<std::uint8_t>(w >> b)) ^ c) << b;
        return r;
    };
    const auto rotl = [](std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
    for (int i = 0; i < 2000; ++i) {
        const auto x0 = static_cast<std::uint32_t>(pelmo::test::rng()());
        const auto t = static_cast<std::uint32_t>(pelmo::test::rng()());
        const std::uint32_t z = bytewise(aff::kMin, t, aff::kCin);
        std::uint32_t inv = 0;
        for (int b = 0; b < 32; b += 8)
            inv |= std::uint32_t{aff::gf_inv(static_cast<std::uint8_t>(z >> b), aff::kAesPoly)}
                   << b;
        const std::uint32_t a0 = bytewise(aff::kQ0, inv, aff::kq0);
        const std::uint32_t a12 = bytewise(aff::kQ12, inv, aff::kq12);
        const std::uint32_t a3 = bytewise(aff::kQ3, inv, aff::kq3);
        const std::uint32_t next =
            bytewise(aff::kMin, x0, 0) ^ a0 ^ rotl(a12, 8) ^ rotl(a12, 16) ^ rotl(a3, 24);
        EXPECT_EQ(bytewise(aff::kMinInv, next, 0), x0 ^ ksm4::linear_l(tau_reference(t)));
    }
}

TEST(Sm4Sbox, EveryKernelComputesTheSboxForAllInputs) {
    for_each_kernel([](const ksm4::Kernel& k) {
        for (std::uint32_t x = 0; x < 256; ++x) {
            // Each byte position, and four different bytes at once.
            const std::uint32_t w = x | ((x ^ 0x5a) << 8) | ((x ^ 0xc3) << 16) | ((255 - x) << 24);
            ASSERT_EQ(k.tau(w), tau_reference(w)) << x;
            ASSERT_EQ(k.tau(x << 24), tau_reference(x << 24)) << x;
        }
    });
}

TEST(Sm4Constants, StandardValues) {
    EXPECT_EQ(sm4::SM4_FK[0], 0xa3b1bac6u);
    EXPECT_EQ(sm4::SM4_FK[3], 0xb27022dcu);
    EXPECT_EQ(sm4::SM4_CK[0], 0x00070e15u);
    EXPECT_EQ(sm4::SM4_CK[1], 0x1c232a31u);
    EXPECT_EQ(sm4::SM4_CK[31], 0x646b7279u);
    EXPECT_EQ(sm4::SM4_BOXES_TABLE[0x00], 0xd6);
    EXPECT_EQ(sm4::SM4_BOXES_TABLE[0xef], 0x84);
    EXPECT_EQ(sm4::SM4_BOXES_TABLE[0xff], 0x48);
}

const Bytes kStdKey = from_hex("0123456789abcdeffedcba9876543210");

TEST(Sm4KnownAnswers, SingleBlockExampleInEveryKernel) {
    for_each_kernel([](const ksm4::Kernel&) {
        sm4::CryptSM4 c;
        c.set_key(kStdKey, sm4::SM4_ENCRYPT);
        // The round keys of the standard's example.
        EXPECT_EQ(c.sk[0], 0xf12186f9u);
        EXPECT_EQ(c.sk[31], 0x9124a012u);
        const Bytes ct = c.one_round(c.sk, kStdKey);
        EXPECT_EQ(to_hex(ct), "681edf34d206965e86b3e94f536e4246");
        c.set_key(kStdKey, sm4::SM4_DECRYPT);
        EXPECT_EQ(c.one_round(c.sk, ct), kStdKey);
    });
}

TEST(Sm4KnownAnswers, MillionFoldExample) {
    // 1,000,000 encryptions under the same key, with the fastest kernel: CBC over zero
    // blocks with the plaintext as IV chains exactly those encryptions.
    const ksm4::Kernel& k = ksm4::active_kernel();
    std::uint32_t rk[32];
    k.expand_key(kStdKey.data(), rk);
    std::uint8_t chain[16];
    std::memcpy(chain, kStdKey.data(), 16);
    constexpr std::size_t kChunk = 4000;
    const Bytes zeros(16 * kChunk, 0);
    Bytes out(16 * kChunk);
    for (int i = 0; i < 1000000 / static_cast<int>(kChunk); ++i)
        k.cbc_encrypt(rk, chain, zeros.data(), out.data(), kChunk);
    EXPECT_EQ(to_hex(ByteView(chain, 16)), "595298c7c6fd271f0402f804c33d3f66");
}

// Every length 0..300 in ECB and CBC, without padding (whole blocks) and with PKCS#7,
// both directions, random key and IV per length, against OpenSSL.
TEST(Sm4Differential, EveryKernelMatchesOpenSslForLengthsUpTo300) {
    for_each_kernel([](const ksm4::Kernel&) {
        for (std::size_t len = 0; len <= 300; ++len) {
            const Bytes key = random_bytes(16), iv = random_bytes(16), msg = random_bytes(len);
            for (bool cbc : {false, true}) {
                for (bool pkcs7 : {false, true}) {
                    if (!pkcs7 && len % 16 != 0) continue;
                    SCOPED_TRACE(std::string(cbc ? "CBC" : "ECB") + (pkcs7 ? " PKCS7 " : " none ") +
                                 std::to_string(len));
                    const int padding = pkcs7 ? sm4::PKCS7 : sm4::NoPadding;
                    sm4::CryptSM4 enc(sm4::SM4_ENCRYPT, padding), dec(sm4::SM4_DECRYPT, padding);
                    enc.set_key(key, sm4::SM4_ENCRYPT);
                    dec.set_key(key, sm4::SM4_DECRYPT);
                    const Bytes ct = cbc ? enc.crypt_cbc(iv, msg) : enc.crypt_ecb(msg);
                    ASSERT_EQ(ct, openssl_sm4(true, cbc, pkcs7, key, iv, msg));
                    ASSERT_EQ(cbc ? dec.crypt_cbc(iv, ct) : dec.crypt_ecb(ct), msg);
                    // Decryption of arbitrary whole blocks (no padding to check).
                    if (!pkcs7) {
                        const Bytes junk = random_bytes(len);
                        ASSERT_EQ(cbc ? dec.crypt_cbc(iv, junk) : dec.crypt_ecb(junk),
                                  openssl_sm4(false, cbc, false, key, iv, junk));
                    }
                }
            }
        }
    });
}

// The kernels themselves on long runs (every batch size and tail), in place and out of
// place, with the chaining value carried across calls.
TEST(Sm4Kernels, LongRunsInPlaceAndChainedAgreeWithOpenSsl) {
    const Bytes key = random_bytes(16), iv = random_bytes(16);
    const Bytes msg = random_bytes(16 * 200);
    const Bytes ecb = openssl_sm4(true, false, false, key, iv, msg);
    const Bytes cbc = openssl_sm4(true, true, false, key, iv, msg);
    for_each_kernel([&](const ksm4::Kernel& k) {
        std::uint32_t rk[32], rk_dec[32];
        k.expand_key(key.data(), rk);
        for (int i = 0; i < 32; ++i) rk_dec[i] = rk[31 - i];
        for (std::size_t nblocks :
             {1u, 2u, 3u, 7u, 8u, 15u, 16u, 17u, 63u, 64u, 65u, 79u, 128u, 200u}) {
            SCOPED_TRACE(nblocks);
            const std::size_t n = 16 * nblocks;
            Bytes buf(msg.begin(), msg.begin() + static_cast<std::ptrdiff_t>(n));
            k.ecb(rk, buf.data(), buf.data(), nblocks);
            ASSERT_EQ(0, std::memcmp(buf.data(), ecb.data(), n));
            k.ecb(rk_dec, buf.data(), buf.data(), nblocks);
            ASSERT_EQ(0, std::memcmp(buf.data(), msg.data(), n));

            // CBC in two calls (split in the middle), in place.
            const std::size_t half = nblocks / 2;
            std::uint8_t chain[16];
            std::memcpy(chain, iv.data(), 16);
            k.cbc_encrypt(rk, chain, buf.data(), buf.data(), half);
            k.cbc_encrypt(rk, chain, buf.data() + 16 * half, buf.data() + 16 * half,
                          nblocks - half);
            ASSERT_EQ(0, std::memcmp(buf.data(), cbc.data(), n));
            ASSERT_EQ(0, std::memcmp(chain, cbc.data() + n - 16, 16));
            std::memcpy(chain, iv.data(), 16);
            k.cbc_decrypt(rk_dec, chain, buf.data(), buf.data(), half);
            k.cbc_decrypt(rk_dec, chain, buf.data() + 16 * half, buf.data() + 16 * half,
                          nblocks - half);
            ASSERT_EQ(0, std::memcmp(buf.data(), msg.data(), n));
            ASSERT_EQ(0, std::memcmp(chain, cbc.data() + n - 16, 16));

            // Out of place leaves the input alone.
            Bytes out(n);
            std::memcpy(chain, iv.data(), 16);
            k.cbc_decrypt(rk_dec, chain, cbc.data(), out.data(), nblocks);
            ASSERT_EQ(0, std::memcmp(out.data(), msg.data(), n));
        }
    });
}

// Every run of 1..70 blocks through each kernel's entry points against the portable
// kernel: every split into the kernels' batches (8, 4, 2 and 1 blocks; groups of four
// transposed blocks, two groups at a time; 16 and 64 blocks on x86) and every tail,
// out of place and in place, with the CBC chaining value after the call. The outputs
// for n blocks are the first n of those for 70.
TEST(Sm4Kernels, EveryBlockCountUpTo70AgreesWithThePortableKernel) {
    constexpr std::size_t kMax = 70;
    const Bytes key = random_bytes(16), iv = random_bytes(16), msg = random_bytes(16 * kMax);
    std::uint32_t rk[32], rk_dec[32];
    ksm4::kPortable.expand_key(key.data(), rk);
    for (int i = 0; i < 32; ++i) rk_dec[i] = rk[31 - i];
    enum Op { kEcb, kCbcEncrypt, kCbcDecrypt };
    const char* const op_names[] = {"ECB", "CBC encryption", "CBC decryption"};
    const auto run = [&](const ksm4::Kernel& k, Op op, const std::uint8_t* in, std::uint8_t* out,
                         std::size_t n, std::uint8_t chain[16]) {
        std::memcpy(chain, iv.data(), 16);
        if (op == kEcb) k.ecb(rk, in, out, n);
        if (op == kCbcEncrypt) k.cbc_encrypt(rk, chain, in, out, n);
        if (op == kCbcDecrypt) k.cbc_decrypt(rk_dec, chain, in, out, n);
    };
    Bytes expected[3];
    for (Op op : {kEcb, kCbcEncrypt, kCbcDecrypt}) {
        std::uint8_t chain[16];
        expected[op].resize(msg.size());
        run(ksm4::kPortable, op, msg.data(), expected[op].data(), kMax, chain);
    }
    for_each_kernel([&](const ksm4::Kernel& k) {
        for (Op op : {kEcb, kCbcEncrypt, kCbcDecrypt}) {
            for (std::size_t n = 1; n <= kMax; ++n) {
                SCOPED_TRACE(std::string(op_names[op]) + ", " + std::to_string(n) + " blocks");
                const std::size_t len = 16 * n;
                // The chaining value afterwards: the last ciphertext block (ECB has none:
                // the IV stays).
                const std::uint8_t* last =
                    op == kEcb ? iv.data()
                               : (op == kCbcDecrypt ? msg.data() : expected[op].data()) + len - 16;
                Bytes out(len + 16, 0xa5);  // a guard block after the output
                std::uint8_t chain[16];
                run(k, op, msg.data(), out.data(), n, chain);
                ASSERT_EQ(0, std::memcmp(out.data(), expected[op].data(), len));
                ASSERT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(len), out.end()),
                          Bytes(16, 0xa5));
                ASSERT_EQ(0, std::memcmp(chain, last, 16));
                Bytes buf(msg.begin(), msg.begin() + static_cast<std::ptrdiff_t>(len));
                run(k, op, buf.data(), buf.data(), n, chain);
                ASSERT_EQ(0, std::memcmp(buf.data(), expected[op].data(), len));
                ASSERT_EQ(0, std::memcmp(chain, last, 16));
            }
        }
    });
}

TEST(Sm4Kernels, KeyScheduleAgreesAcrossKernels) {
    for (int i = 0; i < 50; ++i) {
        const Bytes key = random_bytes(16);
        std::uint32_t expect[32];
        ksm4::kPortable.expand_key(key.data(), expect);
        for_each_kernel([&](const ksm4::Kernel& k) {
            std::uint32_t rk[32];
            k.expand_key(key.data(), rk);
            ASSERT_EQ(0, std::memcmp(rk, expect, sizeof rk));
        });
    }
}

}  // namespace
