// Byte, word and padding helpers, random hexadecimal text and modular arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <pelmo/types.hpp>

// What this header declares is pelmo's interface, exported from a shared libpelmo
// (the library's own code is compiled with hidden visibility).
#pragma GCC visibility push(default)

namespace pelmo::func {

/// Element-wise XOR, as long as the shorter argument.
Bytes xor_(ByteView a, ByteView b);
/// Rotates x left by n bits; n must lie in 0..32 (std::invalid_argument otherwise).
std::uint32_t rotl(std::uint32_t x, int n);
/// The big-endian word in the first four bytes (std::out_of_range if fewer).
std::uint32_t get_uint32_be(ByteView key_data);
/// The low 32 bits of n as four big-endian bytes (two's complement for negative n).
Bytes put_uint32_be(std::int64_t n);

/// Appends c = 16 - len % block bytes of value c (nothing when c <= 0).
/// A block of 0 is std::domain_error.
Bytes pkcs7_padding(ByteView data, std::size_t block = 16);
/// Appends the same count of zero bytes as pkcs7_padding.
Bytes zero_padding(ByteView data, std::size_t block = 16);
/// Removes and checks PKCS#7 padding: std::out_of_range when empty,
/// std::invalid_argument("invalid PKCS#7 padding") when malformed.
Bytes pkcs7_unpadding(ByteView data);
/// Removes the trailing run of zero bytes, at most 16 (std::out_of_range when empty).
Bytes zero_unpadding(ByteView data);

Bytes list_to_bytes(ByteView data);
Bytes bytes_to_list(ByteView data);

/// x lower-case hexadecimal digits from the operating system's CSPRNG ("" for x <= 0).
std::string random_hex(std::int64_t x);

/// x^e mod p by square-and-multiply: 1 (unreduced) for e <= 0; std::domain_error for p = 0, e > 0.
/// The remainder takes the sign of p, so it lies in 0..p-1 for positive p.
BigInt exp_mod(BigInt x, BigInt e, const BigInt& p);
/// exp_mod(x, p - 2, p): the inverse for prime p, 0 when p divides x.
BigInt inv_mod(const BigInt& x, const BigInt& p);

/// Unchanged when len % block == 0, else 0x80 and zeros up to a multiple of block.
Bytes pboc_padding(ByteView data, std::size_t block = 16);
/// ISO/IEC 9797-1 method 2: always 0x80, then zeros up to a multiple of block.
Bytes iso9797m2_padding(ByteView data, std::size_t block = 16);
/// Fewer than 16 bytes: std::invalid_argument("Data length error!"); exactly 16: unchanged;
/// otherwise everything from the last 0x80 on is removed (std::out_of_range without one).
Bytes pboc_unpadding(ByteView data);
/// As pboc_unpadding, but a single 16-byte block is unpadded too.
Bytes iso9797m2_unpadding(ByteView data);

}  // namespace pelmo::func

#pragma GCC visibility pop
