// SM2 ciphertexts between pelmo's raw layouts and the ASN.1 SEQUENCE that OpenSSL
// and most other implementations exchange.
#include <pelmo/formats.hpp>

#include <stdexcept>

#include "common/der.hpp"

namespace pelmo::formats {

namespace {

namespace der = detail::der;

constexpr std::size_t kCoord = 32, kC1 = 64, kC3 = 32;

void check_mode(int mode) {
    if (mode != 0 && mode != 1) throw std::invalid_argument("mode must be one of (0, 1)");
}

}  // namespace

Bytes sm2_ciphertext_to_asn1(ByteView ciphertext, int mode) {
    check_mode(mode);
    if (ciphertext.size() <= kC1 + kC3)
        throw std::invalid_argument("SM2 ciphertext of " + std::to_string(ciphertext.size()) +
                                    " bytes has no C2 (at least 97 bytes needed)");
    const std::size_t c2_len = ciphertext.size() - kC1 - kC3;
    const ByteView c3 = mode == 1 ? ciphertext.subspan(kC1, kC3) : ciphertext.subspan(kC1 + c2_len);
    const ByteView c2 = mode == 1 ? ciphertext.subspan(kC1 + kC3) : ciphertext.subspan(kC1, c2_len);
    Bytes body;
    der::write_unsigned_integer(body, ciphertext.subspan(0, kCoord));
    der::write_unsigned_integer(body, ciphertext.subspan(kCoord, kCoord));
    der::write(body, der::kOctetString, c3);
    der::write(body, der::kOctetString, c2);
    Bytes out;
    der::write(out, der::kSequence, body);
    return out;
}

Bytes sm2_ciphertext_from_asn1(ByteView data, int mode) {
    check_mode(mode);
    der::Reader outer(data, "SM2 ciphertext");
    der::Reader r(outer.read(der::kSequence, "SEQUENCE"), "SM2 ciphertext");
    outer.expect_end("bytes follow the SEQUENCE");
    Bytes out(kC1, 0);
    for (std::size_t i = 0; i < 2; ++i) {
        const ByteView v = r.read_unsigned_integer(i == 0 ? "INTEGER x" : "INTEGER y");
        if (v.size() > kCoord) r.fail("C1 coordinate longer than 32 octets");
        std::copy(v.begin(), v.end(),
                  out.begin() + static_cast<std::ptrdiff_t>((i + 1) * kCoord - v.size()));
    }
    const ByteView c3 = r.read(der::kOctetString, "C3 OCTET STRING");
    if (c3.size() != kC3) r.fail("C3 is not 32 octets");
    const ByteView c2 = r.read(der::kOctetString, "C2 OCTET STRING");
    if (c2.empty()) r.fail("C2 is empty");
    r.expect_end("the SEQUENCE holds more than four elements");
    const ByteView first = mode == 1 ? c3 : c2;
    const ByteView second = mode == 1 ? c2 : c3;
    out.insert(out.end(), first.begin(), first.end());
    out.insert(out.end(), second.begin(), second.end());
    return out;
}

}  // namespace pelmo::formats
