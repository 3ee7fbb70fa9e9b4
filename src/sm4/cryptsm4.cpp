// CryptSM4: the key schedule, the block transform and the ECB and CBC modes with their
// padding, on top of the fastest kernel the CPU offers.
//
// Messages are never copied as a whole: full blocks go straight from the input to the
// output, and only the last, padded block is assembled in a small buffer.
#include <pelmo/func.hpp>
#include <pelmo/sm4.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "common/wipe.hpp"
#include "func/padding.hpp"
#include "sm4/constants.hpp"
#include "sm4/kernels/kernel.hpp"
#include "sm4/modes.hpp"

namespace pelmo::detail::sm4 {

namespace {

using pelmo::sm4::ISO9797M2;
using pelmo::sm4::PBOC;
using pelmo::sm4::PKCS7;
using pelmo::sm4::ZERO;

/// Wipes a buffer when it goes out of scope (plaintext, padded blocks).
struct Wiper {
    std::uint8_t* p;
    std::size_t n;
    ~Wiper() { secure_wipe(p, n); }
};

[[noreturn]] void throw_partial_block(std::size_t n) {
    throw std::out_of_range("SM4 input of " + std::to_string(n) +
                            " bytes is not a whole number of 16-byte blocks");
}

void check_iv(ByteView iv) {
    if (iv.size() < 16)
        throw std::out_of_range("SM4 CBC needs a 16-byte IV, got " + std::to_string(iv.size()) +
                                " bytes");
}

/// The last block(s) of the padded message. Every padding scheme depends only on the
/// length modulo 16, so padding the partial tail gives exactly the tail of the padded
/// message: 16 bytes, or none (PBOC of a whole number of blocks). Without a padding
/// mode the tail stays as it is and must be empty.
Bytes padded_tail(int padding_mode, ByteView tail) {
    switch (padding_mode) {
        case ZERO:
            return func::zero_padding(tail);
        case ISO9797M2:
            return func::iso9797m2_padding(tail);
        case PKCS7:
            return func::pkcs7_padding(tail);
        case PBOC:
            return func::pboc_padding(tail);
        default:
            return Bytes(tail.begin(), tail.end());
    }
}

std::size_t unpadded_size(int padding_mode, ByteView data) {
    switch (padding_mode) {
        case ZERO:
            return padding::zero_kept(data);
        case ISO9797M2:
            return padding::iso9797m2_kept(data);
        case PKCS7:
            return padding::pkcs7_kept(data);
        case PBOC:
            return padding::pboc_kept(data);
        default:
            return data.size();
    }
}

/// Unpads out (a decrypted message) or wipes it and rethrows.
std::size_t unpad_or_wipe(int padding_mode, std::uint8_t* out, std::size_t n) {
    try {
        return unpadded_size(padding_mode, ByteView(out, n));
    } catch (...) {
        secure_wipe(out, n);
        throw;
    }
}

/// Encryption with padding: run(in, out, nblocks) transforms whole blocks and is called
/// for the full blocks of the input, then for the padded tail.
template <typename Run>
Bytes encrypt_padded(int padding_mode, ByteView input, Run run) {
    const std::size_t full = input.size() & ~std::size_t{15};
    Bytes tail = padded_tail(padding_mode, input.subspan(full));
    Wiper tail_wiper{tail.data(), tail.size()};
    if (tail.size() % 16 != 0) throw_partial_block(input.size());
    Bytes out(full + tail.size());
    if (full != 0) run(input.data(), out.data(), full / 16);
    if (!tail.empty()) run(tail.data(), out.data() + full, tail.size() / 16);
    return out;
}

}  // namespace

std::size_t cbc_decrypt_into(const pelmo::sm4::CryptSM4& engine, ByteView iv, ByteView in,
                             std::uint8_t* out) {
    check_iv(iv);
    if (in.size() % 16 != 0) throw_partial_block(in.size());
    std::uint8_t chain[16];
    std::copy_n(iv.begin(), 16, chain);
    if (!in.empty())
        active_kernel().cbc_decrypt(engine.sk.data(), chain, in.data(), out, in.size() / 16);
    return unpad_or_wipe(engine.padding_mode, out, in.size());
}

}  // namespace pelmo::detail::sm4

namespace pelmo::sm4 {

using detail::sm4::active_kernel;

CryptSM4::CryptSM4(int direction, int padding) : mode(direction), padding_mode(padding) {}

CryptSM4::~CryptSM4() {
    detail::secure_wipe(sk);
}

CryptSM4::CryptSM4(CryptSM4&& other) noexcept : CryptSM4(other) {
    detail::secure_wipe(other.sk);
}

CryptSM4& CryptSM4::operator=(CryptSM4&& other) noexcept {
    if (this != &other) {
        *this = other;
        detail::secure_wipe(other.sk);
    }
    return *this;
}

void CryptSM4::set_key(ByteView key, int direction) {
    if (key.size() < 16)
        throw std::out_of_range("SM4 needs a 16-byte key, got " + std::to_string(key.size()) +
                                " bytes");
    std::array<std::uint32_t, 32> rk;
    const detail::WipeOnExit wipe_rk(rk);
    active_kernel().expand_key(key.data(), rk.data());
    if (direction == SM4_DECRYPT) std::reverse(rk.begin(), rk.end());
    sk = rk;
    mode = direction;
}

Bytes CryptSM4::one_round(std::span<const std::uint32_t> round_keys, ByteView in_put) const {
    if (round_keys.size() < 32)
        throw std::out_of_range("SM4 needs 32 round keys, got " +
                                std::to_string(round_keys.size()));
    if (in_put.size() < 16)
        throw std::out_of_range("SM4 block of " + std::to_string(in_put.size()) +
                                " bytes; 16 are needed");
    Bytes out(16);
    active_kernel().ecb(round_keys.data(), in_put.data(), out.data(), 1);
    return out;
}

std::uint32_t CryptSM4::_round_key(std::uint32_t ka) {
    return detail::sm4::linear_l_key(active_kernel().tau(ka));
}

std::uint32_t CryptSM4::_f(std::uint32_t x0, std::uint32_t x1, std::uint32_t x2, std::uint32_t x3,
                           std::uint32_t rk) {
    return x0 ^ detail::sm4::linear_l(active_kernel().tau(x1 ^ x2 ^ x3 ^ rk));
}

Bytes CryptSM4::crypt_ecb(ByteView input_data) const {
    const detail::sm4::Kernel& k = active_kernel();
    const auto run = [&](const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
        k.ecb(sk.data(), in, out, n);
    };
    // Padding only when encrypting, unpadding only when decrypting; any other mode
    // value does neither (the direction itself lives in the order of sk).
    if (mode == SM4_ENCRYPT) return detail::sm4::encrypt_padded(padding_mode, input_data, run);
    if (input_data.size() % 16 != 0) detail::sm4::throw_partial_block(input_data.size());
    Bytes out(input_data.size());
    if (!out.empty()) run(input_data.data(), out.data(), out.size() / 16);
    if (mode == SM4_DECRYPT)
        out.resize(detail::sm4::unpad_or_wipe(padding_mode, out.data(), out.size()));
    return out;
}

Bytes CryptSM4::crypt_cbc(ByteView iv, ByteView input_data) const {
    detail::sm4::check_iv(iv);
    if (mode == SM4_ENCRYPT) {
        const detail::sm4::Kernel& k = active_kernel();
        std::uint8_t chain[16];
        std::copy_n(iv.begin(), 16, chain);
        return detail::sm4::encrypt_padded(
            padding_mode, input_data,
            [&](const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
                k.cbc_encrypt(sk.data(), chain, in, out, n);
            });
    }
    // Every mode other than SM4_ENCRYPT decrypts.
    if (input_data.size() % 16 != 0) detail::sm4::throw_partial_block(input_data.size());
    Bytes out(input_data.size());
    out.resize(detail::sm4::cbc_decrypt_into(*this, iv, input_data, out.data()));
    return out;
}

}  // namespace pelmo::sm4
