// The DER form of an SM2 signature: SEQUENCE { INTEGER r, INTEGER s }, strictly.
#pragma once

#include <pelmo/types.hpp>

namespace pelmo::detail::sm2::der {

/// DER of SEQUENCE { INTEGER r, INTEGER s } from the unsigned big-endian magnitudes
/// r and s (leading zero octets allowed; an empty magnitude is 0).
Bytes encode_signature(ByteView r, ByteView s);

struct Signature {
    Bytes r, s;  // unsigned big-endian magnitudes without leading zero octets (0 is empty)
};

/// Decodes exactly one SEQUENCE of exactly two INTEGERs, each minimally encoded and
/// non-negative, with minimal lengths and nothing after the SEQUENCE. Anything else
/// is std::invalid_argument.
Signature decode_signature(ByteView der);

}  // namespace pelmo::detail::sm2::der
