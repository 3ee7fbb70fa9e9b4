// The layout the SM4 AEAD harnesses read their parameters from:
//   byte 0: bit 0 GCM (1) or CCM (0); bits 1..7 the nonce length (GCM 0..127, CCM as given)
//   byte 1: the tag length; byte 2: the AAD length; byte 3: where to flip a bit
//   then the key (16 bytes), the nonce, the AAD and the message (the rest).
#pragma once

#include <pelmo/sm4.hpp>
#include <pelmo/types.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>

struct AeadInput {
    bool gcm;
    std::size_t tag_len;
    std::uint8_t flip;
    pelmo::ByteView key, nonce, aad, message;
};

inline std::optional<AeadInput> parse_aead_input(const std::uint8_t* data, std::size_t size) {
    if (size < 20) return std::nullopt;
    AeadInput in;
    in.gcm = data[0] & 1;
    const std::size_t nonce_len = data[0] >> 1, aad_len = data[2];
    in.tag_len = data[1] % 20;
    in.flip = data[3];
    in.key = pelmo::ByteView(data + 4, 16);
    std::size_t at = 20;
    if (size - at < nonce_len + aad_len) return std::nullopt;
    in.nonce = pelmo::ByteView(data + at, nonce_len);
    at += nonce_len;
    in.aad = pelmo::ByteView(data + at, aad_len);
    at += aad_len;
    in.message = pelmo::ByteView(data + at, size - at);
    return in;
}

/// The one-shot sealing and opening of the mode the input names.
using AeadSeal = pelmo::Bytes (*)(pelmo::ByteView, pelmo::ByteView, pelmo::ByteView,
                                  pelmo::ByteView, std::size_t);
using AeadOpen = std::optional<pelmo::Bytes> (*)(pelmo::ByteView, pelmo::ByteView, pelmo::ByteView,
                                                 pelmo::ByteView, std::size_t);

inline AeadSeal aead_seal(const AeadInput& in) {
    return in.gcm ? AeadSeal{pelmo::sm4::gcm_seal} : AeadSeal{pelmo::sm4::ccm_seal};
}

inline AeadOpen aead_open(const AeadInput& in) {
    return in.gcm ? AeadOpen{pelmo::sm4::gcm_open} : AeadOpen{pelmo::sm4::ccm_open};
}
