// Types shared by every part of pelmo's public interface.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include <gmpxx.h>

namespace pelmo {

/// A byte string (also the "list of byte values" of the algorithms: one type in C++).
using Bytes = std::vector<std::uint8_t>;
/// A read-only view of bytes; every function takes its byte inputs this way.
using ByteView = std::span<const std::uint8_t>;
/// An unbounded integer.
using BigInt = mpz_class;

}  // namespace pelmo
