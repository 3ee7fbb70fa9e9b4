// CryptSM2: SM2 signatures over SM3(Z || M), with Z the identity digest of the signer
// under the fixed identity "1234567812345678".
#include <pelmo/sm2.hpp>
#include <pelmo/sm3.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "common/hex.hpp"
#include "common/wipe.hpp"
#include "sm2/engine.hpp"
#include "sm2/identity.hpp"
#include "sm2/keys.hpp"

namespace pelmo::detail::sm2 {

namespace {

void check_digits(std::string_view text, std::string_view what) {
    for (std::size_t i = 0; i < text.size(); ++i)
        if (hex_digit_value(static_cast<unsigned char>(text[i])) < 0)
            throw_bad_hex_digit(text, i, what);
}

// ENTL, the identity's length in bits as two big-endian octets, then the identity.
Bytes entl_and_id(ByteView id) {
    if (id.size() > kMaxIdentityBytes)
        throw std::invalid_argument("identity of " + std::to_string(id.size()) +
                                    " bytes is longer than " + std::to_string(kMaxIdentityBytes) +
                                    " bytes (its length in bits must fit in two octets)");
    const std::size_t bits = 8 * id.size();
    Bytes out(2 + id.size());
    out[0] = static_cast<std::uint8_t>(bits >> 8);
    out[1] = static_cast<std::uint8_t>(bits);
    std::copy(id.begin(), id.end(), out.begin() + 2);
    return out;
}

// The hash state after ENTL || ID || a || b || xG || yG of the recommended curve with
// the default identity, when the table spells it with the standard's widths (then the
// octets are the standard's, whatever the letter case); nothing otherwise.
const sm3::SM3* recommended_prefix(const Curve& c, ByteView id) {
    if (!c.recommended || c.entry("a").size() != 64 || c.entry("b").size() != 64 ||
        c.entry("g").size() != 128 ||
        !std::equal(id.begin(), id.end(), kDefaultIdentity.begin(), kDefaultIdentity.end()))
        return nullptr;
    static const sm3::SM3 prefix = [] {
        const auto& t = pelmo::sm2::default_ecc_table;
        sm3::SM3 h;
        h.update(entl_and_id(as_bytes(kDefaultIdentity)));
        for (std::string_view part : {std::string_view(t.at("a")), std::string_view(t.at("b")),
                                      std::string_view(t.at("g"))})
            h.update(from_hex(part));
        return h;
    }();
    return &prefix;
}

// SM3(Z || data) with Z the identity digest of the engine's public key under the
// default identity.
sm3::SM3::Digest z_digest(const pelmo::sm2::CryptSM2& engine, ByteView data) {
    if (!engine.public_key)
        throw std::invalid_argument("no public key: the identity digest Z needs it");
    const auto za = identity_digest(EngineAccess::curve(engine), *engine.public_key,
                                    as_bytes(kDefaultIdentity));
    sm3::SM3 h;
    h.update(za).update(data);
    return h.digest();
}

}  // namespace

sm3::SM3::Digest identity_digest(const Curve& c, std::string_view pub, ByteView id) {
    check_digits(pub, "public key");
    const Bytes head = entl_and_id(id);
    sm3::SM3 h;
    if (const sm3::SM3* prefix = recommended_prefix(c, id); prefix && pub.size() == 128) {
        std::uint8_t xy[64];
        from_hex_into(pub, xy);
        h = *prefix;
        h.update(ByteView(xy, sizeof xy));
        return h.digest();
    }
    const std::string_view a = c.entry("a"), b = c.entry("b"), g = c.entry("g");
    check_digits(a, "curve parameter \"a\"");
    check_digits(b, "curve parameter \"b\"");
    check_digits(g, "curve parameter \"g\"");
    const std::string_view parts[] = {a, b, g, pub};
    h.update(head);
    if (std::all_of(std::begin(parts), std::end(parts),
                    [](std::string_view p) { return p.size() % 2 == 0; })) {
        // Every part is whole octets: decode and absorb one at a time.
        for (std::string_view p : parts) h.update(from_hex(p));
    } else {
        // Odd parts share octets across their borders: decode the joined text.
        std::string joined;
        for (std::string_view p : parts) joined.append(p);
        if (joined.size() % 2 != 0)
            throw std::invalid_argument("identity digest input has an odd number (" +
                                        std::to_string(2 * head.size() + joined.size()) +
                                        ") of hexadecimal digits");
        h.update(from_hex(joined));
    }
    return h.digest();
}

}  // namespace pelmo::detail::sm2

namespace pelmo::sm2 {

using detail::sm2::EngineAccess;

std::string CryptSM2::_sm3_z(ByteView data) const {
    return detail::to_hex(detail::sm2::z_digest(*this, data));
}

std::optional<std::string> CryptSM2::sign_with_sm3(
    ByteView data, std::optional<std::string> random_hex_str) const {
    const auto digest = detail::sm2::z_digest(*this, data);
    if (random_hex_str) return sign(digest, *random_hex_str);
    // A fresh k in [1, n - 1].
    std::string k =
        detail::sm2::random_scalar_hex(EngineAccess::curve(*this), detail::sm2::ScalarRange::nonce);
    const detail::WipeOnExit wipe{k};
    return sign(digest, k);
}

bool CryptSM2::verify_with_sm3(std::string_view sign, ByteView data) const {
    return verify(sign, detail::sm2::z_digest(*this, data));
}

}  // namespace pelmo::sm2
