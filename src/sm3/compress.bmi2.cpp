// The same compression as the portable kernel, built with BMI2 so that every
// rotation is a flag-free rorx.
#include "sm3/compress.hpp"
#include "sm3/compress_body.hpp"

namespace pelmo::detail::sm3 {

void compress_bmi2(std::uint32_t state[8], const std::uint8_t* blocks,
                   std::size_t nblocks) noexcept {
    body::compress(state, blocks, nblocks);
}

}  // namespace pelmo::detail::sm3
