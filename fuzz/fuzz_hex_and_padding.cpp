// The hexadecimal codec and the unpadding helpers on arbitrary input: only the
// documented exceptions, inputs untouched, and round trips where they apply.
#include <pelmo/func.hpp>
#include <pelmo/sm3.hpp>

#include <stdexcept>
#include <string>

#include "common/hex.hpp"
#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string before = text;

    // Hex decode: either a result that re-encodes to the lower-cased text, or invalid_argument.
    try {
        const pelmo::Bytes raw = pelmo::detail::from_hex(text);
        std::string lower = text;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        FUZZ_CHECK(pelmo::detail::to_hex(raw) == lower);
    } catch (const std::invalid_argument&) {
    }
    allow_documented_errors([&] { (void)pelmo::detail::parse_hex_int(text); });
    allow_documented_errors([&] { (void)pelmo::sm3::sm3_kdf(text, 40); });

    const pelmo::ByteView bytes(data, size);
    namespace f = pelmo::func;
    allow_documented_errors([&] { (void)f::pkcs7_unpadding(bytes); });
    allow_documented_errors([&] { (void)f::zero_unpadding(bytes); });
    allow_documented_errors([&] { (void)f::pboc_unpadding(bytes); });
    allow_documented_errors([&] { (void)f::iso9797m2_unpadding(bytes); });
    FUZZ_CHECK(f::pkcs7_unpadding(f::pkcs7_padding(bytes)) ==
               pelmo::Bytes(bytes.begin(), bytes.end()));
    FUZZ_CHECK(f::iso9797m2_unpadding(f::iso9797m2_padding(bytes)) ==
               pelmo::Bytes(bytes.begin(), bytes.end()));
    FUZZ_CHECK(text == before);
    return 0;
}
