#include "common/der.hpp"

#include <stdexcept>

#include "common/hex.hpp"

namespace pelmo::detail::der {

namespace {

ByteView strip_zeros(ByteView v) {
    std::size_t i = 0;
    while (i < v.size() && v[i] == 0) ++i;
    return v.subspan(i);
}

std::string cat(std::string_view a, std::string_view b) {
    std::string s(a);
    s += b;
    return s;
}

}  // namespace

void Reader::fail(std::string_view why) const {
    throw std::invalid_argument("invalid DER " + std::string(what_) + ": " + std::string(why));
}

std::size_t Reader::read_length(std::string_view name) {
    if (empty()) fail(cat(name, " has no length"));
    ct::declassify(&data_[pos_], 1);
    const std::uint8_t first = data_[pos_++];
    if (first < 0x80) return first;
    const std::size_t count = first & 0x7f;
    if (count == 0) fail(cat(name, " has an indefinite length"));
    if (count > 4) fail(cat(name, " length is too large"));
    if (count > data_.size() - pos_) fail(cat(name, " length runs past the end"));
    ct::declassify(&data_[pos_], count);
    if (data_[pos_] == 0) fail(cat(name, " length is not minimal"));
    std::size_t len = 0;
    for (std::size_t i = 0; i < count; ++i) len = (len << 8) | data_[pos_++];
    // The long form is only for lengths that the short form cannot hold.
    if (len < 0x80) fail(cat(name, " length is not minimal"));
    return len;
}

ByteView Reader::read(std::uint8_t tag, std::string_view name) {
    if (empty()) fail(cat("missing ", name));
    ct::declassify(&data_[pos_], 1);
    const std::uint8_t got = data_[pos_];
    if (got != tag) {
        fail(cat(cat("expected ", name), cat(", found tag 0x", to_hex(ByteView(&got, 1)))));
    }
    ++pos_;
    const std::size_t len = read_length(name);
    if (len > data_.size() - pos_) fail(cat(name, " runs past the end"));
    const ByteView contents = data_.subspan(pos_, len);
    pos_ += len;
    return contents;
}

ByteView Reader::read_unsigned_integer(std::string_view name) {
    const ByteView v = read(kInteger, name);
    ct::declassify(v.data(), v.size());
    if (v.empty()) fail(cat(name, " is empty"));
    if (v[0] & 0x80) fail(cat(name, " is negative"));
    if (v.size() > 1 && v[0] == 0 && !(v[1] & 0x80)) fail(cat(name, " is not minimally encoded"));
    return strip_zeros(v);
}

unsigned Reader::read_small_integer(std::string_view name) {
    const ByteView v = read_unsigned_integer(name);
    if (v.size() > 2) fail(cat(name, " is too large"));
    unsigned r = 0;
    for (std::uint8_t b : v) r = (r << 8) | b;
    return r;
}

void Reader::expect_end(std::string_view why) const {
    if (!empty()) fail(why);
}

void write(Bytes& out, std::uint8_t tag, ByteView contents) {
    out.push_back(tag);
    const std::size_t n = contents.size();
    if (n < 0x80) {
        out.push_back(static_cast<std::uint8_t>(n));
    } else {
        std::uint8_t len[sizeof(std::size_t)];
        std::size_t count = 0;
        for (std::size_t v = n; v != 0; v >>= 8) len[count++] = static_cast<std::uint8_t>(v);
        out.push_back(static_cast<std::uint8_t>(0x80 | count));
        while (count != 0) out.push_back(len[--count]);
    }
    out.insert(out.end(), contents.begin(), contents.end());
}

void write_unsigned_integer(Bytes& out, ByteView magnitude) {
    const ByteView m = strip_zeros(magnitude);
    Bytes v;
    v.reserve(m.size() + 1);
    if (m.empty() || (m[0] & 0x80)) v.push_back(0);
    v.insert(v.end(), m.begin(), m.end());
    write(out, kInteger, v);
}

}  // namespace pelmo::detail::der
