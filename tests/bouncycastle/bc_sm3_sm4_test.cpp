// SM3, HMAC-SM3, PBKDF2-SM3, HKDF-SM3 and SM4 in ECB, CBC (PKCS#7), CTR, CFB-128, OFB, GCM
// and CCM against BouncyCastle's lightweight API: random inputs around the block and length
// boundaries; for the ciphers, each side's output taken in by the other.
#include <pelmo/sm3.hpp>
#include <pelmo/sm4.hpp>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <tuple>

#include "bc_peer.hpp"
#include "support/random_input.hpp"

namespace {

using pelmo::Bytes;
using pelmo::test::random_bytes;
using pelmo::test::bc::BcTest;
using pelmo::test::bc::bytes;
using pelmo::test::bc::hex;
namespace sm3 = pelmo::sm3;
namespace sm4 = pelmo::sm4;

const std::size_t kLengths[] = {0, 1, 15, 16, 17, 31, 32, 55, 56, 63, 64, 65, 127, 128, 129, 1000};

class BcSymmetric : public BcTest {};

TEST_F(BcSymmetric, Sm3) {
    for (const std::size_t n : kLengths) {
        const Bytes m = random_bytes(n);
        EXPECT_EQ(bc().call1({"sm3", hex(m)}), sm3::sm3_hash(m)) << n << " bytes";
    }
}

TEST_F(BcSymmetric, HmacSm3) {
    // Keys shorter than, as long as and longer than a block (which is then hashed).
    for (const std::size_t key_len : {0, 1, 16, 32, 63, 64, 65, 200})
        for (const std::size_t n : {0, 1, 64, 129}) {
            const Bytes key = random_bytes(key_len), m = random_bytes(n);
            const auto mac = sm3::hmac_sm3(key, m);
            EXPECT_EQ(bc().call1({"hmac", hex(key), hex(m)}), hex(mac))
                << key_len << "-byte key, " << n << " bytes";
        }
}

TEST_F(BcSymmetric, Pbkdf2Sm3) {
    const std::tuple<std::size_t, std::size_t, std::uint32_t, std::size_t> cases[] = {
        {8, 16, 1, 32}, {0, 0, 1, 1},    {1, 8, 2, 31},     {20, 16, 1000, 33},
        {70, 3, 7, 64}, {5, 80, 3, 100}, {16, 16, 2048, 16}};
    for (const auto& [pw_len, salt_len, iterations, length] : cases) {
        const Bytes pw = random_bytes(pw_len), salt = random_bytes(salt_len);
        EXPECT_EQ(bc().call1({"pbkdf2", hex(pw), hex(salt), std::to_string(iterations),
                              std::to_string(length)}),
                  hex(sm3::pbkdf2_sm3(pw, salt, iterations, length)))
            << pw_len << " " << salt_len << " " << iterations << " " << length;
    }
}

TEST_F(BcSymmetric, HkdfSm3) {
    // An empty salt stands for 32 zero bytes on both sides; lengths up to the 255-block limit.
    const std::tuple<std::size_t, std::size_t, std::size_t, std::size_t> cases[] = {
        {22, 13, 10, 42}, {32, 0, 0, 32}, {1, 64, 5, 1},          {80, 80, 80, 82},
        {16, 0, 20, 33},  {0, 8, 0, 100}, {32, 32, 32, 255 * 32}, {65, 1, 1, 64}};
    for (const auto& [ikm_len, salt_len, info_len, length] : cases) {
        const Bytes ikm = random_bytes(ikm_len), salt = random_bytes(salt_len),
                    info = random_bytes(info_len);
        EXPECT_EQ(bc().call1({"hkdf", hex(ikm), hex(salt), hex(info), std::to_string(length)}),
                  hex(sm3::hkdf_sm3(ikm, salt, info, length)))
            << ikm_len << " " << salt_len << " " << info_len << " " << length;
    }
}

// pelmo's ECB or CBC with PKCS#7 padding.
Bytes pelmo_padded(bool cbc, int direction, const Bytes& key, const Bytes& iv, const Bytes& in) {
    sm4::CryptSM4 c(direction, sm4::PKCS7);
    c.set_key(key, direction);
    return cbc ? c.crypt_cbc(iv, in) : c.crypt_ecb(in);
}

TEST_F(BcSymmetric, Sm4EcbAndCbcWithPkcs7) {
    for (const bool cbc : {false, true})
        for (const std::size_t n : kLengths) {
            SCOPED_TRACE(std::string(cbc ? "CBC, " : "ECB, ") + std::to_string(n) + " bytes");
            const Bytes key = random_bytes(16), iv = random_bytes(16), m = random_bytes(n);
            const Bytes ours = pelmo_padded(cbc, sm4::SM4_ENCRYPT, key, iv, m);
            const Bytes theirs = bytes(cbc ? bc().call1({"cbc", "enc", hex(key), hex(iv), hex(m)})
                                           : bc().call1({"ecb", "enc", hex(key), hex(m)}));
            EXPECT_EQ(ours, theirs);
            EXPECT_EQ(pelmo_padded(cbc, sm4::SM4_DECRYPT, key, iv, theirs), m);
            EXPECT_EQ(bytes(cbc ? bc().call1({"cbc", "dec", hex(key), hex(iv), hex(ours)})
                                : bc().call1({"ecb", "dec", hex(key), hex(ours)})),
                      m);
        }
}

TEST_F(BcSymmetric, Sm4CtrCfbOfb) {
    // Counter blocks whose increment carries across the low 64 bits and wraps all 128.
    Bytes carry64(16, 0xff), wrap128(16, 0xff);
    carry64[7] = 0x12;
    wrap128[15] = 0xfe;
    for (const std::size_t n : kLengths) {
        SCOPED_TRACE(std::to_string(n) + " bytes");
        const Bytes key = random_bytes(16), m = random_bytes(n);
        for (const Bytes& iv : {random_bytes(16), carry64, wrap128}) {
            const Bytes ctr = sm4::ctr_crypt(key, iv, m);
            EXPECT_EQ(bytes(bc().call1({"ctr", hex(key), hex(iv), hex(m)})), ctr);
            EXPECT_EQ(sm4::ctr_crypt(key, iv, ctr), m);
        }
        const Bytes iv = random_bytes(16);
        const Bytes cfb = sm4::cfb_encrypt(key, iv, m);
        EXPECT_EQ(bytes(bc().call1({"cfb", "enc", hex(key), hex(iv), hex(m)})), cfb);
        EXPECT_EQ(bytes(bc().call1({"cfb", "dec", hex(key), hex(iv), hex(cfb)})), m);
        EXPECT_EQ(sm4::cfb_decrypt(key, iv, cfb), m);
        const Bytes ofb = sm4::ofb_crypt(key, iv, m);
        EXPECT_EQ(bytes(bc().call1({"ofb", hex(key), hex(iv), hex(m)})), ofb);
    }
}

struct AeadCase {
    std::size_t nonce, tag, aad, text;
};

// Sealed by each side, opened by the other; a flipped tag bit refused by BouncyCastle.
void check_aead(pelmo::test::bc::Peer& peer, bool gcm, const AeadCase& c) {
    const std::string name = gcm ? "gcm" : "ccm";
    SCOPED_TRACE(name + ": nonce " + std::to_string(c.nonce) + ", tag " + std::to_string(c.tag) +
                 ", aad " + std::to_string(c.aad) + ", text " + std::to_string(c.text));
    const Bytes key = random_bytes(16), nonce = random_bytes(c.nonce), aad = random_bytes(c.aad),
                m = random_bytes(c.text);
    const std::string tag = std::to_string(c.tag);
    const Bytes ours =
        gcm ? sm4::gcm_seal(key, nonce, m, aad, c.tag) : sm4::ccm_seal(key, nonce, m, aad, c.tag);
    const Bytes theirs =
        bytes(peer.call1({name, "seal", hex(key), hex(nonce), hex(aad), tag, hex(m)}));
    EXPECT_EQ(ours, theirs);
    const auto opened = gcm ? sm4::gcm_open(key, nonce, theirs, aad, c.tag)
                            : sm4::ccm_open(key, nonce, theirs, aad, c.tag);
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(*opened, m);
    EXPECT_EQ(bytes(peer.call1({name, "open", hex(key), hex(nonce), hex(aad), tag, hex(ours)})), m);
    Bytes forged = ours;
    forged.back() ^= 0x01;
    EXPECT_THROW(peer.call({name, "open", hex(key), hex(nonce), hex(aad), tag, hex(forged)}),
                 std::runtime_error);
}

TEST_F(BcSymmetric, Sm4Gcm) {
    // Every tag length both accept; 12-byte nonces and hashed ones of other lengths.
    const AeadCase cases[] = {
        {12, 16, 0, 0},  {12, 16, 16, 64}, {12, 4, 1, 1},    {12, 8, 20, 17},  {12, 12, 0, 100},
        {12, 13, 5, 31}, {12, 14, 33, 16}, {12, 15, 64, 15}, {1, 16, 3, 40},   {8, 16, 0, 33},
        {16, 12, 17, 5}, {13, 16, 8, 129}, {60, 8, 60, 60},  {128, 16, 1, 200}};
    for (const AeadCase& c : cases) check_aead(bc(), true, c);
    // BouncyCastle also makes 5- to 7- and 9- to 11-byte tags, which pelmo, keeping to the
    // lengths NIST allows, refuses.
    const Bytes key = random_bytes(16), nonce = random_bytes(12), m = random_bytes(20);
    for (const std::size_t tag : {5, 6, 7, 9, 10, 11}) {
        const std::string sealed =
            bc().call1({"gcm", "seal", hex(key), hex(nonce), "-", std::to_string(tag), hex(m)});
        EXPECT_EQ(bytes(sealed).size(), m.size() + tag);
        EXPECT_THROW(sm4::gcm_seal(key, nonce, m, {}, tag), std::invalid_argument);
    }
}

TEST_F(BcSymmetric, Sm4Ccm) {
    // Every nonce length (so every length-field size) and every tag length.
    const AeadCase cases[] = {
        {7, 16, 0, 0},    {8, 4, 1, 1},       {9, 6, 16, 16}, {10, 8, 17, 31},    {11, 10, 0, 64},
        {12, 12, 24, 65}, {13, 14, 300, 100}, {13, 16, 0, 1}, {12, 16, 65280, 3}, {7, 4, 14, 200}};
    for (const AeadCase& c : cases) check_aead(bc(), false, c);
}

}  // namespace
