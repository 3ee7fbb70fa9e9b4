// HMAC-SM3, PBKDF2-HMAC-SM3 and HKDF-SM3: published answers, OpenSSL at run time over
// the length boundaries of keys, salts, info and outputs, streaming against one-shot,
// and the range errors.
#include <pelmo/sm3.hpp>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "common/hex.hpp"
#include "support/openssl_mac_kdf.hpp"
#include "support/random_input.hpp"
#include "support/sm3_kernels.hpp"

namespace {

using pelmo::Bytes;
using pelmo::ByteView;
using pelmo::detail::from_hex;
using pelmo::detail::to_hex;
using pelmo::test::as_bytes;
using pelmo::test::for_each_sm3_kernel;
using pelmo::test::random_bytes;
namespace sm3 = pelmo::sm3;

Bytes to_bytes(const sm3::SM3::Digest& d) {
    return Bytes(d.begin(), d.end());
}

// The lengths around SM3's 32-byte digest and 64-byte block.
constexpr std::size_t kBoundaries[] = {0, 1, 31, 32, 33, 64, 65};

struct MacVector {
    const char* key;
    const char* message;
    const char* mac;
};

// HMAC-SM3 examples of GM/T 0042-2015 D.3 (via Linux crypto/testmgr.h and OpenSSL's
// evpmac_sm3.txt), a further testmgr.h case and OpenSSL's own HMAC case.
const MacVector kMacVectors[] = {
    {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20",
     "6162636462636465636465666465666765666768666768696768696a68696a6b696a6b6c6a6b6c6d6b6c6d6e"
     "6c6d6e6f6d6e6f706e6f70716162636462636465636465666465666765666768666768696768696a68696a6b"
     "696a6b6c6a6b6c6d6b6c6d6e6c6d6e6f6d6e6f706e6f7071",
     "ca05e144ed05d1857840d1f318a4a8669e559fc8391f414485bfdf7bb408963a"},
    {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425",
     "cdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcd"
     "cdcdcdcdcdcd",
     "220bf579ded555393f0159f66c99877822a3ecf610d1552154b41d44b94db3ae"},
    {"0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "4869205468657265",
     "c0ba18c68b90c88bc07de794bfc7d2c8d19ec31ed8773bc2b390c9604e0be11e"},
    {"4a656665", "7768617420646f2079612077616e7420666f72206e6f7468696e673f",
     "2e87f1d16862e6d964b50a5200bf2b10b764faa9680a296a2405f24bec39f882"},
    {"4a656665204a65666572736f6e204a72", "7768617420646f2079612077616e7420666f72206e6f7468696e673f",
     "ce791a34c59adef472997a249600f3f244d59e875be04055ba2ae12fc845e78c"},
};

TEST(HmacSm3KnownAnswers, PublishedExamples) {
    for_each_sm3_kernel([] {
        for (const MacVector& v : kMacVectors) {
            SCOPED_TRACE(v.mac);
            const Bytes key = from_hex(v.key), msg = from_hex(v.message);
            EXPECT_EQ(to_hex(sm3::hmac_sm3(key, msg)), v.mac);
            sm3::HmacSM3 mac(key);
            EXPECT_EQ(mac.update(msg).hexdigest(), v.mac);
        }
    });
}

TEST(HmacSm3Differential, KeyAndMessageBoundariesAgainstOpenSsl) {
    for_each_sm3_kernel([] {
        for (std::size_t key_len : {0u, 1u, 31u, 32u, 33u, 63u, 64u, 65u, 100u, 200u}) {
            const Bytes key = random_bytes(key_len);
            for (std::size_t msg_len :
                 {0u, 1u, 31u, 32u, 33u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
                const Bytes msg = random_bytes(msg_len);
                ASSERT_EQ(to_bytes(sm3::hmac_sm3(key, msg)),
                          pelmo::test::openssl_hmac_sm3(key, msg))
                    << "key " << key_len << ", message " << msg_len;
            }
        }
    });
}

TEST(HmacSm3Differential, KeyLongerThanABlockIsItsDigest) {
    const Bytes key = random_bytes(65), msg = random_bytes(10);
    const auto hashed = sm3::SM3::hash(key);
    EXPECT_EQ(sm3::hmac_sm3(key, msg), sm3::hmac_sm3(hashed, msg));
}

TEST(HmacSm3Streaming, EverySplitEqualsOneShot) {
    const Bytes key = random_bytes(20);
    const Bytes msg = random_bytes(140);
    const ByteView all(msg);
    const sm3::HmacSM3 keyed(key);
    for (std::size_t len : {0u, 63u, 64u, 65u, 140u}) {
        const auto expected = sm3::hmac_sm3(key, all.first(len));
        for (std::size_t a = 0; a <= len; ++a) {
            sm3::HmacSM3 two = keyed;
            two.update(all.subspan(0, a)).update(all.subspan(a, len - a));
            ASSERT_EQ(two.digest(), expected) << len << " split at " << a;
        }
    }
    // Three parts of a message crossing the first block boundary.
    const std::size_t len = 70;
    const auto expected = sm3::hmac_sm3(key, all.first(len));
    for (std::size_t a = 0; a <= len; ++a)
        for (std::size_t b = a; b <= len; ++b) {
            sm3::HmacSM3 three = keyed;
            three.update(all.subspan(0, a))
                .update(all.subspan(a, b - a))
                .update(all.subspan(b, len - b));
            ASSERT_EQ(three.digest(), expected) << a << ", " << b;
        }
}

TEST(HmacSm3Streaming, RunningValueResetAndCopies) {
    const Bytes key = from_hex(kMacVectors[3].key);
    sm3::HmacSM3 mac(key);
    mac.update("what do ya want ");
    const sm3::HmacSM3 half = mac;
    EXPECT_EQ(mac.hexdigest(), to_hex(sm3::hmac_sm3(key, as_bytes("what do ya want "))));
    mac.update("for nothing?");
    EXPECT_EQ(mac.hexdigest(), kMacVectors[3].mac);
    EXPECT_EQ(mac.hexdigest(), kMacVectors[3].mac);  // reading it changes nothing
    // The copy went on from where it was taken.
    sm3::HmacSM3 other = half;
    EXPECT_EQ(other.update("for nothing?").hexdigest(), kMacVectors[3].mac);
    mac.reset();
    EXPECT_EQ(mac.digest(), sm3::hmac_sm3(key, {}));
    EXPECT_EQ(mac.update(from_hex(kMacVectors[3].message)).hexdigest(), kMacVectors[3].mac);
    // Assignment takes the other key.
    mac = sm3::HmacSM3(as_bytes("another key"));
    EXPECT_EQ(mac.digest(), sm3::hmac_sm3(as_bytes("another key"), {}));
}

struct KdfVector {
    const char* password;  // or input keying material
    const char* salt;
    const char* info;          // HKDF only
    std::uint32_t iterations;  // 0 for HKDF
    std::size_t length;
    const char* output;
};

// RFC 6070 (PBKDF2) and RFC 5869 A.1-A.3 (HKDF) inputs with SM3. No SM3 answers are
// published: these are OpenSSL 3.0's, matched by a second implementation.
const KdfVector kKdfVectors[] = {
    {"70617373776f7264", "73616c74", "", 1, 32,
     "4612f922a1fdcefaf4312fc6f8f3322b489cbf24f2ea361b44c2bd8fa2c6dcb0"},
    {"70617373776f7264", "73616c74", "", 2, 32,
     "fee723a2bc966e11dffb66133f4e8df577383c78ade30e3298edbd3e54ed85b7"},
    {"70617373776f7264", "73616c74", "", 4096, 32,
     "b6e8f2074c87432b78f62e5ced980fdff89e86af2f693dab1638e2b3683045dd"},
    {"70617373776f726450415353574f524470617373776f7264",
     "73616c7453414c5473616c7453414c5473616c7453414c5473616c7453414c5473616c74", "", 4096, 40,
     "3b6282ac8519f059e465abff0ea37b0dbfe6c672a76e6b805312d53900db630732ccc1a88fa5512a"},
    {"7061737300776f7264", "7361006c74", "", 4096, 16, "5f936b2e356f06e2bb3932165821261c"},
    {"0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "000102030405060708090a0b0c",
     "f0f1f2f3f4f5f6f7f8f9", 0, 42,
     "c69fe91b7aaee2dd5718d72dcaee0cce93f1b8e41f792da51261b6a517e68b36ed2c595572b01dfa359b"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b"
     "2c2d2e2f303132333435363738393a3b3c3d3e3f404142434445464748494a4b4c4d4e4f",
     "606162636465666768696a6b6c6d6e6f707172737475767778797a7b7c7d7e7f808182838485868788898a8b"
     "8c8d8e8f909192939495969798999a9b9c9d9e9fa0a1a2a3a4a5a6a7a8a9aaabacadaeaf",
     "b0b1b2b3b4b5b6b7b8b9babbbcbdbebfc0c1c2c3c4c5c6c7c8c9cacbcccdcecfd0d1d2d3d4d5d6d7d8d9dadb"
     "dcdddedfe0e1e2e3e4e5e6e7e8e9eaebecedeeeff0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
     0, 82,
     "c1226236bbdefa7921f9febe27b864f33e449201b436d8844ea53f58170dd6426defbd22ed1f3c5960f35523"
     "e62e3b6c0d657f2c61893436f539013199bfaef25aafd1e7726ede927623a9f5cbb8885c7e5d"},
    {"0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "", "", 0, 42,
     "c8c91a38ae2fb3b023a7c38ce9f0748f28230d59b6b950ba3ba949bf0d713a5774815778801741cb2034"},
};

TEST(KdfSm3KnownAnswers, CrossImplementationValues) {
    for_each_sm3_kernel([] {
        for (const KdfVector& v : kKdfVectors) {
            SCOPED_TRACE(v.output);
            const Bytes in = from_hex(v.password), salt = from_hex(v.salt), info = from_hex(v.info);
            const Bytes out = v.iterations != 0 ? sm3::pbkdf2_sm3(in, salt, v.iterations, v.length)
                                                : sm3::hkdf_sm3(in, salt, info, v.length);
            EXPECT_EQ(to_hex(out), v.output);
        }
    });
}

TEST(Pbkdf2Sm3Differential, PasswordSaltAndLengthBoundariesAgainstOpenSsl) {
    const std::uint32_t iterations[] = {1, 2, 3, 50};
    // Eight lengths against seven salt lengths: every pairing comes up.
    const std::size_t lengths[] = {1, 31, 32, 33, 63, 64, 65, 100};
    std::size_t n = 0;
    for (std::size_t pass_len : kBoundaries)
        for (std::size_t salt_len : kBoundaries) {
            const Bytes pass = random_bytes(pass_len), salt = random_bytes(salt_len);
            const std::uint32_t c = iterations[n % std::size(iterations)];
            const std::size_t len = lengths[n++ % std::size(lengths)];
            ASSERT_EQ(sm3::pbkdf2_sm3(pass, salt, c, len),
                      pelmo::test::openssl_pbkdf2_sm3(pass, salt, c, len))
                << "password " << pass_len << ", salt " << salt_len << ", " << c << " iterations, "
                << len << " bytes";
        }
    // A long password is hashed to a key first; every prefix of the output is the same.
    const Bytes pass = random_bytes(200), salt = random_bytes(16);
    const Bytes long_out = sm3::pbkdf2_sm3(pass, salt, 7, 97);
    EXPECT_EQ(long_out, pelmo::test::openssl_pbkdf2_sm3(pass, salt, 7, 97));
    EXPECT_EQ(sm3::pbkdf2_sm3(pass, salt, 7, 40), Bytes(long_out.begin(), long_out.begin() + 40));
}

TEST(HkdfSm3Differential, IkmSaltInfoAndLengthBoundariesAgainstOpenSsl) {
    // Eight lengths against seven info lengths: every pairing comes up.
    const std::size_t lengths[] = {1, 31, 32, 33, 63, 64, 65, 100};
    std::size_t n = 0;
    for (std::size_t ikm_len : kBoundaries)
        for (std::size_t salt_len : kBoundaries)
            for (std::size_t info_len : kBoundaries) {
                const Bytes ikm = random_bytes(ikm_len), salt = random_bytes(salt_len),
                            info = random_bytes(info_len);
                const std::size_t len = lengths[n++ % std::size(lengths)];
                ASSERT_EQ(sm3::hkdf_sm3(ikm, salt, info, len),
                          pelmo::test::openssl_hkdf_sm3(ikm, salt, info, len))
                    << "ikm " << ikm_len << ", salt " << salt_len << ", info " << info_len << ", "
                    << len << " bytes";
            }
    // The longest output, 255 blocks.
    for (std::size_t side_len : {0u, 65u}) {
        const Bytes ikm = random_bytes(32), side = random_bytes(side_len);
        ASSERT_EQ(sm3::hkdf_sm3(ikm, side, side, 255 * 32),
                  pelmo::test::openssl_hkdf_sm3(ikm, side, side, 255 * 32))
            << side_len;
    }
    // No salt is 32 zero bytes.
    const Bytes ikm = random_bytes(22), info = random_bytes(5);
    EXPECT_EQ(sm3::hkdf_sm3(ikm, {}, info, 50), sm3::hkdf_sm3(ikm, Bytes(32, 0), info, 50));
}

// Calls f, expecting std::invalid_argument with exactly `message`.
template <class F>
void expect_invalid(F f, const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "no exception; expected: " << message;
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(e.what(), message);
    }
}

TEST(KdfSm3Errors, ParametersOutOfRange) {
    expect_invalid([] { (void)sm3::pbkdf2_sm3(as_bytes("p"), as_bytes("s"), 0, 32); },
                   "PBKDF2 iterations must be at least 1, got 0");
    expect_invalid([] { (void)sm3::pbkdf2_sm3(as_bytes("p"), as_bytes("s"), 1, 0); },
                   "PBKDF2 length must be 1..137438953440 bytes (2^32 - 1 blocks of 32), got 0");
    expect_invalid(
        [] { (void)sm3::pbkdf2_sm3(as_bytes("p"), as_bytes("s"), 1, 137438953441ull); },
        "PBKDF2 length must be 1..137438953440 bytes (2^32 - 1 blocks of 32), got 137438953441");
    expect_invalid([] { (void)sm3::hkdf_sm3(as_bytes("k"), {}, {}, 0); },
                   "HKDF length must be 1..8160 bytes (255 blocks of 32), got 0");
    expect_invalid([] { (void)sm3::hkdf_sm3(as_bytes("k"), {}, {}, 255 * 32 + 1); },
                   "HKDF length must be 1..8160 bytes (255 blocks of 32), got 8161");
    EXPECT_EQ(sm3::hkdf_sm3(as_bytes("k"), {}, {}, 255 * 32).size(), 255u * 32);
}

}  // namespace
