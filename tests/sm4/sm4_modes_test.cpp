// SM4 in CTR, CFB-128, OFB, GCM and CCM: the published examples and OpenSSL (stream modes) or a
// textbook construction on OpenSSL's SM4 block (GCM, CCM) under every SM4 and GHASH kernel;
// counter wraps, streaming against one-shot, tampering and bad parameters.
#include <pelmo/sm4.hpp>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "aead_reference.hpp"
#include "common/hex.hpp"
#include "openssl_sm4.hpp"
#include "sm4/ghash.hpp"
#include "sm4/stream.hpp"
#include "sm4_kernel_loop.hpp"
#include "support/emulation.hpp"
#include "support/random_input.hpp"
#include "support/vectors.hpp"

namespace {

using pelmo::Bytes;
using pelmo::ByteView;
using pelmo::test::for_each_ghash_kernel;
using pelmo::test::for_each_kernel;
using pelmo::test::random_bytes;
using pelmo::test::rng;
using pelmo::test::vector_bytes;
namespace sm4 = pelmo::sm4;
namespace ds = pelmo::detail::sm4;
namespace ref = pelmo::test::reference;

using StreamFn = Bytes (*)(ByteView, ByteView, ByteView);

struct StreamMode {
    const char* name;
    const char* file;
    StreamFn encrypt, decrypt;
    const EVP_CIPHER* (*evp)();
    sm4::SM4Stream::Mode enc_mode, dec_mode;
};

const StreamMode kStreamModes[] = {
    {"ctr", "sm4-ctr.txt", sm4::ctr_crypt, sm4::ctr_crypt, EVP_sm4_ctr, sm4::SM4Stream::CTR,
     sm4::SM4Stream::CTR},
    {"cfb", "sm4-cfb.txt", sm4::cfb_encrypt, sm4::cfb_decrypt, EVP_sm4_cfb128,
     sm4::SM4Stream::CFB_ENCRYPT, sm4::SM4Stream::CFB_DECRYPT},
    {"ofb", "sm4-ofb.txt", sm4::ofb_crypt, sm4::ofb_crypt, EVP_sm4_ofb, sm4::SM4Stream::OFB,
     sm4::SM4Stream::OFB},
};

TEST(Sm4StreamModes, PublishedVectorsUnderEveryKernel) {
    for_each_kernel([](const ds::Kernel&) {
        for (const auto& m : kStreamModes) {
            const auto records = pelmo::test::load_vectors(m.file);
            ASSERT_GE(records.size(), 2u) << m.file;
            for (const auto& r : records) {
                SCOPED_TRACE(r.at("source"));
                const Bytes key = vector_bytes(r, "key"), iv = vector_bytes(r, "iv"),
                            pt = vector_bytes(r, "plaintext"), ct = vector_bytes(r, "ciphertext");
                EXPECT_EQ(m.encrypt(key, iv, pt), ct) << m.name;
                EXPECT_EQ(m.decrypt(key, iv, ct), pt) << m.name;
            }
        }
    });
}

TEST(Sm4StreamModes, MatchOpenSslOnEveryLengthClassAndCounterWrap) {
    const std::size_t lengths[] = {0, 1, 15, 16, 17, 4095, 65537};
    // Random IVs, and counters whose low 32 bits and whose whole 128 bits wrap.
    Bytes low32 = random_bytes(16), all128(16, 0xff);
    std::memset(low32.data() + 12, 0xff, 4);
    low32[11] = 0x7f;
    all128[15] = 0xfd;
    for_each_kernel([&](const ds::Kernel&) {
        for (const auto& m : kStreamModes) {
            for (std::size_t len : lengths) {
                for (const Bytes& iv : {random_bytes(16), low32, all128}) {
                    const Bytes key = random_bytes(16), pt = random_bytes(len);
                    const Bytes ct = pelmo::test::openssl_sm4_stream(m.evp(), true, key, iv, pt);
                    ASSERT_EQ(m.encrypt(key, iv, pt), ct) << m.name << " " << len;
                    ASSERT_EQ(m.decrypt(key, iv, ct), pt) << m.name << " " << len;
                }
            }
        }
    });
}

TEST(Sm4StreamModes, StreamingEqualsOneShotForEverySplit) {
    const Bytes key = random_bytes(16), iv = random_bytes(16), pt = random_bytes(100);
    for (const auto& m : kStreamModes) {
        const Bytes ct = m.encrypt(key, iv, pt);
        // Every split point of a two-piece feed, and random many-piece feeds.
        for (std::size_t cut = 0; cut <= pt.size(); ++cut) {
            sm4::SM4Stream e(m.enc_mode, key, iv), d(m.dec_mode, key, iv);
            Bytes a = e.update(ByteView(pt).first(cut)), b = e.update(ByteView(pt).subspan(cut));
            a.insert(a.end(), b.begin(), b.end());
            ASSERT_EQ(a, ct) << m.name << " " << cut;
            Bytes c = d.update(ByteView(ct).first(cut)), f = d.update(ByteView(ct).subspan(cut));
            c.insert(c.end(), f.begin(), f.end());
            ASSERT_EQ(c, pt) << m.name << " " << cut;
        }
        const Bytes big = random_bytes(5000), big_ct = m.encrypt(key, iv, big);
        sm4::SM4Stream d(m.dec_mode, key, iv);
        Bytes inplace = big_ct;
        for (std::size_t at = 0; at < inplace.size();) {
            const std::size_t n = std::min<std::size_t>(rng()() % 1200, inplace.size() - at);
            std::span<std::uint8_t> piece(inplace.data() + at, n);
            d.update(piece, piece);  // in place
            at += n;
        }
        EXPECT_EQ(inplace, big) << m.name;
    }
}

TEST(Sm4StreamModes, CounterOf32BitsWrapsWithoutCarryingIntoTheNonce) {
    // GCM's counter: only the low 32 bits count.
    const Bytes key = random_bytes(16);
    Bytes counter = random_bytes(16);
    std::memset(counter.data() + 12, 0xff, 4);
    counter[15] = 0xfe;
    std::uint32_t rk[32];
    for_each_kernel([&](const ds::Kernel& k) {
        k.expand_key(key.data(), rk);
        ds::Ctr ctr;
        ctr.start(rk, counter.data(), true);
        Bytes ks(64, 0);
        ctr.crypt(k, ks.data(), ks.data(), ks.size());
        Bytes blocks;
        for (std::uint32_t low : {0xfffffffeu, 0xffffffffu, 0u, 1u}) {
            Bytes b = counter;
            for (int i = 0; i < 4; ++i) b[12 + i] = static_cast<std::uint8_t>(low >> (24 - 8 * i));
            blocks.insert(blocks.end(), b.begin(), b.end());
        }
        EXPECT_EQ(ks, pelmo::test::openssl_sm4(true, false, false, key, {}, blocks));
    });
}

TEST(Sm4StreamModes, RejectWrongKeyAndIvLengths) {
    const Bytes k16(16), k15(15), k17(17), iv15(15);
    for (const auto& m : kStreamModes) {
        for (const Bytes* key : {&k15, &k17}) {
            try {
                m.encrypt(*key, k16, k16);
                ADD_FAILURE() << m.name;
            } catch (const std::invalid_argument& e) {
                EXPECT_EQ(std::string(e.what()),
                          "SM4 key must be 16 bytes, got " + std::to_string(key->size()));
            }
        }
        EXPECT_THROW(m.decrypt(k16, iv15, k16), std::invalid_argument);
        EXPECT_THROW(sm4::SM4Stream(m.enc_mode, k16, Bytes(17)), std::invalid_argument);
    }
}

// ---- GHASH ----

TEST(Ghash, EveryKernelMatchesTheBitSerialMultiplication) {
    const Bytes h = random_bytes(16);
    pelmo::detail::sm4::GhashKey key;
    ds::ghash_init(key, h.data());
    for (std::size_t i = 0; i < ds::kGhashPowers; ++i) {
        // The powers themselves.
        ref::U128 p = ref::load(h.data());
        for (std::size_t j = 0; j < i; ++j) p = ref::gf_mul(p, ref::load(h.data()));
        EXPECT_EQ(key.power[i].hi, p.hi) << i;
        EXPECT_EQ(key.power[i].lo, p.lo) << i;
    }
    for_each_ghash_kernel([&](const ds::GhashKernel& g) {
        pelmo::detail::sm4::GhashKey own{};
        own.power[0] = key.power[0];
        g.powers(own);
        for (std::size_t i = 0; i < ds::kGhashPowers; ++i) {
            EXPECT_EQ(own.power[i].hi, key.power[i].hi) << g.name << " power " << i;
            EXPECT_EQ(own.power[i].lo, key.power[i].lo) << g.name << " power " << i;
        }
        for (std::size_t blocks : {0, 1, 3, 4, 5, 15, 16, 17, 31, 32, 33, 48, 64, 100}) {
            const Bytes data = random_bytes(16 * blocks), y0 = random_bytes(16);
            ds::GhashElement y = ds::ghash_load(y0.data());
            g.blocks(key, y, data.data(), blocks);
            const ref::U128 want = ref::ghash(ref::load(h.data()), ref::load(y0.data()), data);
            EXPECT_EQ(y.hi, want.hi) << blocks;
            EXPECT_EQ(y.lo, want.lo) << blocks;
        }
    });
}

// ---- GCM and CCM ----

struct AeadMode {
    const char* name;
    const char* file;
    Bytes (*seal)(ByteView, ByteView, ByteView, ByteView, std::size_t);
    std::optional<Bytes> (*open)(ByteView, ByteView, ByteView, ByteView, std::size_t);
    Bytes (*reference)(ByteView, ByteView, ByteView, ByteView, std::size_t);
    sm4::SM4AeadSeal::Mode mode;
    std::vector<std::size_t> nonce_lengths, tag_lengths;
};

const AeadMode kAeadModes[] = {
    {"gcm",
     "sm4-gcm.txt",
     sm4::gcm_seal,
     sm4::gcm_open,
     ref::gcm_seal,
     sm4::SM4AeadSeal::GCM,
     {1, 8, 12, 13, 16, 60},
     {4, 8, 12, 13, 14, 15, 16}},
    {"ccm",
     "sm4-ccm.txt",
     sm4::ccm_seal,
     sm4::ccm_open,
     ref::ccm_seal,
     sm4::SM4AeadSeal::CCM,
     {7, 8, 9, 10, 11, 12, 13},
     {4, 6, 8, 10, 12, 14, 16}},
};

TEST(Sm4Aead, PublishedVectorsUnderEveryKernel) {
    const auto body = [] {
        for (const auto& m : kAeadModes) {
            for (const auto& r : pelmo::test::load_vectors(m.file)) {
                SCOPED_TRACE(r.at("source"));
                const Bytes key = vector_bytes(r, "key"), nonce = vector_bytes(r, "nonce"),
                            aad = vector_bytes(r, "aad"), pt = vector_bytes(r, "plaintext");
                const std::size_t tag_len = std::stoul(r.at("tag_len"));
                Bytes sealed = vector_bytes(r, "ciphertext");
                const Bytes tag = vector_bytes(r, "tag");
                sealed.insert(sealed.end(), tag.begin(), tag.end());
                EXPECT_EQ(m.seal(key, nonce, pt, aad, tag_len), sealed) << m.name;
                EXPECT_EQ(m.open(key, nonce, sealed, aad, tag_len), pt) << m.name;
                EXPECT_EQ(m.reference(key, nonce, pt, aad, tag_len), sealed) << m.name;
            }
        }
    };
    for_each_kernel([&](const ds::Kernel&) { body(); });
    for_each_ghash_kernel([&](const ds::GhashKernel&) { body(); });
}

TEST(Sm4Aead, EveryNonceAndTagLengthMatchesTheTextbookConstruction) {
    const std::size_t lengths[] = {0, 1, 15, 16, 17, 100, 1024 + 33, 4095};
    const auto body = [&](const AeadMode& m) {
        for (std::size_t nl : m.nonce_lengths) {
            for (std::size_t tl : m.tag_lengths) {
                const std::size_t len = lengths[rng()() % std::size(lengths)];
                const Bytes key = random_bytes(16), nonce = random_bytes(nl),
                            aad = random_bytes(rng()() % 40), pt = random_bytes(len);
                const Bytes sealed = m.seal(key, nonce, pt, aad, tl);
                ASSERT_EQ(sealed, m.reference(key, nonce, pt, aad, tl))
                    << m.name << " nonce " << nl << " tag " << tl << " len " << len;
                ASSERT_EQ(m.open(key, nonce, sealed, aad, tl), pt);
            }
        }
        for (std::size_t len : lengths) {
            const Bytes key = random_bytes(16), nonce = random_bytes(12),
                        aad = random_bytes(len % 70), pt = random_bytes(len);
            ASSERT_EQ(m.seal(key, nonce, pt, aad, 16), m.reference(key, nonce, pt, aad, 16))
                << m.name << " " << len;
        }
    };
    for_each_kernel([&](const ds::Kernel&) {
        for (const auto& m : kAeadModes) body(m);
    });
    for_each_ghash_kernel([&](const ds::GhashKernel&) { body(kAeadModes[0]); });
}

TEST(Sm4Aead, CcmLongAadLengthEncoding) {
    // From 65280 bytes on the AAD length is 0xfffe and four bytes.
    for (std::size_t n : {65279, 65280, 65281}) {
        const Bytes key = random_bytes(16), nonce = random_bytes(12), aad = random_bytes(n),
                    pt = random_bytes(20);
        EXPECT_EQ(sm4::ccm_seal(key, nonce, pt, aad, 8), ref::ccm_seal(key, nonce, pt, aad, 8))
            << n;
    }
}

TEST(Sm4Aead, TamperingIsRejectedAndReleasesNothing) {
    for (const auto& m : kAeadModes) {
        const Bytes key = random_bytes(16), nonce = random_bytes(12), aad = random_bytes(20),
                    pt = random_bytes(50);
        const Bytes sealed = m.seal(key, nonce, pt, aad, 16);
        for (std::size_t i = 0; i < sealed.size(); ++i) {
            Bytes bad = sealed;
            bad[i] ^= static_cast<std::uint8_t>(1u << (i % 8));
            EXPECT_FALSE(m.open(key, nonce, bad, aad, 16)) << m.name << " byte " << i;
        }
        Bytes bad_aad = aad;
        bad_aad[3] ^= 0x40;
        EXPECT_FALSE(m.open(key, nonce, sealed, bad_aad, 16)) << m.name;
        EXPECT_FALSE(m.open(key, nonce, sealed, {}, 16)) << m.name;
        Bytes bad_nonce = nonce;
        bad_nonce[0] ^= 1;
        EXPECT_FALSE(m.open(key, bad_nonce, sealed, aad, 16)) << m.name;
        EXPECT_FALSE(m.open(key, nonce, ByteView(sealed).first(sealed.size() - 1), aad, 16));
        EXPECT_FALSE(m.open(key, nonce, ByteView(sealed).first(15), aad, 16)) << m.name;
        EXPECT_FALSE(m.open(key, nonce, {}, aad, 16)) << m.name;
        EXPECT_FALSE(m.open(key, nonce, sealed, aad, 12)) << m.name;  // another tag length
        // An empty message still authenticates its AAD.
        const Bytes empty = m.seal(key, nonce, {}, aad, 4);
        EXPECT_EQ(empty.size(), 4u);
        EXPECT_EQ(m.open(key, nonce, empty, aad, 4), Bytes{});
    }
}

TEST(Sm4Aead, BadParametersAreInvalidArgumentWithSpecificMessages) {
    const Bytes k(16), n12(12), p(10);
    const auto message = [](const std::function<void()>& f) -> std::string {
        try {
            f();
        } catch (const std::invalid_argument& e) {
            return e.what();
        }
        return "no exception";
    };
    EXPECT_EQ(message([&] { sm4::gcm_seal(Bytes(15), n12, p); }),
              "SM4 key must be 16 bytes, got 15");
    EXPECT_EQ(message([&] { sm4::gcm_open(Bytes(32), n12, p); }),
              "SM4 key must be 16 bytes, got 32");
    EXPECT_EQ(message([&] { sm4::gcm_seal(k, {}, p); }),
              "GCM nonce must be at least 1 byte, got 0");
    for (std::size_t t : {0, 1, 3, 5, 6, 7, 9, 10, 11, 17, 32}) {
        const std::string want = "GCM tag length must be 4, 8 or 12..16, got " + std::to_string(t);
        EXPECT_EQ(message([&] { sm4::gcm_seal(k, n12, p, {}, t); }), want);
        EXPECT_EQ(message([&] { sm4::gcm_open(k, n12, Bytes(40), {}, t); }), want);
        EXPECT_EQ(message([&] { sm4::SM4AeadSeal(sm4::SM4AeadSeal::GCM, k, n12, {}, t); }), want);
    }
    for (std::size_t nl : {0, 6, 14, 16}) {
        const std::string want = "CCM nonce must be 7..13 bytes, got " + std::to_string(nl);
        EXPECT_EQ(message([&] { sm4::ccm_seal(k, Bytes(nl), p); }), want);
        EXPECT_EQ(message([&] { sm4::ccm_open(k, Bytes(nl), Bytes(40)); }), want);
    }
    for (std::size_t t : {0, 2, 3, 5, 7, 15, 17, 18}) {
        const std::string want =
            "CCM tag length must be 4, 6, 8, 10, 12, 14 or 16, got " + std::to_string(t);
        EXPECT_EQ(message([&] { sm4::ccm_seal(k, n12, p, {}, t); }), want);
        EXPECT_EQ(message([&] { sm4::ccm_open(k, n12, Bytes(40), {}, t); }), want);
    }
    // A 13-byte nonce leaves a 2-byte length field: at most 65535 bytes.
    const Bytes n13(13), big(65536);
    EXPECT_EQ(message([&] { sm4::ccm_seal(k, n13, big); }),
              "CCM plaintext of 65536 bytes does not fit the 2-byte length field of a 13-byte "
              "nonce");
    EXPECT_EQ(sm4::ccm_seal(k, n13, Bytes(65535), {}, 4).size(), 65539u);
    EXPECT_EQ(message([&] { sm4::ccm_open(k, n13, Bytes(65536 + 16)); }),
              "CCM plaintext of 65536 bytes does not fit the 2-byte length field of a 13-byte "
              "nonce");
}

// The buffer forms: sealing in place; a buffer of the wrong size is refused and changes
// nothing (the calls after it still give the sealed message).
TEST(Sm4Aead, BufferFormsSealInPlaceAndCheckTheirSize) {
    for (const auto& m : kAeadModes) {
        const Bytes key = random_bytes(16), nonce = random_bytes(12), pt = random_bytes(40);
        const Bytes sealed = m.seal(key, nonce, pt, {}, 16);
        sm4::SM4AeadSeal s(m.mode, key, nonce, {}, 16, pt.size());
        Bytes buf = pt;
        EXPECT_THROW(s.update(pt, std::span(buf).first(39)), std::invalid_argument);
        s.update(buf, buf);
        const Bytes tag = s.finish();
        buf.insert(buf.end(), tag.begin(), tag.end());
        EXPECT_EQ(buf, sealed) << m.name;
        sm4::SM4AeadOpen o(m.mode, key, nonce, {}, 16, sealed.size());
        Bytes plain(sealed.size());
        EXPECT_THROW(o.update_unverified(sealed, std::span(plain).first(sealed.size() - 1)),
                     std::invalid_argument);
        plain.resize(o.update_unverified(sealed, plain));
        EXPECT_TRUE(o.finish()) << m.name;
        EXPECT_EQ(plain, pt) << m.name;
    }
}

TEST(Sm4Aead, StreamingEqualsOneShotForEverySplit) {
    for (const auto& m : kAeadModes) {
        const Bytes key = random_bytes(16), nonce = random_bytes(12), aad = random_bytes(17),
                    pt = random_bytes(70);
        const Bytes sealed = m.seal(key, nonce, pt, aad, 12);
        for (std::size_t cut = 0; cut <= sealed.size(); ++cut) {
            if (cut <= pt.size()) {
                sm4::SM4AeadSeal s(m.mode, key, nonce, aad, 12, pt.size());
                Bytes out = s.update(ByteView(pt).first(cut));
                const Bytes rest = s.update(ByteView(pt).subspan(cut)), tag = s.finish();
                out.insert(out.end(), rest.begin(), rest.end());
                out.insert(out.end(), tag.begin(), tag.end());
                ASSERT_EQ(out, sealed) << m.name << " " << cut;
                EXPECT_THROW(s.update(pt), std::logic_error);
            }
            sm4::SM4AeadOpen o(m.mode, key, nonce, aad, 12, sealed.size());
            Bytes got = o.update_unverified(ByteView(sealed).first(cut));
            const Bytes rest = o.update_unverified(ByteView(sealed).subspan(cut));
            got.insert(got.end(), rest.begin(), rest.end());
            ASSERT_TRUE(o.finish()) << m.name << " " << cut;
            ASSERT_EQ(got, pt) << m.name << " " << cut;
        }
        // Byte by byte, and a failing tag.
        sm4::SM4AeadOpen o(m.mode, key, nonce, aad, 12, sealed.size());
        Bytes got;
        Bytes bad = sealed;
        bad.back() ^= 0x80;
        for (std::uint8_t b : bad) {
            const Bytes piece = o.update_unverified(ByteView(&b, 1));
            got.insert(got.end(), piece.begin(), piece.end());
        }
        EXPECT_EQ(got, pt);  // unverified output, as documented
        EXPECT_FALSE(o.finish());
        EXPECT_THROW((void)o.finish(), std::logic_error);
    }
    // CCM: the announced length must be what is fed.
    const Bytes key = random_bytes(16), nonce = random_bytes(10);
    sm4::SM4AeadSeal s(sm4::SM4AeadSeal::CCM, key, nonce, {}, 8, 10);
    s.update(Bytes(9));
    EXPECT_THROW(s.update(Bytes(2)), std::logic_error);
    EXPECT_THROW(s.finish(), std::logic_error);
    const Bytes sealed = sm4::ccm_seal(key, nonce, Bytes(10), {}, 8);
    sm4::SM4AeadOpen short_open(sm4::SM4AeadSeal::CCM, key, nonce, {}, 8, sealed.size() + 1);
    short_open.update_unverified(sealed);
    EXPECT_FALSE(short_open.finish());
}

}  // namespace
