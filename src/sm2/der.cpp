#include "sm2/der.hpp"

#include <stdexcept>
#include <string>

namespace pelmo::detail::sm2::der {

namespace {

constexpr std::uint8_t kInteger = 0x02;
constexpr std::uint8_t kSequence = 0x30;

void put_length(Bytes& out, std::size_t len) {
    if (len < 0x80) {
        out.push_back(static_cast<std::uint8_t>(len));
        return;
    }
    std::uint8_t digits[sizeof(std::size_t)];
    std::size_t count = 0;
    for (std::size_t v = len; v != 0; v >>= 8) digits[count++] = static_cast<std::uint8_t>(v);
    out.push_back(static_cast<std::uint8_t>(0x80 | count));
    while (count != 0) out.push_back(digits[--count]);
}

ByteView strip_zeros(ByteView v) {
    std::size_t i = 0;
    while (i < v.size() && v[i] == 0) ++i;
    return v.subspan(i);
}

void put_integer(Bytes& out, ByteView magnitude) {
    const ByteView m = strip_zeros(magnitude);
    // A leading 0x00 keeps the value non-negative when its top bit is set; 0 is one 0x00.
    const bool pad = m.empty() || (m[0] & 0x80) != 0;
    out.push_back(kInteger);
    put_length(out, m.size() + (pad ? 1 : 0));
    if (pad) out.push_back(0);
    out.insert(out.end(), m.begin(), m.end());
}

std::size_t integer_size(ByteView magnitude) {
    const ByteView m = strip_zeros(magnitude);
    const std::size_t body = m.size() + ((m.empty() || (m[0] & 0x80) != 0) ? 1 : 0);
    Bytes len;
    put_length(len, body);
    return 1 + len.size() + body;
}

[[noreturn]] void fail(const std::string& why) {
    throw std::invalid_argument("invalid DER signature: " + why);
}

class Reader {
  public:
    explicit Reader(ByteView data) : data_(data) {}

    bool at_end() const { return pos_ == data_.size(); }

    // One tag-length-value with the given tag; returns its contents.
    ByteView element(std::uint8_t tag, const char* name) {
        if (at_end()) fail(std::string("missing ") + name);
        const std::uint8_t got = data_[pos_++];
        if (got != tag) {
            static const char digits[] = "0123456789abcdef";
            fail(std::string("expected ") + name + ", found tag 0x" + digits[got >> 4] +
                 digits[got & 15]);
        }
        const std::size_t len = length(name);
        if (len > data_.size() - pos_) fail(std::string(name) + " runs past the end");
        const ByteView contents = data_.subspan(pos_, len);
        pos_ += len;
        return contents;
    }

  private:
    std::size_t length(const char* name) {
        if (at_end()) fail(std::string(name) + " has no length");
        const std::uint8_t first = data_[pos_++];
        if (first < 0x80) return first;
        const std::size_t count = first & 0x7f;
        if (count == 0) fail(std::string(name) + " has an indefinite length");
        if (count > sizeof(std::uint32_t)) fail(std::string(name) + " length is too large");
        if (count > data_.size() - pos_) fail(std::string(name) + " length runs past the end");
        if (data_[pos_] == 0) fail(std::string(name) + " length is not minimal");
        std::size_t len = 0;
        for (std::size_t i = 0; i < count; ++i) len = (len << 8) | data_[pos_++];
        // The long form is only for lengths that the short form cannot hold.
        if (len < 0x80) fail(std::string(name) + " length is not minimal");
        return len;
    }

    ByteView data_;
    std::size_t pos_ = 0;
};

Bytes integer_value(ByteView contents, const char* name) {
    if (contents.empty()) fail(std::string(name) + " is empty");
    if ((contents[0] & 0x80) != 0) fail(std::string(name) + " is negative");
    if (contents.size() > 1 && contents[0] == 0 && (contents[1] & 0x80) == 0)
        fail(std::string(name) + " is not minimally encoded");
    const ByteView m = strip_zeros(contents);
    return Bytes(m.begin(), m.end());
}

}  // namespace

Bytes encode_signature(ByteView r, ByteView s) {
    Bytes out;
    const std::size_t body = integer_size(r) + integer_size(s);
    out.reserve(body + 6);
    out.push_back(kSequence);
    put_length(out, body);
    put_integer(out, r);
    put_integer(out, s);
    return out;
}

Signature decode_signature(ByteView der) {
    Reader outer(der);
    const ByteView seq = outer.element(kSequence, "SEQUENCE");
    if (!outer.at_end()) fail("bytes follow the SEQUENCE");
    Reader inner(seq);
    Signature sig;
    sig.r = integer_value(inner.element(kInteger, "INTEGER r"), "INTEGER r");
    sig.s = integer_value(inner.element(kInteger, "INTEGER s"), "INTEGER s");
    if (!inner.at_end()) fail("the SEQUENCE holds more than two elements");
    return sig;
}

}  // namespace pelmo::detail::sm2::der
