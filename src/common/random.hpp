// The operating system's cryptographic random generator (getrandom), the only
// source of randomness in pelmo.
#pragma once

#include <cstdint>
#include <span>

namespace pelmo::detail {

/// Fills out with random bytes; retries on EINTR, throws std::system_error otherwise.
void random_bytes(std::span<std::uint8_t> out);

}  // namespace pelmo::detail
