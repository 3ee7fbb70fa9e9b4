// The key stream of SM2 encryption: SM3(Z || ct) for the 32-bit big-endian counter
// ct = 1, 2, ..., 32 bytes per counter value, cut to the message length.
//
// Z (the shared point x2 || y2) is absorbed once; every counter value continues from a
// copy of that state, so each 32 bytes of stream cost one compression for the 64-byte
// Z of the recommended curve. The stream is combined with the data as it is made: it
// never exists as a whole, nor as text. No branch or index depends on Z or the stream,
// and the hashers holding states derived from Z wipe themselves when they go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include <pelmo/sm3.hpp>
#include <pelmo/types.hpp>

#include "common/wipe.hpp"
#include "sm3/kdf.hpp"

namespace pelmo::detail::sm2 {

/// The largest message the 32-bit counter can cover.
inline constexpr std::uint64_t kMaxKeyStreamBytes = kSm3KdfMaxBytes;

/// out[i] = in[i] ^ t[i] for i < n, with t the key stream over z (in and out may be
/// the same buffer). Returns the OR of every stream byte used: zero exactly when the
/// stream is all zero. That value is as secret as z; the caller declassifies a flag.
inline std::uint8_t xor_key_stream(ByteView z, const std::uint8_t* in, std::uint8_t* out,
                                   std::size_t n) {
    if (n > kMaxKeyStreamBytes)
        throw std::invalid_argument("message too long for the SM2 key stream");
    sm3::SM3 base;
    base.update(z);
    std::uint8_t any = 0;
    std::uint32_t ct = 1;
    for (std::size_t done = 0; done < n; done += sm3::SM3::digest_size, ++ct) {
        const std::uint8_t counter[4] = {
            static_cast<std::uint8_t>(ct >> 24), static_cast<std::uint8_t>(ct >> 16),
            static_cast<std::uint8_t>(ct >> 8), static_cast<std::uint8_t>(ct)};
        sm3::SM3 h = base;
        h.update(ByteView(counter, 4));
        sm3::SM3::Digest t = h.digest();
        const std::size_t take = n - done < t.size() ? n - done : t.size();
        for (std::size_t i = 0; i < take; ++i) {
            any |= t[i];
            out[done + i] = static_cast<std::uint8_t>(in[done + i] ^ t[i]);
        }
        secure_wipe(t);
    }
    return any;
}

}  // namespace pelmo::detail::sm2
