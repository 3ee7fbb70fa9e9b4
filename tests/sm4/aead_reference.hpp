// Textbook SM4-GCM and SM4-CCM for differential tests: OpenSSL's SM4 block (ECB), GHASH by the
// bit-serial shift-and-add multiplication, CCM's formatting written out byte by byte. Slow and
// independent of pelmo's kernels, batching, counters and reduction.
#pragma once

#include <cstdint>
#include <cstring>

#include <pelmo/types.hpp>

#include "openssl_sm4.hpp"

namespace pelmo::test::reference {

inline Bytes sm4_block(ByteView key, const std::uint8_t* in) {
    return openssl_sm4(true, false, false, key, {}, ByteView(in, 16));
}

struct U128 {
    std::uint64_t hi = 0, lo = 0;
};

inline U128 load(const std::uint8_t* p) {
    U128 v;
    for (int i = 0; i < 8; ++i) v.hi = (v.hi << 8) | p[i], v.lo = (v.lo << 8) | p[8 + i];
    return v;
}

inline void store(U128 v, std::uint8_t* p) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(v.hi >> (56 - 8 * i)),
        p[8 + i] = static_cast<std::uint8_t>(v.lo >> (56 - 8 * i));
}

/// X * Y in GCM's field, bit by bit (the most significant bit of byte 0 is x^0).
inline U128 gf_mul(U128 x, U128 y) {
    U128 z, v = y;
    for (int i = 0; i < 128; ++i) {
        const std::uint64_t bit = i < 64 ? (x.hi >> (63 - i)) & 1 : (x.lo >> (127 - i)) & 1;
        if (bit) z.hi ^= v.hi, z.lo ^= v.lo;
        const bool carry = v.lo & 1;
        v.lo = (v.lo >> 1) | (v.hi << 63);
        v.hi >>= 1;
        if (carry) v.hi ^= 0xe100000000000000u;
    }
    return z;
}

/// GHASH_H over data zero-padded to whole blocks, continuing from y.
inline U128 ghash(U128 h, U128 y, ByteView data) {
    for (std::size_t i = 0; i < data.size(); i += 16) {
        std::uint8_t b[16] = {};
        std::memcpy(b, data.data() + i, std::min<std::size_t>(16, data.size() - i));
        const U128 x = load(b);
        y.hi ^= x.hi, y.lo ^= x.lo;
        y = gf_mul(y, h);
    }
    return y;
}

inline Bytes gcm_seal(ByteView key, ByteView nonce, ByteView pt, ByteView aad,
                      std::size_t tag_len) {
    const std::uint8_t zero[16] = {};
    const U128 h = load(sm4_block(key, zero).data());
    std::uint8_t j0[16] = {};
    if (nonce.size() == 12) {
        std::memcpy(j0, nonce.data(), 12);
        j0[15] = 1;
    } else {
        U128 y = ghash(h, {}, nonce);
        std::uint8_t len[16] = {};
        U128 l{0, nonce.size() * 8};
        store(l, len);
        store(ghash(h, y, ByteView(len, 16)), j0);
    }
    Bytes out(pt.size() + tag_len);
    std::uint8_t ctr[16];
    std::memcpy(ctr, j0, 16);
    for (std::size_t i = 0; i < pt.size(); i += 16) {
        std::uint32_t c = (std::uint32_t{ctr[12]} << 24) | (std::uint32_t{ctr[13]} << 16) |
                          (std::uint32_t{ctr[14]} << 8) | ctr[15];
        ++c;
        ctr[12] = static_cast<std::uint8_t>(c >> 24), ctr[13] = static_cast<std::uint8_t>(c >> 16);
        ctr[14] = static_cast<std::uint8_t>(c >> 8), ctr[15] = static_cast<std::uint8_t>(c);
        const Bytes ks = sm4_block(key, ctr);
        for (std::size_t j = i; j < std::min(pt.size(), i + 16); ++j)
            out[j] = static_cast<std::uint8_t>(pt[j] ^ ks[j - i]);
    }
    U128 s = ghash(h, {}, aad);
    s = ghash(h, s, ByteView(out.data(), pt.size()));
    std::uint8_t len[16];
    store(U128{aad.size() * 8, pt.size() * 8}, len);
    s = ghash(h, s, ByteView(len, 16));
    std::uint8_t t[16];
    store(s, t);
    const Bytes ej0 = sm4_block(key, j0);
    for (std::size_t i = 0; i < tag_len; ++i) out[pt.size() + i] = t[i] ^ ej0[i];
    return out;
}

inline Bytes ccm_seal(ByteView key, ByteView nonce, ByteView pt, ByteView aad,
                      std::size_t tag_len) {
    const std::size_t q = 15 - nonce.size();
    Bytes blocks(16, 0);  // B0, the encoded AAD, the plaintext, each zero-padded
    blocks[0] =
        static_cast<std::uint8_t>((aad.empty() ? 0 : 0x40) | ((tag_len - 2) / 2) << 3 | (q - 1));
    std::memcpy(blocks.data() + 1, nonce.data(), nonce.size());
    for (std::size_t i = 0; i < q; ++i)
        blocks[15 - i] = i < 8 ? static_cast<std::uint8_t>(std::uint64_t{pt.size()} >> (8 * i))
                               : std::uint8_t{0};
    if (!aad.empty()) {
        Bytes a;
        const std::uint64_t n = aad.size();
        if (n < 65280) {
            a = {static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
        } else {
            a = {0xff, 0xfe};
            for (int i = 3; i >= 0; --i) a.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
        }
        a.insert(a.end(), aad.begin(), aad.end());
        a.resize((a.size() + 15) / 16 * 16, 0);
        blocks.insert(blocks.end(), a.begin(), a.end());
    }
    blocks.insert(blocks.end(), pt.begin(), pt.end());
    blocks.resize((blocks.size() + 15) / 16 * 16, 0);
    std::uint8_t mac[16] = {};
    for (std::size_t i = 0; i < blocks.size(); i += 16) {
        for (int j = 0; j < 16; ++j) mac[j] ^= blocks[i + j];
        const Bytes e = sm4_block(key, mac);
        std::memcpy(mac, e.data(), 16);
    }
    Bytes out(pt.size() + tag_len);
    std::uint8_t ctr[16] = {};
    ctr[0] = static_cast<std::uint8_t>(q - 1);
    std::memcpy(ctr + 1, nonce.data(), nonce.size());
    const Bytes s0 = sm4_block(key, ctr);
    for (std::size_t i = 0; i < pt.size(); i += 16) {
        const std::uint64_t c = i / 16 + 1;
        for (std::size_t j = 0; j < q; ++j)
            ctr[15 - j] = j < 8 ? static_cast<std::uint8_t>(c >> (8 * j)) : std::uint8_t{0};
        const Bytes ks = sm4_block(key, ctr);
        for (std::size_t j = i; j < std::min(pt.size(), i + 16); ++j)
            out[j] = static_cast<std::uint8_t>(pt[j] ^ ks[j - i]);
    }
    for (std::size_t i = 0; i < tag_len; ++i) out[pt.size() + i] = mac[i] ^ s0[i];
    return out;
}

}  // namespace pelmo::test::reference
