// HMAC-SM3 (RFC 2104): SM3 over (K ^ opad) || SM3((K ^ ipad) || message), where K is the
// key zero-padded to a block, or the key's digest when the key is longer than a block.
// The two key blocks are compressed once per key; the message then continues from the
// inner state and the outer hash from the outer state.
#include <pelmo/sm3.hpp>

#include <cstring>

#include "common/hex.hpp"
#include "common/wipe.hpp"
#include "sm3/compress.hpp"

namespace pelmo::sm3 {

HmacSM3::HmacSM3(ByteView key) noexcept {
    std::uint8_t block[SM3::block_size] = {};
    if (key.size() > SM3::block_size) {
        SM3::Digest hashed = SM3::hash(key);
        std::memcpy(block, hashed.data(), hashed.size());
        detail::secure_wipe(hashed);
    } else if (!key.empty()) {
        std::memcpy(block, key.data(), key.size());
    }
    const auto compress = detail::sm3::compress_kernel();
    for (std::uint8_t& b : block) b ^= 0x36;
    inner_ = IV;
    compress(inner_.data(), block, 1);
    for (std::uint8_t& b : block) b ^= 0x36 ^ 0x5c;
    outer_ = IV;
    compress(outer_.data(), block, 1);
    detail::secure_wipe(block, sizeof block);
    reset();
}

HmacSM3::~HmacSM3() {
    detail::secure_wipe(inner_);
    detail::secure_wipe(outer_);
}

void HmacSM3::reset() noexcept {
    hash_ = SM3(inner_, SM3::block_size);
}

HmacSM3& HmacSM3::update(ByteView data) noexcept {
    hash_.update(data);
    return *this;
}

SM3::Digest HmacSM3::digest() const noexcept {
    SM3::Digest inner = hash_.digest();
    SM3 outer(outer_, SM3::block_size);
    outer.update(inner);
    detail::secure_wipe(inner);
    return outer.digest();
}

std::string HmacSM3::hexdigest() const {
    return detail::to_hex(digest());
}

SM3::Digest hmac_sm3(ByteView key, ByteView data) noexcept {
    HmacSM3 mac(key);
    mac.update(data);
    return mac.digest();
}

}  // namespace pelmo::sm3
