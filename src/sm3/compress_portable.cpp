#include "sm3/compress.hpp"
#include "sm3/compress_body.hpp"

namespace pelmo::detail::sm3 {

void compress_portable(std::uint32_t state[8], const std::uint8_t* blocks,
                       std::size_t nblocks) noexcept {
    body::compress(state, blocks, nblocks);
}

}  // namespace pelmo::detail::sm3
