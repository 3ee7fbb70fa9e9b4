// SM4-GCM and SM4-CCM against Botan 2 at run time: random keys, nonces, AAD, lengths and tag
// lengths, sealed by one and opened by the other; tampering rejected; bad lengths refused.
#include <pelmo/sm4.hpp>

#include <botan/aead.h>
#include <botan/exceptn.h>
#include <gtest/gtest.h>

#include <string>

#include "support/emulation.hpp"
#include "support/random_input.hpp"

namespace {

using pelmo::Bytes;
using pelmo::ByteView;
using pelmo::test::random_bytes;
using pelmo::test::rng;
namespace sm4 = pelmo::sm4;

std::string botan_name(bool gcm, std::size_t nonce_len, std::size_t tag_len) {
    return gcm ? "SM4/GCM(" + std::to_string(tag_len) + ")"
               : "SM4/CCM(" + std::to_string(tag_len) + "," + std::to_string(15 - nonce_len) + ")";
}

/// Botan's seal, or no value when Botan does not offer that tag length.
std::optional<Bytes> botan_seal(bool gcm, ByteView key, ByteView nonce, ByteView pt, ByteView aad,
                                std::size_t tag_len) {
    std::unique_ptr<Botan::AEAD_Mode> m;
    try {
        m = Botan::AEAD_Mode::create_or_throw(botan_name(gcm, nonce.size(), tag_len),
                                              Botan::ENCRYPTION);
    } catch (const Botan::Exception&) {
        return std::nullopt;
    }
    m->set_key(key.data(), key.size());
    m->set_associated_data(aad.data(), aad.size());
    m->start(nonce.data(), nonce.size());
    Botan::secure_vector<std::uint8_t> buf(pt.begin(), pt.end());
    m->finish(buf);
    return Bytes(buf.begin(), buf.end());
}

/// Botan's open: the plaintext, or no value when the tag fails.
std::optional<Bytes> botan_open(bool gcm, ByteView key, ByteView nonce, ByteView sealed,
                                ByteView aad, std::size_t tag_len) {
    const auto m = Botan::AEAD_Mode::create_or_throw(botan_name(gcm, nonce.size(), tag_len),
                                                     Botan::DECRYPTION);
    m->set_key(key.data(), key.size());
    m->set_associated_data(aad.data(), aad.size());
    m->start(nonce.data(), nonce.size());
    Botan::secure_vector<std::uint8_t> buf(sealed.begin(), sealed.end());
    try {
        m->finish(buf);
    } catch (const Botan::Invalid_Authentication_Tag&) {
        return std::nullopt;
    }
    return Bytes(buf.begin(), buf.end());
}

std::size_t pick(std::initializer_list<std::size_t> options) {
    return *(options.begin() + rng()() % options.size());
}

TEST(BotanSm4Aead, RandomMessagesAgreeBothWays) {
    const int rounds = pelmo::test::iterations(300, 30);
    int compared = 0;
    for (int i = 0; i < rounds; ++i) {
        const bool gcm = i % 2 == 0;
        const std::size_t nonce_len = gcm ? pick({1, 8, 12, 12, 12, 16, 33}) : 7 + rng()() % 7;
        const std::size_t tag_len =
            gcm ? pick({4, 8, 12, 13, 14, 15, 16}) : pick({4, 6, 8, 10, 12, 14, 16});
        const std::size_t len = pick({0, 1, 15, 16, 17, 255, 256, 1000, 4096 + 3});
        const Bytes key = random_bytes(16), nonce = random_bytes(nonce_len),
                    aad = random_bytes(pick({0, 1, 16, 20, 300})), pt = random_bytes(len);
        SCOPED_TRACE(botan_name(gcm, nonce_len, tag_len) + " len " + std::to_string(len));
        const Bytes ours = gcm ? sm4::gcm_seal(key, nonce, pt, aad, tag_len)
                               : sm4::ccm_seal(key, nonce, pt, aad, tag_len);
        const auto theirs = botan_seal(gcm, key, nonce, pt, aad, tag_len);
        if (!theirs) continue;  // a tag length Botan does not offer
        ++compared;
        ASSERT_EQ(ours, *theirs);
        EXPECT_EQ(botan_open(gcm, key, nonce, ours, aad, tag_len), pt);
        const auto opened = gcm ? sm4::gcm_open(key, nonce, *theirs, aad, tag_len)
                                : sm4::ccm_open(key, nonce, *theirs, aad, tag_len);
        EXPECT_EQ(opened, pt);
    }
    EXPECT_GT(compared, rounds / 2);
}

TEST(BotanSm4Aead, TamperedTagCiphertextOrAadRejectedByBoth) {
    for (const bool gcm : {true, false}) {
        const Bytes key = random_bytes(16), nonce = random_bytes(12), aad = random_bytes(24),
                    pt = random_bytes(77);
        const Bytes sealed =
            gcm ? sm4::gcm_seal(key, nonce, pt, aad, 16) : sm4::ccm_seal(key, nonce, pt, aad, 16);
        const auto open = [&](ByteView s, ByteView a) {
            return gcm ? sm4::gcm_open(key, nonce, s, a, 16) : sm4::ccm_open(key, nonce, s, a, 16);
        };
        for (std::size_t at : {std::size_t{0}, pt.size() - 1, pt.size(), sealed.size() - 1}) {
            Bytes bad = sealed;
            bad[at] ^= 0x10;
            EXPECT_FALSE(open(bad, aad)) << at;
            EXPECT_FALSE(botan_open(gcm, key, nonce, bad, aad, 16)) << at;
        }
        Bytes bad_aad = aad;
        bad_aad.back() ^= 1;
        EXPECT_FALSE(open(sealed, bad_aad));
        EXPECT_FALSE(botan_open(gcm, key, nonce, sealed, bad_aad, 16));
    }
}

TEST(BotanSm4Aead, InvalidLengthsAreInvalidArgument) {
    const Bytes k(16), pt(5);
    const auto message = [](auto f) -> std::string {
        try {
            f();
        } catch (const std::invalid_argument& e) {
            return e.what();
        }
        return "no std::invalid_argument";
    };
    EXPECT_EQ(message([&] { sm4::gcm_seal(Bytes(8), Bytes(12), pt); }),
              "SM4 key must be 16 bytes, got 8");
    EXPECT_EQ(message([&] { sm4::ccm_seal(k, Bytes(12), pt, {}, 9); }),
              "CCM tag length must be 4, 6, 8, 10, 12, 14 or 16, got 9");
    EXPECT_EQ(message([&] { sm4::gcm_open(k, Bytes(12), Bytes(30), {}, 2); }),
              "GCM tag length must be 4, 8 or 12..16, got 2");
    EXPECT_EQ(message([&] { sm4::ccm_open(k, Bytes(14), Bytes(30)); }),
              "CCM nonce must be 7..13 bytes, got 14");
    // Botan refuses what pelmo refuses.
    EXPECT_THROW(Botan::AEAD_Mode::create_or_throw("SM4/CCM(9,3)", Botan::ENCRYPTION),
                 Botan::Exception);
}

}  // namespace
