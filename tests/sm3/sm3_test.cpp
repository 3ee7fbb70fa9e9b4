#include <pelmo/sm3.hpp>

#include <gtest/gtest.h>

#include <stdexcept>

#include "common/cpu.hpp"
#include "common/hex.hpp"
#include "sm3/compress.hpp"
#include "support/kernels.hpp"
#include "support/openssl_oracle.hpp"
#include "support/random_input.hpp"
#include "support/sm3_kernels.hpp"

namespace {

using pelmo::Bytes;
using pelmo::ByteView;
using pelmo::detail::to_hex;
using pelmo::test::as_bytes;
using pelmo::test::random_bytes;
namespace sm3 = pelmo::sm3;
namespace ksm3 = pelmo::detail::sm3;

using pelmo::test::for_each_sm3_kernel;

TEST(Sm3KnownAnswers, StandardExamples) {
    // GB/T 32905, examples 1 and 2.
    EXPECT_EQ(sm3::sm3_hash(as_bytes("abc")),
              "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0");
    std::string abcd;
    for (int i = 0; i < 16; ++i) abcd += "abcd";
    EXPECT_EQ(sm3::sm3_hash(as_bytes(abcd)),
              "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732");
    for_each_sm3_kernel([&] {
        EXPECT_EQ(sm3::SM3().update("abc").hexdigest(),
                  "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0");
    });
}

TEST(Sm3KnownAnswers, EmptyMessage) {
    EXPECT_EQ(sm3::sm3_hash({}), to_hex(pelmo::test::openssl_sm3({})));
}

TEST(Sm3Padding, BoundaryLengthsMatchOpenSsl) {
    for_each_sm3_kernel([] {
        for (std::size_t len : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u}) {
            const Bytes msg = random_bytes(len);
            const Bytes copy = msg;
            EXPECT_EQ(sm3::sm3_hash(msg), to_hex(pelmo::test::openssl_sm3(msg))) << len;
            EXPECT_EQ(msg, copy) << "sm3_hash must not modify its argument";
        }
    });
}

TEST(Sm3Differential, RandomLengthsAgainstOpenSsl) {
    for_each_sm3_kernel([] {
        for (int i = 0; i < 300; ++i) {
            const std::size_t len = pelmo::test::rng()() % 4097;
            const Bytes msg = random_bytes(len);
            ASSERT_EQ(sm3::sm3_hash(msg), to_hex(pelmo::test::openssl_sm3(msg))) << len;
        }
    });
}

TEST(Sm3Incremental, RandomChunksOfALargeMessage) {
    const Bytes msg = random_bytes((3u << 20) + 37);
    const std::string expected = to_hex(pelmo::test::openssl_sm3(msg));
    for_each_sm3_kernel([&] {
        sm3::SM3 h;
        std::size_t at = 0;
        while (at < msg.size()) {
            // Mix tiny, block-straddling and large chunks.
            std::size_t n = pelmo::test::rng()() % 3 == 0 ? pelmo::test::rng()() % 200000
                                                          : pelmo::test::rng()() % 130;
            n = std::min(n, msg.size() - at);
            h.update(ByteView(msg.data() + at, n));
            at += n;
        }
        EXPECT_EQ(h.hexdigest(), expected);
    });
}

TEST(Sm3Incremental, DigestIsARunningValue) {
    sm3::SM3 h;
    h.update("ab");
    EXPECT_EQ(h.hexdigest(), sm3::sm3_hash(as_bytes("ab")));
    h.update("c");
    EXPECT_EQ(h.hexdigest(), sm3::sm3_hash(as_bytes("abc")));
    h.reset();
    EXPECT_EQ(h.hexdigest(), sm3::sm3_hash({}));
    EXPECT_EQ(to_hex(sm3::SM3::hash(as_bytes("abc"))), sm3::sm3_hash(as_bytes("abc")));
}

// Every compression kernel, each test run once per kernel and skipped, with the
// reason, where this CPU cannot run it.
class Sm3Kernel : public ::testing::TestWithParam<ksm3::Kernel> {
  protected:
    void SetUp() override {
        fn_ = ksm3::kernel_by_name(GetParam());
        if (fn_ == nullptr)
            GTEST_SKIP() << "this CPU cannot run the " << ksm3::kernel_name(GetParam())
                         << " kernel";
    }
    ksm3::CompressFn fn_ = nullptr;
};

std::string kernel_test_name(const ::testing::TestParamInfo<ksm3::Kernel>& kernel) {
    return ksm3::kernel_name(kernel.param);
}
INSTANTIATE_TEST_SUITE_P(EveryKernel, Sm3Kernel, ::testing::ValuesIn(ksm3::kAllKernels),
                         kernel_test_name);

TEST_P(Sm3Kernel, AgreesWithStandardFunction) {
    for (int i = 0; i < 50; ++i) {
        const Bytes block = random_bytes(64 + i % 3);  // extra bytes are ignored
        std::array<std::uint32_t, 8> v{};
        for (auto& w : v) w = static_cast<std::uint32_t>(pelmo::test::rng()());
        auto st = v;
        fn_(st.data(), block.data(), 1);
        EXPECT_EQ(st, sm3::sm3_cf(v, block));
    }
}

// A kernel given several blocks chains them exactly as repeated single compressions
// do; the AVX-512 and AVX2 kernels prepare schedules ahead of the rounds, so the
// first, middle and last blocks take different paths.
TEST_P(Sm3Kernel, ChainsBlocks) {
    for (std::size_t n = 1; n <= 8; ++n) {
        const Bytes data = random_bytes(64 * n);
        auto expected = sm3::IV;
        for (std::size_t b = 0; b < n; ++b)
            expected = sm3::sm3_cf(expected, ByteView(data.data() + 64 * b, 64));
        auto st = sm3::IV;
        fn_(st.data(), data.data(), n);
        EXPECT_EQ(st, expected) << n << " blocks";
    }
}

// The kernel alone, from the initial value over the padded message (0x80, zeros,
// the length in bits big-endian), against OpenSSL's digest of the message: every
// length up to 300 bytes, then random ones up to 4 KiB.
TEST_P(Sm3Kernel, DigestsMatchOpenSsl) {
    for (int i = 0; i < 400; ++i) {
        const std::size_t len =
            i <= 300 ? static_cast<std::size_t>(i) : pelmo::test::rng()() % 4097;
        const Bytes msg = random_bytes(len);
        Bytes padded = msg;
        padded.push_back(0x80);
        while (padded.size() % 64 != 56) padded.push_back(0);
        for (int k = 7; k >= 0; --k)
            padded.push_back(static_cast<std::uint8_t>((len * 8) >> (8 * k)));
        auto st = sm3::IV;
        fn_(st.data(), padded.data(), padded.size() / 64);
        Bytes digest;
        for (std::uint32_t w : st)
            for (int k = 3; k >= 0; --k) digest.push_back(static_cast<std::uint8_t>(w >> (8 * k)));
        ASSERT_EQ(to_hex(digest), to_hex(pelmo::test::openssl_sm3(msg))) << len;
    }
}

// A long run of blocks in one call (the state carried in registers from block to
// block) against the portable kernel, from a random state.
TEST_P(Sm3Kernel, LongRunAgreesWithThePortableKernel) {
    constexpr std::size_t kBlocks = 1000;
    const Bytes data = random_bytes(64 * kBlocks);
    std::array<std::uint32_t, 8> expected{};
    for (auto& w : expected) w = static_cast<std::uint32_t>(pelmo::test::rng()());
    auto st = expected;
    ksm3::compress_portable(expected.data(), data.data(), kBlocks);
    fn_(st.data(), data.data(), kBlocks);
    EXPECT_EQ(st, expected);
}

TEST(Sm3Compression, PaddedAbcBlockGivesTheStandardDigest) {
    // One compression of the padded "abc" block from IV is the standard's digest.
    Bytes block(64, 0);
    block[0] = 'a', block[1] = 'b', block[2] = 'c', block[3] = 0x80, block[63] = 24;
    const auto v = sm3::sm3_cf(sm3::IV, block);
    EXPECT_EQ(v[0], 0x66c7f0f4u);
    EXPECT_EQ(v[7], 0x8f4ba8e0u);
}

TEST(Sm3Compression, Errors) {
    const Bytes block(64, 1);
    const std::array<std::uint32_t, 7> seven{};
    const std::array<std::uint32_t, 9> nine{};
    EXPECT_THROW(sm3::sm3_cf(seven, block), std::invalid_argument);
    EXPECT_THROW(sm3::sm3_cf(nine, block), std::invalid_argument);
    EXPECT_THROW(sm3::sm3_cf(sm3::IV, ByteView(block.data(), 63)), std::out_of_range);
}

TEST(Sm3RoundFunctions, BoundariesAndErrors) {
    const std::uint32_t x = 0xf0f0ff00, y = 0xcccc0f0f, z = 0xaaaa3333;
    EXPECT_EQ(sm3::sm3_ff_j(x, y, z, 15), x ^ y ^ z);
    EXPECT_EQ(sm3::sm3_gg_j(x, y, z, 15), x ^ y ^ z);
    EXPECT_EQ(sm3::sm3_ff_j(x, y, z, 16), (x & y) | (x & z) | (y & z));
    EXPECT_EQ(sm3::sm3_gg_j(x, y, z, 16), (x & y) | (~x & z));
    EXPECT_THROW(sm3::sm3_ff_j(x, y, z, 64), std::out_of_range);
    EXPECT_THROW(sm3::sm3_gg_j(x, y, z, -1), std::out_of_range);
    EXPECT_EQ(sm3::sm3_p_0(1), 1u | (1u << 9) | (1u << 17));
    EXPECT_EQ(sm3::sm3_p_1(1), 1u | (1u << 15) | (1u << 23));
    EXPECT_EQ(sm3::T_j[15], 0x79cc4519u);
    EXPECT_EQ(sm3::T_j[16], 0x7a879d8au);
}

TEST(Sm3Kdf, AgreesWithOpenSslX963) {
    for (std::size_t zlen : {1u, 32u, 64u, 65u}) {
        const Bytes z = random_bytes(zlen);
        for (std::int64_t klen : {1, 16, 31, 32, 33, 64, 100, 1000}) {
            EXPECT_EQ(sm3::sm3_kdf(to_hex(z), klen),
                      to_hex(pelmo::test::openssl_sm3_kdf(z, static_cast<std::size_t>(klen))))
                << zlen << " " << klen;
        }
    }
}

TEST(Sm3Kdf, LengthsCaseAndErrors) {
    const std::string z = "0123456789abcdefABCDEF";
    EXPECT_EQ(sm3::sm3_kdf(z, 32).size(), 64u);
    EXPECT_EQ(sm3::sm3_kdf(z, 33).size(), 66u);
    EXPECT_EQ(sm3::sm3_kdf(z, 0), "");
    EXPECT_EQ(sm3::sm3_kdf(z, -5), "");
    std::string lower = z;
    for (auto& c : lower) c = static_cast<char>(std::tolower(c));
    EXPECT_EQ(sm3::sm3_kdf(z, 40), sm3::sm3_kdf(lower, 40));
    EXPECT_THROW(sm3::sm3_kdf("abc", 4), std::invalid_argument);  // odd length
    EXPECT_THROW(sm3::sm3_kdf("zz", 4), std::invalid_argument);   // not hexadecimal
    EXPECT_THROW(sm3::sm3_kdf("0g", 0), std::invalid_argument);   // checked even for klen 0
    try {
        sm3::sm3_kdf("00x0", 1);
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "invalid hexadecimal digit 'x' at position 2 in hexadecimal text");
    }
}

}  // namespace
