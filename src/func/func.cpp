#include <pelmo/func.hpp>

#include <algorithm>
#include <stdexcept>

#include "common/ct.hpp"
#include "common/hex.hpp"
#include "common/random.hpp"
#include "common/wipe.hpp"
#include "func/padding.hpp"

namespace pelmo::func {

Bytes xor_(ByteView a, ByteView b) {
    const std::size_t n = std::min(a.size(), b.size());
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(a[i] ^ b[i]);
    return out;
}

std::uint32_t rotl(std::uint32_t x, int n) {
    if (n < 0 || n > 32)
        throw std::invalid_argument("rotation count " + std::to_string(n) + " outside 0..32");
    if (n == 0 || n == 32) return x;
    return (x << n) | (x >> (32 - n));
}

std::uint32_t get_uint32_be(ByteView key_data) {
    if (key_data.size() < 4)
        throw std::out_of_range("get_uint32_be needs 4 bytes, got " +
                                std::to_string(key_data.size()));
    return (std::uint32_t{key_data[0]} << 24) | (std::uint32_t{key_data[1]} << 16) |
           (std::uint32_t{key_data[2]} << 8) | std::uint32_t{key_data[3]};
}

Bytes put_uint32_be(std::int64_t n) {
    const auto w = static_cast<std::uint32_t>(static_cast<std::uint64_t>(n));
    return {static_cast<std::uint8_t>(w >> 24), static_cast<std::uint8_t>(w >> 16),
            static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w)};
}

namespace {

// The padding count of pkcs7_padding and zero_padding: 16 - len % block, where the
// 16 is fixed and only the remainder uses block (so block > 16 may give c <= 0).
long long pad_count(std::size_t len, std::size_t block) {
    if (block == 0) throw std::domain_error("padding block size of 0");
    return 16 - static_cast<long long>(len % block);
}

Bytes with_appended(ByteView data, long long count, std::uint8_t value) {
    Bytes out;
    out.reserve(data.size() + static_cast<std::size_t>(std::max(count, 0LL)));
    out.assign(data.begin(), data.end());
    if (count > 0) out.insert(out.end(), static_cast<std::size_t>(count), value);
    return out;
}

// 0x80 then zeros up to the next multiple of block.
Bytes with_marker_padding(ByteView data, std::size_t block) {
    const std::size_t total = (data.size() / block + 1) * block;
    Bytes out;
    out.reserve(total);
    out.assign(data.begin(), data.end());
    out.push_back(0x80);
    out.resize(total, 0);
    return out;
}

Bytes prefix(ByteView data, std::size_t n) {
    return Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace

Bytes pkcs7_padding(ByteView data, std::size_t block) {
    const long long c = pad_count(data.size(), block);
    return with_appended(data, c, static_cast<std::uint8_t>(c));
}

Bytes zero_padding(ByteView data, std::size_t block) {
    return with_appended(data, pad_count(data.size(), block), 0);
}

Bytes pkcs7_unpadding(ByteView data) {
    return prefix(data, detail::padding::pkcs7_kept(data));
}

Bytes zero_unpadding(ByteView data) {
    return prefix(data, detail::padding::zero_kept(data));
}

Bytes list_to_bytes(ByteView data) {
    return Bytes(data.begin(), data.end());
}

Bytes bytes_to_list(ByteView data) {
    return Bytes(data.begin(), data.end());
}

std::string random_hex(std::int64_t x) {
    if (x <= 0) return {};
    const auto digits = static_cast<std::size_t>(x);
    Bytes raw((digits + 1) / 2);
    const detail::WipeOnExit wipe_raw(raw);
    detail::random_bytes(raw);
    // The digits are a secret (keys, nonces): marked so for the constant-time check,
    // and still marked when they reach the caller.
    detail::ct::classify(raw.data(), raw.size());
    std::string out = detail::to_hex(raw);
    out.resize(digits);
    return out;
}

BigInt exp_mod(BigInt x, BigInt e, const BigInt& p) {
    if (e <= 0) return 1;
    if (p == 0) throw std::domain_error("exp_mod: modulus is zero");
    BigInt r;
    if (p > 0) {
        // GMP's powm gives exactly the least non-negative residue that the
        // square-and-multiply loop arrives at.
        mpz_powm(r.get_mpz_t(), x.get_mpz_t(), e.get_mpz_t(), p.get_mpz_t());
        return r;
    }
    // A negative modulus: remainders take the sign of p (floor division), step by step.
    r = 1;
    while (e > 0) {
        if (mpz_odd_p(e.get_mpz_t())) {
            r *= x;
            mpz_fdiv_r(r.get_mpz_t(), r.get_mpz_t(), p.get_mpz_t());
        }
        x *= x;
        mpz_fdiv_r(x.get_mpz_t(), x.get_mpz_t(), p.get_mpz_t());
        e >>= 1;
    }
    return r;
}

BigInt inv_mod(const BigInt& x, const BigInt& p) {
    return exp_mod(x, p - 2, p);
}

Bytes pboc_padding(ByteView data, std::size_t block) {
    if (block == 0) throw std::domain_error("padding block size of 0");
    if (data.size() % block == 0) return Bytes(data.begin(), data.end());
    return with_marker_padding(data, block);
}

Bytes iso9797m2_padding(ByteView data, std::size_t block) {
    if (block == 0) throw std::domain_error("padding block size of 0");
    return with_marker_padding(data, block);
}

Bytes pboc_unpadding(ByteView data) {
    return prefix(data, detail::padding::pboc_kept(data));
}

Bytes iso9797m2_unpadding(ByteView data) {
    return prefix(data, detail::padding::iso9797m2_kept(data));
}

}  // namespace pelmo::func
