// HMAC-SM3, PBKDF2-HMAC-SM3 and HKDF-SM3 against OpenSSL on arbitrary input. The first
// bytes choose the split of the rest into key (or password, input keying material),
// salt and message (or info), a streaming chunk size, an iteration count and a length.
#include <pelmo/sm3.hpp>

#include <algorithm>

#include "fuzz_check.hpp"
#include "support/openssl_mac_kdf.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::size_t rest = size - 4;
    const pelmo::ByteView in(data + 4, rest);
    const pelmo::ByteView key = in.first(std::min<std::size_t>(data[0], rest));
    const pelmo::ByteView after = in.subspan(key.size());
    const pelmo::ByteView salt = after.first(std::min<std::size_t>(data[1] % 80, after.size()));
    const pelmo::ByteView msg = after.subspan(salt.size());

    const auto tag = pelmo::sm3::hmac_sm3(key, msg);
    FUZZ_CHECK(pelmo::Bytes(tag.begin(), tag.end()) == pelmo::test::openssl_hmac_sm3(key, msg));
    // Streamed in chunks of a size the input picks.
    const std::size_t chunk = 1 + data[2] % 97;
    pelmo::sm3::HmacSM3 mac(key);
    for (std::size_t at = 0; at < msg.size(); at += chunk)
        mac.update(msg.subspan(at, std::min(chunk, msg.size() - at)));
    FUZZ_CHECK(mac.digest() == tag);

    const std::size_t length = 1 + data[3] % 100;
    const std::uint32_t iterations = 1 + data[2] % 5;
    FUZZ_CHECK(pelmo::sm3::pbkdf2_sm3(key, salt, iterations, length) ==
               pelmo::test::openssl_pbkdf2_sm3(key, salt, iterations, length));
    FUZZ_CHECK(pelmo::sm3::hkdf_sm3(key, salt, msg, length) ==
               pelmo::test::openssl_hkdf_sm3(key, salt, msg, length));
    return 0;
}
