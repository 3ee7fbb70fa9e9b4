// HKDF (RFC 5869) with HMAC-SM3: PRK = HMAC(salt, IKM), then
// T(i) = HMAC(PRK, T(i-1) || info || i) for i = 1..255, concatenated and cut to length.
#include <pelmo/sm3.hpp>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "common/wipe.hpp"

namespace pelmo::sm3 {

namespace {

constexpr std::size_t kHkdfMaxBytes = 255 * SM3::digest_size;

}  // namespace

Bytes hkdf_sm3(ByteView ikm, ByteView salt, ByteView info, std::size_t length) {
    if (length == 0 || length > kHkdfMaxBytes)
        throw std::invalid_argument("HKDF length must be 1.." + std::to_string(kHkdfMaxBytes) +
                                    " bytes (255 blocks of 32), got " + std::to_string(length));
    // No salt is a digest's length of zeros.
    static constexpr std::uint8_t kZeroSalt[SM3::digest_size] = {};
    HmacSM3 extract(salt.empty() ? ByteView(kZeroSalt) : salt);
    extract.update(ikm);
    SM3::Digest prk = extract.digest();
    const HmacSM3 keyed(prk);
    detail::secure_wipe(prk);

    Bytes out(length);
    SM3::Digest t{};
    std::size_t t_size = 0;  // T(0) is empty
    std::size_t done = 0;
    for (unsigned i = 1; done < length; ++i) {
        const std::uint8_t counter = static_cast<std::uint8_t>(i);
        HmacSM3 mac = keyed;
        mac.update(ByteView(t.data(), t_size)).update(info).update(ByteView(&counter, 1));
        t = mac.digest();
        t_size = t.size();
        const std::size_t take = std::min(t.size(), length - done);
        std::memcpy(out.data() + done, t.data(), take);
        done += take;
    }
    detail::secure_wipe(t);
    return out;
}

}  // namespace pelmo::sm3
