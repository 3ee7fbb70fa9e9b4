#include "common/der.hpp"

#include <stdexcept>
#include <string>

namespace pelmo::detail::der {

void Reader::fail(std::string_view why) const {
    throw std::invalid_argument("malformed DER in " + std::string(what_) + ": " + std::string(why) +
                                " at offset " + std::to_string(pos_));
}

std::uint8_t Reader::peek_tag() const {
    if (empty()) fail("unexpected end of data");
    return data_[pos_];
}

ByteView Reader::read(std::uint8_t tag) {
    const std::uint8_t got = peek_tag();
    if (got != tag) {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string msg = "expected tag 0x";
        msg += kDigits[tag >> 4];
        msg += kDigits[tag & 15];
        msg += ", found 0x";
        msg += kDigits[got >> 4];
        msg += kDigits[got & 15];
        fail(msg);
    }
    std::size_t at = pos_ + 1;
    if (at >= data_.size()) fail("missing length");
    std::size_t len = data_[at++];
    if (len & 0x80) {
        const std::size_t octets = len & 0x7f;
        if (octets == 0) fail("indefinite length");
        if (octets > 4) fail("length too large");
        if (at + octets > data_.size()) fail("truncated length");
        if (data_[at] == 0) fail("non-minimal length");
        len = 0;
        for (std::size_t i = 0; i < octets; ++i) len = (len << 8) | data_[at++];
        if (len < 0x80) fail("non-minimal length");
    }
    if (len > data_.size() - at) fail("truncated value");
    pos_ = at + len;
    return data_.subspan(at, len);
}

ByteView Reader::read_unsigned_integer() {
    const ByteView v = read(kInteger);
    if (v.empty()) fail("empty INTEGER");
    if (v[0] & 0x80) fail("negative INTEGER");
    if (v.size() > 1 && v[0] == 0 && !(v[1] & 0x80)) fail("non-minimal INTEGER");
    return v[0] == 0 ? v.subspan(1) : v;
}

unsigned Reader::read_small_integer() {
    const ByteView v = read_unsigned_integer();
    if (v.size() > 2) fail("INTEGER too large");
    unsigned r = 0;
    for (std::uint8_t b : v) r = (r << 8) | b;
    return r;
}

void Reader::expect_end() const {
    if (!empty()) fail("unexpected trailing data");
}

void write(Bytes& out, std::uint8_t tag, ByteView value) {
    out.push_back(tag);
    const std::size_t n = value.size();
    if (n < 0x80) {
        out.push_back(static_cast<std::uint8_t>(n));
    } else {
        std::uint8_t len[4];
        int octets = 0;
        for (std::size_t v = n; v != 0; v >>= 8) len[octets++] = static_cast<std::uint8_t>(v);
        out.push_back(static_cast<std::uint8_t>(0x80 | octets));
        while (octets > 0) out.push_back(len[--octets]);
    }
    out.insert(out.end(), value.begin(), value.end());
}

void write_unsigned_integer(Bytes& out, ByteView magnitude) {
    std::size_t skip = 0;
    while (skip < magnitude.size() && magnitude[skip] == 0) ++skip;
    Bytes v;
    v.reserve(magnitude.size() - skip + 1);
    if (skip == magnitude.size() || (magnitude[skip] & 0x80)) v.push_back(0);
    v.insert(v.end(), magnitude.begin() + static_cast<std::ptrdiff_t>(skip), magnitude.end());
    write(out, kInteger, v);
}

}  // namespace pelmo::detail::der
