// The public-key reader that takes every form on arbitrary input: a key or
// std::invalid_argument; a key it reads is on the curve, so every encoding of it is
// written and reads back as the same key.
#include <pelmo/formats.hpp>

#include <stdexcept>
#include <string>

#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace f = pelmo::formats;
    using E = f::Sm2PublicKeyEncoding;
    std::string pub;
    try {
        pub = f::sm2_public_key_from_any(pelmo::ByteView(data, size));
    } catch (const std::invalid_argument&) {
        return 0;
    }
    FUZZ_CHECK(pub.size() == 128);
    for (const E e : {E::raw, E::uncompressed, E::compressed, E::spki_der, E::spki_pem})
        FUZZ_CHECK(f::sm2_public_key_from_any(f::sm2_public_key_encode(pub, e)) == pub);
    return 0;
}
