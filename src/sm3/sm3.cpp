// The public SM3 layer: the round functions and compression as the standard writes
// them (for callers who need them), and the fast engine behind sm3_hash,
// sm3_kdf and the incremental hasher.
#include <pelmo/sm3.hpp>

#include <cstring>
#include <stdexcept>

#include "common/hex.hpp"
#include "common/wipe.hpp"
#include "sm3/compress.hpp"
#include "sm3/kdf.hpp"
#include "sm3/state.hpp"

namespace pelmo::sm3 {

const std::array<std::uint32_t, 8> IV = {0x7380166f, 0x4914b2b9, 0x172442d7, 0xda8a0600,
                                         0xa96f30bc, 0x163138aa, 0xe38dee4d, 0xb0fb0e4e};

const std::array<std::uint32_t, 64> T_j = [] {
    std::array<std::uint32_t, 64> t{};
    for (int j = 0; j < 64; ++j)
        t[static_cast<std::size_t>(j)] = j < 16 ? 0x79cc4519u : 0x7a879d8au;
    return t;
}();

namespace {

void check_round(int j) {
    if (j < 0 || j > 63)
        throw std::out_of_range("SM3 round index " + std::to_string(j) + " outside 0..63");
}

constexpr std::uint32_t rotl32(std::uint32_t x, unsigned n) {
    n &= 31;
    return n == 0 ? x : (x << n) | (x >> (32 - n));
}

}  // namespace

std::uint32_t sm3_ff_j(std::uint32_t x, std::uint32_t y, std::uint32_t z, int j) {
    check_round(j);
    return j < 16 ? x ^ y ^ z : (x & y) | (x & z) | (y & z);
}

std::uint32_t sm3_gg_j(std::uint32_t x, std::uint32_t y, std::uint32_t z, int j) {
    check_round(j);
    return j < 16 ? x ^ y ^ z : (x & y) | (~x & z);
}

std::uint32_t sm3_p_0(std::uint32_t x) {
    return x ^ rotl32(x, 9) ^ rotl32(x, 17);
}

std::uint32_t sm3_p_1(std::uint32_t x) {
    return x ^ rotl32(x, 15) ^ rotl32(x, 23);
}

std::array<std::uint32_t, 8> sm3_cf(std::span<const std::uint32_t> v_i, ByteView b_i) {
    if (v_i.size() != 8)
        throw std::invalid_argument("SM3 chaining value needs 8 words, got " +
                                    std::to_string(v_i.size()));
    if (b_i.size() < 64)
        throw std::out_of_range("SM3 message block needs 64 bytes, got " +
                                std::to_string(b_i.size()));
    std::uint32_t w[68];
    for (int i = 0; i < 16; ++i)
        w[i] = (std::uint32_t{b_i[4 * i]} << 24) | (std::uint32_t{b_i[4 * i + 1]} << 16) |
               (std::uint32_t{b_i[4 * i + 2]} << 8) | std::uint32_t{b_i[4 * i + 3]};
    for (int j = 16; j < 68; ++j)
        w[j] =
            sm3_p_1(w[j - 16] ^ w[j - 9] ^ rotl32(w[j - 3], 15)) ^ rotl32(w[j - 13], 7) ^ w[j - 6];
    std::uint32_t w1[64];
    for (int j = 0; j < 64; ++j) w1[j] = w[j] ^ w[j + 4];

    std::uint32_t a = v_i[0], b = v_i[1], c = v_i[2], d = v_i[3];
    std::uint32_t e = v_i[4], f = v_i[5], g = v_i[6], h = v_i[7];
    for (int j = 0; j < 64; ++j) {
        const std::uint32_t ss1 =
            rotl32(rotl32(a, 12) + e +
                       rotl32(T_j[static_cast<std::size_t>(j)], static_cast<unsigned>(j % 32)),
                   7);
        const std::uint32_t ss2 = ss1 ^ rotl32(a, 12);
        const std::uint32_t tt1 = sm3_ff_j(a, b, c, j) + d + ss2 + w1[j];
        const std::uint32_t tt2 = sm3_gg_j(e, f, g, j) + h + ss1 + w[j];
        d = c;
        c = rotl32(b, 9);
        b = a;
        a = tt1;
        h = g;
        g = rotl32(f, 19);
        f = e;
        e = sm3_p_0(tt2);
    }
    return {a ^ v_i[0], b ^ v_i[1], c ^ v_i[2], d ^ v_i[3],
            e ^ v_i[4], f ^ v_i[5], g ^ v_i[6], h ^ v_i[7]};
}

// ---- The incremental engine ----

SM3::~SM3() {
    detail::secure_wipe(this, sizeof *this);
}

void SM3::reset() noexcept {
    state_ = IV;
    length_ = 0;
}

SM3& SM3::update(ByteView data) noexcept {
    const std::uint8_t* p = data.data();
    std::size_t n = data.size();
    if (n == 0) return *this;
    std::size_t used = static_cast<std::size_t>(length_ % block_size);
    length_ += n;
    const auto compress = detail::sm3::compress_kernel();
    if (used != 0) {
        const std::size_t take = std::min(n, block_size - used);
        std::memcpy(buffer_.data() + used, p, take);
        p += take, n -= take, used += take;
        if (used < block_size) return *this;
        compress(state_.data(), buffer_.data(), 1);
    }
    // Whole blocks straight from the caller's memory, no copy.
    const std::size_t blocks = n / block_size;
    if (blocks != 0) compress(state_.data(), p, blocks);
    p += blocks * block_size, n -= blocks * block_size;
    if (n != 0) std::memcpy(buffer_.data(), p, n);
    return *this;
}

SM3::Digest SM3::digest() const noexcept {
    std::uint32_t st[8];
    std::memcpy(st, state_.data(), sizeof st);
    std::uint8_t tail[2 * block_size] = {};
    const std::size_t used = static_cast<std::size_t>(length_ % block_size);
    std::memcpy(tail, buffer_.data(), used);
    tail[used] = 0x80;
    // The length goes in the last 8 bytes of the block that has room for it.
    const std::size_t total = used < 56 ? block_size : 2 * block_size;
    const std::uint64_t bits = length_ * 8;
    for (int i = 0; i < 8; ++i) tail[total - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    detail::sm3::compress_kernel()(st, tail, total / block_size);
    Digest out;
    detail::sm3::store_state(st, out.data());
    // The copies of the state and of the buffered bytes go as the hasher's own do.
    detail::secure_wipe(st, sizeof st);
    detail::secure_wipe(tail, sizeof tail);
    return out;
}

std::string SM3::hexdigest() const {
    return detail::to_hex(digest());
}

SM3::Digest SM3::hash(ByteView data) noexcept {
    SM3 h;
    h.update(data);
    return h.digest();
}

std::string sm3_hash(ByteView msg) {
    return detail::to_hex(SM3::hash(msg));
}

std::string sm3_kdf(std::string_view z, std::int64_t klen) {
    Bytes zin = detail::from_hex(z);
    const detail::WipeOnExit wipe_z{zin};  // the input is the shared secret
    const std::size_t want = detail::sm3_kdf_length(klen);
    if (want == 0) return {};
    std::string out;
    out.reserve(2 * (want + SM3::digest_size));  // whole digests, then cut
    // Z is absorbed once; each counter block continues from a copy of that state.
    SM3 base;
    base.update(zin);
    for (std::uint32_t ct = 1; out.size() < 2 * want; ++ct) {
        const std::uint8_t counter[4] = {
            static_cast<std::uint8_t>(ct >> 24), static_cast<std::uint8_t>(ct >> 16),
            static_cast<std::uint8_t>(ct >> 8), static_cast<std::uint8_t>(ct)};
        SM3 h = base;
        h.update(ByteView(counter, 4));
        SM3::Digest t = h.digest();
        detail::append_hex(out, t);
        detail::secure_wipe(t);
    }
    out.resize(2 * want);
    return out;
}

}  // namespace pelmo::sm3
