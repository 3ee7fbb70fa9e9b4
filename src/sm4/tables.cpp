// The module tables of pelmo::sm4.
#include <pelmo/sm4.hpp>

#include "sm4/constants.hpp"

namespace pelmo::sm4 {

const std::array<std::uint8_t, 256> SM4_BOXES_TABLE = detail::sm4::kSbox;
const std::array<std::uint32_t, 4> SM4_FK = detail::sm4::kFk;
const std::array<std::uint32_t, 32> SM4_CK = detail::sm4::kCk;

}  // namespace pelmo::sm4
