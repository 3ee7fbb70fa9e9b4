// CryptSM4's interface: key schedule and block rules, padding in both modes, the
// direction rules, and every error with its exception type.
#include <pelmo/func.hpp>
#include <pelmo/sm4.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <new>
#include <stdexcept>

#include "common/hex.hpp"
#include "openssl_sm4.hpp"
#include "sm4/constants.hpp"
#include "support/random_input.hpp"

namespace {

using pelmo::Bytes;
using pelmo::ByteView;
using pelmo::detail::from_hex;
using pelmo::detail::to_hex;
using pelmo::test::random_bytes;
namespace sm4 = pelmo::sm4;

const Bytes kKey = from_hex("0123456789abcdeffedcba9876543210");
const Bytes kIv = from_hex("000102030405060708090a0b0c0d0e0f");

sm4::CryptSM4 engine(int direction, int padding, const Bytes& key = kKey) {
    sm4::CryptSM4 c(sm4::SM4_ENCRYPT, padding);
    c.set_key(key, direction);
    return c;
}

TEST(CryptSm4Key, DefaultsAndZeroRoundKeys) {
    sm4::CryptSM4 c;
    EXPECT_EQ(c.mode, sm4::SM4_ENCRYPT);
    EXPECT_EQ(c.padding_mode, sm4::PKCS7);
    EXPECT_TRUE(std::all_of(c.sk.begin(), c.sk.end(), [](std::uint32_t w) { return w == 0; }));
    // With all-zero round keys it still encrypts, and pads with PKCS#7.
    EXPECT_EQ(c.crypt_ecb(Bytes(16, 0)).size(), 32u);
    const sm4::CryptSM4 d(sm4::SM4_DECRYPT, sm4::ZERO);
    EXPECT_EQ(d.mode, sm4::SM4_DECRYPT);
    EXPECT_EQ(d.padding_mode, sm4::ZERO);
}

TEST(CryptSm4Key, RoundKeysAreWipedOnDestructionAndTakenByMoves) {
    using RoundKeys = std::array<std::uint32_t, 32>;
    const RoundKeys zero{};
    const sm4::CryptSM4 original = engine(sm4::SM4_DECRYPT, sm4::ZERO);
    ASSERT_NE(original.sk, zero);
    // Copies share the round keys; moves take them and leave zeros behind.
    sm4::CryptSM4 copy(original);
    EXPECT_EQ(copy.sk, original.sk);
    EXPECT_EQ(copy.padding_mode, sm4::ZERO);
    sm4::CryptSM4 moved(std::move(copy));
    EXPECT_EQ(moved.sk, original.sk);
    EXPECT_EQ(copy.sk, zero);  // NOLINT(bugprone-use-after-move): the move wipes
    sm4::CryptSM4 assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned.sk, original.sk);
    EXPECT_EQ(assigned.mode, sm4::SM4_DECRYPT);
    EXPECT_EQ(moved.sk, zero);  // NOLINT(bugprone-use-after-move)
    copy = assigned;
    EXPECT_EQ(copy.sk, original.sk);

    // An engine destroyed in place leaves zeros where its round keys were.
    alignas(sm4::CryptSM4) unsigned char storage[sizeof(sm4::CryptSM4)];
    auto* c = new (storage) sm4::CryptSM4(original);
    const auto* where = reinterpret_cast<const unsigned char*>(c->sk.data());
    c->~CryptSM4();
    EXPECT_TRUE(
        std::all_of(where, where + sizeof(RoundKeys), [](unsigned char b) { return b == 0; }));
}

TEST(CryptSm4Key, DecryptionKeysAreTheEncryptionKeysReversed) {
    sm4::CryptSM4 c;
    c.set_key(kKey, sm4::SM4_ENCRYPT);
    const auto enc = c.sk;
    c.set_key(kKey, sm4::SM4_DECRYPT);
    auto rev = enc;
    std::reverse(rev.begin(), rev.end());
    EXPECT_EQ(c.sk, rev);
    EXPECT_EQ(c.mode, sm4::SM4_DECRYPT);
    // Again: the same order, not reversed twice.
    c.set_key(kKey, sm4::SM4_DECRYPT);
    EXPECT_EQ(c.sk, rev);
    // Any other direction value keeps the encryption order and is stored as given.
    c.set_key(kKey, 2);
    EXPECT_EQ(c.sk, enc);
    EXPECT_EQ(c.mode, 2);
    c.set_key(kKey, -7);
    EXPECT_EQ(c.sk, enc);
    EXPECT_EQ(c.mode, -7);
}

TEST(CryptSm4Key, OnlyTheFirstSixteenBytesCount) {
    Bytes long_key = kKey;
    long_key.push_back(0x99);
    sm4::CryptSM4 a, b;
    a.set_key(kKey, sm4::SM4_ENCRYPT);
    b.set_key(long_key, sm4::SM4_ENCRYPT);
    EXPECT_EQ(a.sk, b.sk);
    Bytes block = kKey;
    block.insert(block.end(), {1, 2, 3, 4});
    EXPECT_EQ(to_hex(a.one_round(a.sk, block)), "681edf34d206965e86b3e94f536e4246");
}

TEST(CryptSm4Key, ShortKeyThrowsAndLeavesTheEngineAlone) {
    sm4::CryptSM4 c(sm4::SM4_ENCRYPT, sm4::PKCS7);
    c.set_key(kKey, sm4::SM4_ENCRYPT);
    const auto before = c.sk;
    EXPECT_THROW(c.set_key(Bytes(15, 1), sm4::SM4_DECRYPT), std::out_of_range);
    EXPECT_THROW(c.set_key({}, sm4::SM4_DECRYPT), std::out_of_range);
    EXPECT_EQ(c.sk, before);
    EXPECT_EQ(c.mode, sm4::SM4_ENCRYPT);
}

TEST(CryptSm4Block, OneRoundRulesAndHelpers) {
    sm4::CryptSM4 c;
    c.set_key(kKey, sm4::SM4_ENCRYPT);
    const Bytes in = kKey;
    const auto sk = c.sk;
    const Bytes a = c.one_round(c.sk, in), b = c.one_round(c.sk, in);
    EXPECT_EQ(a, b);
    EXPECT_EQ(in, kKey);
    EXPECT_EQ(c.sk, sk);
    EXPECT_THROW(c.one_round(c.sk, Bytes(15)), std::out_of_range);
    EXPECT_THROW(c.one_round(std::span<const std::uint32_t>(c.sk.data(), 31), in),
                 std::out_of_range);

    // _round_key is T' and _f is F, written out from the standard's definitions.
    const auto tau = [](std::uint32_t x) {
        std::uint32_t r = 0;
        for (int s = 0; s < 32; s += 8)
            r |= std::uint32_t{sm4::SM4_BOXES_TABLE[(x >> s) & 0xff]} << s;
        return r;
    };
    const auto rotl = [](std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
    for (int i = 0; i < 200; ++i) {
        const auto w = static_cast<std::uint32_t>(pelmo::test::rng()());
        const std::uint32_t t = tau(w);
        EXPECT_EQ(sm4::CryptSM4::_round_key(w), t ^ rotl(t, 13) ^ rotl(t, 23));
        EXPECT_EQ(sm4::CryptSM4::_f(5, w, 0, 0, 0),
                  5u ^ t ^ rotl(t, 2) ^ rotl(t, 10) ^ rotl(t, 18) ^ rotl(t, 24));
        EXPECT_EQ(sm4::CryptSM4::_f(0, 1, 2, w, 4), sm4::CryptSM4::_f(0, w ^ 7, 0, 0, 0));
    }
    // The key schedule from _round_key, as the standard writes it.
    std::uint32_t k[36];
    for (int i = 0; i < 4; ++i)
        k[i] = pelmo::func::get_uint32_be(ByteView(kKey).subspan(4 * i)) ^ sm4::SM4_FK[i];
    for (int i = 0; i < 32; ++i) {
        k[i + 4] =
            k[i] ^ sm4::CryptSM4::_round_key(k[i + 1] ^ k[i + 2] ^ k[i + 3] ^ sm4::SM4_CK[i]);
        EXPECT_EQ(c.sk[i], k[i + 4]);
    }
}

TEST(CryptSm4Modes, SizesWithPadding) {
    auto c = engine(sm4::SM4_ENCRYPT, sm4::PKCS7);
    EXPECT_EQ(c.crypt_ecb(Bytes(16, 7)).size(), 32u);
    EXPECT_EQ(c.crypt_ecb({}).size(), 16u);
    EXPECT_EQ(c.crypt_cbc(kIv, {}).size(), 16u);
    auto n = engine(sm4::SM4_ENCRYPT, sm4::NoPadding);
    EXPECT_EQ(n.crypt_ecb(Bytes(48, 7)).size(), 48u);
    EXPECT_TRUE(n.crypt_ecb({}).empty());
    EXPECT_TRUE(n.crypt_cbc(kIv, {}).empty());
    auto nd = engine(sm4::SM4_DECRYPT, sm4::NoPadding);
    EXPECT_TRUE(nd.crypt_ecb({}).empty());
    EXPECT_TRUE(nd.crypt_cbc(kIv, {}).empty());
}

TEST(CryptSm4Modes, EcbRepeatsBlocksCbcDoesNot) {
    auto c = engine(sm4::SM4_ENCRYPT, sm4::NoPadding);
    const Bytes two(32, 0x42);
    const Bytes e = c.crypt_ecb(two), b = c.crypt_cbc(kIv, two);
    EXPECT_TRUE(std::equal(e.begin(), e.begin() + 16, e.begin() + 16));
    EXPECT_FALSE(std::equal(b.begin(), b.begin() + 16, b.begin() + 16));
    // Same IV, same input: same output; the IV is untouched and only its first 16 bytes count.
    Bytes iv = kIv;
    EXPECT_EQ(c.crypt_cbc(iv, two), b);
    EXPECT_EQ(iv, kIv);
    iv.push_back(0xee);
    EXPECT_EQ(c.crypt_cbc(iv, two), b);
}

// Round trips under every padding mode, in both modes, for lengths 0..40, with the
// padded lengths each scheme defines.
TEST(CryptSm4Padding, RoundTripsUnderEveryMode) {
    for (int padding : {sm4::ZERO, sm4::ISO9797M2, sm4::PKCS7, sm4::PBOC}) {
        for (std::size_t len = 0; len <= 40; ++len) {
            SCOPED_TRACE("padding " + std::to_string(padding) + " length " + std::to_string(len));
            Bytes msg = random_bytes(len);
            if (!msg.empty()) msg.back() |= 1;  // not 0x00 (ZERO) and not 0x80 (PBOC)
            const auto enc = engine(sm4::SM4_ENCRYPT, padding);
            const auto dec = engine(sm4::SM4_DECRYPT, padding);
            for (bool cbc : {false, true}) {
                const Bytes ct = cbc ? enc.crypt_cbc(kIv, msg) : enc.crypt_ecb(msg);
                std::size_t expect = (len / 16 + 1) * 16;
                if (padding == sm4::PBOC && len % 16 == 0) expect = len;
                ASSERT_EQ(ct.size(), expect);
                // What the padding functions would have produced, encrypted with no padding.
                Bytes padded;
                switch (padding) {
                    case sm4::ZERO:
                        padded = pelmo::func::zero_padding(msg);
                        break;
                    case sm4::ISO9797M2:
                        padded = pelmo::func::iso9797m2_padding(msg);
                        break;
                    case sm4::PKCS7:
                        padded = pelmo::func::pkcs7_padding(msg);
                        break;
                    default:
                        padded = pelmo::func::pboc_padding(msg);
                        break;
                }
                const auto raw = engine(sm4::SM4_ENCRYPT, sm4::NoPadding);
                ASSERT_EQ(ct, cbc ? raw.crypt_cbc(kIv, padded) : raw.crypt_ecb(padded));
                // PBOC leaves whole blocks unpadded, so beyond one block their unpadding
                // looks for a marker in the message itself (and none is empty).
                if (padding == sm4::PBOC && len % 16 == 0 && len != 16) continue;
                const Bytes back = cbc ? dec.crypt_cbc(kIv, ct) : dec.crypt_ecb(ct);
                // PBOC takes a single block as unpadded, so short messages come back padded.
                EXPECT_EQ(back, padding == sm4::PBOC && len < 16 ? padded : msg);
            }
        }
    }
}

TEST(CryptSm4Padding, LossyCasesBehaveAsTheSchemesDefine) {
    // ZERO: trailing zeros of the message go with the padding (at most 16 are removed).
    const auto ze = engine(sm4::SM4_ENCRYPT, sm4::ZERO), zd = engine(sm4::SM4_DECRYPT, sm4::ZERO);
    EXPECT_EQ(zd.crypt_cbc(kIv, ze.crypt_cbc(kIv, Bytes{1, 2, 0, 0})), (Bytes{1, 2}));
    Bytes zeros(20, 0);
    zeros[0] = 9;
    // 20 bytes + 12 zeros of padding: the last 16 zeros are removed, 16 bytes remain.
    EXPECT_EQ(zd.crypt_ecb(ze.crypt_ecb(zeros)).size(), 16u);
    // PBOC: a whole number of blocks is not padded; a 16-byte message comes back as is,
    // a longer one loses everything from its last 0x80.
    const auto pe = engine(sm4::SM4_ENCRYPT, sm4::PBOC), pd = engine(sm4::SM4_DECRYPT, sm4::PBOC);
    Bytes m32(32, 0x11);
    m32[29] = 0x80;
    EXPECT_EQ(pd.crypt_ecb(pe.crypt_ecb(m32)), Bytes(m32.begin(), m32.begin() + 29));
    Bytes m16(16, 0x80);
    EXPECT_EQ(pd.crypt_cbc(kIv, pe.crypt_cbc(kIv, m16)), m16);
    EXPECT_THROW(pd.crypt_ecb(pe.crypt_ecb(Bytes(32, 0x11))), std::out_of_range);  // no marker
    // ISO9797M2 survives everything, including a message ending in 0x80.
    const auto ie = engine(sm4::SM4_ENCRYPT, sm4::ISO9797M2);
    const auto id = engine(sm4::SM4_DECRYPT, sm4::ISO9797M2);
    EXPECT_EQ(id.crypt_cbc(kIv, ie.crypt_cbc(kIv, m16)), m16);
    EXPECT_EQ(id.crypt_ecb(ie.crypt_ecb({})), Bytes{});
}

TEST(CryptSm4Direction, ModeTwoEcbNeitherPadsNorUnpadsCbcDecrypts) {
    sm4::CryptSM4 c(sm4::SM4_ENCRYPT, sm4::PKCS7);
    c.set_key(kKey, 2);
    const auto plain = engine(sm4::SM4_ENCRYPT, sm4::NoPadding);
    const Bytes msg = random_bytes(32);
    // ECB: encryption-order keys, no padding added, nothing removed.
    EXPECT_EQ(c.crypt_ecb(msg), plain.crypt_ecb(msg));
    EXPECT_THROW(c.crypt_ecb(Bytes(17)), std::out_of_range);
    // CBC: the decryption path with PKCS#7 unpadding, where "decrypting" applies the
    // encryption-order keys: P = E(C) ^ IV.
    const Bytes c0(16, 0x33);
    const Bytes e0 = plain.crypt_ecb(c0);
    EXPECT_EQ(c.crypt_cbc(pelmo::func::xor_(e0, Bytes(16, 0x10)), c0), Bytes{});
    EXPECT_EQ(c.crypt_cbc(pelmo::func::xor_(e0, Bytes(16, 0x01)), c0), Bytes(15, 0x01));
    EXPECT_THROW(c.crypt_cbc(e0, c0), std::invalid_argument);  // P = 0: bad padding
}

TEST(CryptSm4Direction, LastSetKeyDecides) {
    sm4::CryptSM4 c(sm4::SM4_DECRYPT, sm4::PKCS7);
    c.set_key(kKey, sm4::SM4_ENCRYPT);
    const Bytes ct = c.crypt_ecb(Bytes{1, 2, 3});
    EXPECT_EQ(ct.size(), 16u);
    c.set_key(kKey, sm4::SM4_DECRYPT);
    EXPECT_EQ(c.crypt_ecb(ct), (Bytes{1, 2, 3}));
}

TEST(CryptSm4Errors, EveryErrorWithItsType) {
    const auto enc = engine(sm4::SM4_ENCRYPT, sm4::NoPadding);
    const auto dec = engine(sm4::SM4_DECRYPT, sm4::PKCS7);
    // Partial blocks.
    EXPECT_THROW(enc.crypt_ecb(Bytes(17)), std::out_of_range);
    EXPECT_THROW(enc.crypt_cbc(kIv, Bytes(1)), std::out_of_range);
    EXPECT_THROW(dec.crypt_ecb(Bytes(31)), std::out_of_range);
    EXPECT_THROW(dec.crypt_cbc(kIv, Bytes(15)), std::out_of_range);
    sm4::CryptSM4 odd(sm4::SM4_ENCRYPT, 9);  // an unknown padding value pads nothing
    odd.set_key(kKey, sm4::SM4_ENCRYPT);
    EXPECT_THROW(odd.crypt_ecb(Bytes(3)), std::out_of_range);
    EXPECT_EQ(odd.crypt_ecb(Bytes(16)).size(), 16u);
    // Short IV, rejected up front in both directions.
    EXPECT_THROW(enc.crypt_cbc(Bytes(15), Bytes(16)), std::out_of_range);
    EXPECT_THROW(dec.crypt_cbc(Bytes(), Bytes(16)), std::out_of_range);
    // Unpadding: nothing to unpad, and malformed padding.
    EXPECT_THROW(dec.crypt_ecb({}), std::out_of_range);
    EXPECT_THROW(dec.crypt_cbc(kIv, {}), std::out_of_range);
    const auto raw = engine(sm4::SM4_ENCRYPT, sm4::NoPadding);
    for (const Bytes& block : {Bytes(16, 0), Bytes(16, 17),
                               Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 2, 3}}) {
        EXPECT_THROW(dec.crypt_ecb(raw.crypt_ecb(block)), std::invalid_argument);
        EXPECT_THROW(dec.crypt_cbc(kIv, raw.crypt_cbc(kIv, block)), std::invalid_argument);
    }
    for (int padding : {sm4::ISO9797M2, sm4::PBOC}) {
        const auto d = engine(sm4::SM4_DECRYPT, padding);
        try {
            d.crypt_ecb({});
            ADD_FAILURE() << "no exception";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "Data length error!");
        }
    }
    const auto zd = engine(sm4::SM4_DECRYPT, sm4::ZERO);
    EXPECT_THROW(zd.crypt_cbc(kIv, {}), std::out_of_range);
    // A ciphertext under another key fails the PKCS#7 check (almost always).
    const auto other = engine(sm4::SM4_DECRYPT, sm4::PKCS7, Bytes(16, 0x5a));
    const Bytes ct = engine(sm4::SM4_ENCRYPT, sm4::PKCS7).crypt_cbc(kIv, Bytes(40, 'a'));
    EXPECT_THROW(other.crypt_cbc(kIv, ct), std::invalid_argument);
}

TEST(CryptSm4Errors, MessagesAreSpecific) {
    const auto enc = engine(sm4::SM4_ENCRYPT, sm4::NoPadding);
    try {
        enc.crypt_ecb(Bytes(17));
        ADD_FAILURE();
    } catch (const std::out_of_range& e) {
        EXPECT_NE(std::string(e.what()).find("17 bytes"), std::string::npos) << e.what();
    }
    try {
        sm4::CryptSM4 c;
        c.set_key(Bytes(3), 0);
        ADD_FAILURE();
    } catch (const std::out_of_range& e) {
        EXPECT_NE(std::string(e.what()).find("16-byte key"), std::string::npos) << e.what();
    }
}

TEST(CryptSm4Padding, PkcsDecryptionMatchesOpenSslOnTamperedPadding) {
    // OpenSSL rejects exactly the final blocks pelmo rejects.
    const Bytes key = random_bytes(16);
    const auto raw = engine(sm4::SM4_ENCRYPT, sm4::NoPadding, key);
    const auto dec = engine(sm4::SM4_DECRYPT, sm4::PKCS7, key);
    for (int i = 0; i < 300; ++i) {
        Bytes block = random_bytes(16);
        const int k = i % 18;  // 0, 1..16 valid-looking, 17
        for (int j = 0; j < std::min(k, 16); ++j) block[15 - j] = static_cast<std::uint8_t>(k);
        if (i % 5 == 0 && k > 1 && k <= 16) block[16 - k] ^= 1;  // break one padding byte
        const Bytes ct = raw.crypt_ecb(block);
        bool ossl_ok = true;
        Bytes expect;
        try {
            expect = pelmo::test::openssl_sm4(false, false, true, key, {}, ct);
        } catch (const std::runtime_error&) {
            ossl_ok = false;
        }
        if (ossl_ok) {
            EXPECT_EQ(dec.crypt_ecb(ct), expect) << i;
        } else {
            EXPECT_THROW(dec.crypt_ecb(ct), std::invalid_argument) << i;
        }
    }
}

}  // namespace
