#include "sm2/der.hpp"

#include "common/der.hpp"

namespace pelmo::detail::sm2::der {

namespace codec = detail::der;

Bytes encode_signature(ByteView r, ByteView s) {
    Bytes body;
    body.reserve(70);
    codec::write_unsigned_integer(body, r);
    codec::write_unsigned_integer(body, s);
    Bytes out;
    out.reserve(body.size() + 2);
    codec::write(out, codec::kSequence, body);
    return out;
}

Signature decode_signature(ByteView der) {
    codec::Reader outer(der, "signature");
    codec::Reader inner(outer.read(codec::kSequence, "SEQUENCE"), "signature");
    outer.expect_end("bytes follow the SEQUENCE");
    const ByteView r = inner.read_unsigned_integer("INTEGER r");
    const ByteView s = inner.read_unsigned_integer("INTEGER s");
    inner.expect_end("the SEQUENCE holds more than two elements");
    return Signature{Bytes(r.begin(), r.end()), Bytes(s.begin(), s.end())};
}

}  // namespace pelmo::detail::sm2::der
