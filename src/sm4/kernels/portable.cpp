// The portable SM4 kernel: plain C++ with lookup tables.
//
// The S-box and the rounds' combined S-box-and-L table are indexed with key- and
// data-dependent bytes, so this kernel is not constant time on CPUs with data caches.
// It runs only where no table-free kernel can (no AES-NI or GFNI on x86-64, no AES or
// SM4 instructions on 64-bit ARM); every other kernel is free of such lookups.
#include <array>

#include "common/wipe.hpp"
#include "sm4/constants.hpp"
#include "sm4/kernels/kernel.hpp"

namespace pelmo::detail::sm4 {
namespace {

/// L(S(x)) for a byte x in the low byte of the word. L commutes with rotations by
/// whole bytes, so the other three bytes use the same table rotated.
constexpr std::array<std::uint32_t, 256> make_round_table() {
    std::array<std::uint32_t, 256> t{};
    for (unsigned x = 0; x < 256; ++x) t[x] = linear_l(kSbox[x]);
    return t;
}
constexpr std::array<std::uint32_t, 256> kRoundTable = make_round_table();

inline std::uint32_t round_t(std::uint32_t x) {
    return kRoundTable[x & 0xff] ^ rotl32(kRoundTable[(x >> 8) & 0xff], 8) ^
           rotl32(kRoundTable[(x >> 16) & 0xff], 16) ^ rotl32(kRoundTable[x >> 24], 24);
}

inline std::uint32_t load_be(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

inline void store_be(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

/// One block; in and out may alias.
inline void block(const std::uint32_t rk[32], const std::uint8_t* in, std::uint8_t* out) {
    std::uint32_t x0 = load_be(in), x1 = load_be(in + 4), x2 = load_be(in + 8),
                  x3 = load_be(in + 12);
    for (int r = 0; r < 32; r += 4) {
        x0 ^= round_t(x1 ^ x2 ^ x3 ^ rk[r]);
        x1 ^= round_t(x2 ^ x3 ^ x0 ^ rk[r + 1]);
        x2 ^= round_t(x3 ^ x0 ^ x1 ^ rk[r + 2]);
        x3 ^= round_t(x0 ^ x1 ^ x2 ^ rk[r + 3]);
    }
    store_be(out, x3);
    store_be(out + 4, x2);
    store_be(out + 8, x1);
    store_be(out + 12, x0);
}

std::uint32_t tau(std::uint32_t x) noexcept {
    return (std::uint32_t{kSbox[x >> 24]} << 24) | (std::uint32_t{kSbox[(x >> 16) & 0xff]} << 16) |
           (std::uint32_t{kSbox[(x >> 8) & 0xff]} << 8) | std::uint32_t{kSbox[x & 0xff]};
}

void expand_key(const std::uint8_t key[16], std::uint32_t rk[32]) noexcept {
    expand_key_with(tau, key, rk);
}

void ecb(const std::uint32_t rk[32], const std::uint8_t* in, std::uint8_t* out,
         std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) block(rk, in + 16 * i, out + 16 * i);
}

void cbc_encrypt(const std::uint32_t rk[32], std::uint8_t iv[16], const std::uint8_t* in,
                 std::uint8_t* out, std::size_t n) noexcept {
    std::uint8_t t[16];  // plaintext ^ chaining value: wiped afterwards
    for (std::size_t i = 0; i < n; ++i, in += 16, out += 16) {
        for (int j = 0; j < 16; ++j) t[j] = static_cast<std::uint8_t>(in[j] ^ iv[j]);
        block(rk, t, out);
        for (int j = 0; j < 16; ++j) iv[j] = out[j];
    }
    secure_wipe(t, sizeof t);
}

void cbc_decrypt(const std::uint32_t rk[32], std::uint8_t iv[16], const std::uint8_t* in,
                 std::uint8_t* out, std::size_t n) noexcept {
    std::uint8_t c[16], p[16];  // p, plaintext ^ the previous ciphertext: wiped afterwards
    for (std::size_t i = 0; i < n; ++i, in += 16, out += 16) {
        for (int j = 0; j < 16; ++j) c[j] = in[j];  // in may be out
        block(rk, c, p);
        for (int j = 0; j < 16; ++j) {
            out[j] = static_cast<std::uint8_t>(p[j] ^ iv[j]);
            iv[j] = c[j];
        }
    }
    secure_wipe(p, sizeof p);
}

}  // namespace

const Kernel kPortable = {"portable", tau, expand_key, ecb, cbc_encrypt, cbc_decrypt, nullptr};

}  // namespace pelmo::detail::sm4
