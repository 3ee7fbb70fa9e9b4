// PBKDF2 (RFC 8018) with HMAC-SM3. Output block i is U_1 ^ ... ^ U_c with
// U_1 = HMAC(P, S || INT(i)) and U_j = HMAC(P, U_{j-1}). Each U_j after the first is an
// HMAC of a 32-byte message, so it is exactly two compressions: the inner state after
// the key block over U_{j-1} padded as the second block of a 96-byte message, then the
// outer state over the inner digest padded the same way. The loop runs on those states
// and one padded block, with no hasher objects and no allocation.
#include <pelmo/sm3.hpp>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "common/wipe.hpp"
#include "sm3/compress.hpp"
#include "sm3/kdf.hpp"
#include "sm3/state.hpp"

namespace pelmo::sm3 {

Bytes pbkdf2_sm3(ByteView password, ByteView salt, std::uint32_t iterations, std::size_t length) {
    if (iterations == 0) throw std::invalid_argument("PBKDF2 iterations must be at least 1, got 0");
    // The block counter is 32 bits, as in the SM2 key derivation: the same limit.
    if (length == 0 || length > detail::kSm3KdfMaxBytes)
        throw std::invalid_argument(
            "PBKDF2 length must be 1.." + std::to_string(detail::kSm3KdfMaxBytes) +
            " bytes (2^32 - 1 blocks of 32), got " + std::to_string(length));
    const HmacSM3 keyed(password);
    const auto compress = detail::sm3::compress_kernel();
    Bytes out(length);

    // U_j in the first 32 bytes, then the padding of a 96-byte message: 0x80, zeros and
    // the length in bits (768 = 0x300) in the last eight bytes.
    std::uint8_t block[SM3::block_size] = {};
    block[SM3::digest_size] = 0x80;
    block[SM3::block_size - 2] = 0x03;
    std::uint8_t t[SM3::digest_size];
    std::uint32_t st[8];
    std::size_t done = 0;
    for (std::uint32_t i = 1; done < length; ++i) {
        const std::uint8_t counter[4] = {
            static_cast<std::uint8_t>(i >> 24), static_cast<std::uint8_t>(i >> 16),
            static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        HmacSM3 first = keyed;
        first.update(salt).update(ByteView(counter, 4));
        SM3::Digest u = first.digest();
        std::memcpy(block, u.data(), u.size());
        std::memcpy(t, u.data(), u.size());
        detail::secure_wipe(u);
        for (std::uint32_t j = 1; j < iterations; ++j) {
            std::memcpy(st, keyed.inner_.data(), sizeof st);
            compress(st, block, 1);
            detail::sm3::store_state(st, block);
            std::memcpy(st, keyed.outer_.data(), sizeof st);
            compress(st, block, 1);
            detail::sm3::store_state(st, block);
            for (std::size_t k = 0; k < SM3::digest_size; ++k) t[k] ^= block[k];
        }
        const std::size_t take = std::min(SM3::digest_size, length - done);
        std::memcpy(out.data() + done, t, take);
        done += take;
    }
    detail::secure_wipe(block, sizeof block);
    detail::secure_wipe(t, sizeof t);
    detail::secure_wipe(st, sizeof st);
    return out;
}

}  // namespace pelmo::sm3
