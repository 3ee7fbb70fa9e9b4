// The SM4 key schedule, on top of a kernel's S-box.
#include "common/wipe.hpp"
#include "sm4/constants.hpp"
#include "sm4/kernels/kernel.hpp"

namespace pelmo::detail::sm4 {

void expand_key_with(std::uint32_t (*tau)(std::uint32_t) noexcept, const std::uint8_t key[16],
                     std::uint32_t rk[32]) noexcept {
    std::uint32_t k[4];
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t* p = key + 4 * i;
        k[i] = ((std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]}) ^
               kFk[static_cast<std::size_t>(i)];
    }
    for (int i = 0; i < 32; ++i) {
        const std::uint32_t t =
            k[(i + 1) & 3] ^ k[(i + 2) & 3] ^ k[(i + 3) & 3] ^ kCk[static_cast<std::size_t>(i)];
        k[i & 3] ^= linear_l_key(tau(t));
        rk[i] = k[i & 3];
    }
    secure_wipe(k, sizeof k);
}

}  // namespace pelmo::detail::sm4
