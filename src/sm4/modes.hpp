// Internal entry points of the SM4 modes for pelmo's own callers (SM4Manager), which
// decrypt into a buffer they own instead of receiving a new one.
#pragma once

#include <cstddef>
#include <cstdint>

#include <pelmo/sm4.hpp>
#include <pelmo/types.hpp>

namespace pelmo::detail::sm4 {

/// CBC decryption with the engine's round keys into out (out may equal in.data(); it
/// holds in.size() bytes), then the unpadding of the engine's padding_mode. Returns the
/// length that remains; throws as CryptSM4::crypt_cbc on its decryption path, with out
/// wiped.
std::size_t cbc_decrypt_into(const pelmo::sm4::CryptSM4& engine, ByteView iv, ByteView in,
                             std::uint8_t* out);

}  // namespace pelmo::detail::sm4
