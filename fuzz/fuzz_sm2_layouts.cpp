// SM2 ciphertext layouts on arbitrary input (the first byte picks the layout it is read
// as): every accepted ciphertext converts to every layout and back to what the layout
// itself makes of it, which is the input unless C1 came compressed; decryption by
// structure gives a value, no value or std::invalid_argument, and a layout it reports
// re-encodes the input exactly.
#include <pelmo/formats.hpp>

#include <stdexcept>
#include <string>

#include "fuzz_check.hpp"

namespace {

namespace f = pelmo::formats;
using Layout = f::Sm2CiphertextLayout;

constexpr Layout kLayouts[] = {Layout::c1c2c3, Layout::c1c3c2, Layout::prefixed_c1c2c3,
                               Layout::prefixed_c1c3c2, Layout::asn1};

const std::string kPriv = "3945208f7b2144b13f36e38ac6d39f95889393692860b51a42fb81ef4df7c5b8";

bool prefixed(Layout l) {
    return l == Layout::prefixed_c1c2c3 || l == Layout::prefixed_c1c3c2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const Layout from = kLayouts[data[0] % 5];
    const pelmo::ByteView ct(data + 1, size - 1);
    const pelmo::Bytes input(ct.begin(), ct.end());
    try {
        const pelmo::Bytes normal = f::sm2_ciphertext_convert(ct, from, from);
        const bool compressed = prefixed(from) && ct[0] != 0x04;
        FUZZ_CHECK(compressed || normal == input);
        if (compressed) FUZZ_CHECK(f::sm2_ciphertext_convert(ct, from, from, true) == input);
        for (const Layout to : kLayouts) {
            const pelmo::Bytes out = f::sm2_ciphertext_convert(ct, from, to);
            FUZZ_CHECK(f::sm2_ciphertext_convert(out, to, from) == normal);
        }
    } catch (const std::invalid_argument&) {
    }
    try {
        if (const auto got = f::sm2_decrypt_any_layout(ct, kPriv))
            FUZZ_CHECK(f::sm2_ciphertext_convert(ct, got->layout, got->layout,
                                                 got->compressed_c1) == input);
    } catch (const std::invalid_argument&) {
    }
    return 0;
}
