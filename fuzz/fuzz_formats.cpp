// The key and PEM parsers on arbitrary input: a key or std::invalid_argument, and a
// public key that parses re-encodes to the same DER (strict DER has one encoding).
#include <pelmo/formats.hpp>

#include <stdexcept>
#include <string>

#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace f = pelmo::formats;
    const pelmo::ByteView der(data, size);
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const std::string pub = f::sm2_public_key_from_der(der);
        FUZZ_CHECK(f::sm2_public_key_to_der(pub) == pelmo::Bytes(der.begin(), der.end()));
    } catch (const std::invalid_argument&) {
    }
    try {
        const f::Sm2PrivateKey key = f::sm2_private_key_from_der(der);
        FUZZ_CHECK(key.private_key.size() == 64 && key.public_key.size() == 128);
    } catch (const std::invalid_argument&) {
    }
    try {
        (void)f::sm2_private_key_from_pem(text);
    } catch (const std::invalid_argument&) {
    }
    try {
        (void)f::sm2_public_key_from_pem(text);
    } catch (const std::invalid_argument&) {
    }
    return 0;
}
