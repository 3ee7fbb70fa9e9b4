// CryptSM2: SM2 signatures over SM3(Z || M), with Z the identity digest of the signer
// under the fixed identity "1234567812345678".
#include <pelmo/sm2.hpp>
#include <pelmo/sm3.hpp>

#include <stdexcept>
#include <string>

#include "common/hex.hpp"
#include "common/wipe.hpp"
#include "sm2/engine.hpp"
#include "sm2/keys.hpp"

namespace pelmo::detail::sm2 {

namespace {

// ENTL (0x0080, the identity's length in bits) followed by the identity's ASCII octets.
constexpr std::string_view kEntlAndId = "008031323334353637383132333435363738";

void check_digits(std::string_view text, std::string_view what) {
    for (std::size_t i = 0; i < text.size(); ++i)
        if (hex_digit_value(static_cast<unsigned char>(text[i])) < 0)
            throw_bad_hex_digit(text, i, what);
}

// The hash state after ENTL || ID || a || b || xG || yG of the recommended curve, when
// the table spells it with the standard's widths (then the octets are the standard's,
// whatever the letter case); nothing otherwise.
const sm3::SM3* recommended_prefix(const Curve& c) {
    if (!c.recommended || c.entry("a").size() != 64 || c.entry("b").size() != 64 ||
        c.entry("g").size() != 128)
        return nullptr;
    static const sm3::SM3 prefix = [] {
        const auto& t = pelmo::sm2::default_ecc_table;
        sm3::SM3 h;
        for (std::string_view part : {kEntlAndId, std::string_view(t.at("a")),
                                      std::string_view(t.at("b")), std::string_view(t.at("g"))})
            h.update(from_hex(part));
        return h;
    }();
    return &prefix;
}

// SM3(Z || data) with Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA), the curve
// entries and the public key taken as the hexadecimal texts they are stored as.
sm3::SM3::Digest z_digest(const pelmo::sm2::CryptSM2& engine, ByteView data) {
    const Curve& c = EngineAccess::curve(engine);
    if (!engine.public_key)
        throw std::invalid_argument("no public key: the identity digest Z needs it");
    const std::string_view pub = *engine.public_key;
    check_digits(pub, "public key");

    sm3::SM3 h;
    if (const sm3::SM3* prefix = recommended_prefix(c); prefix && pub.size() == 128) {
        std::uint8_t xy[64];
        from_hex_into(pub, xy);
        h = *prefix;
        h.update(ByteView(xy, sizeof xy));
    } else {
        const std::string_view a = c.entry("a"), b = c.entry("b"), g = c.entry("g");
        check_digits(a, "curve parameter \"a\"");
        check_digits(b, "curve parameter \"b\"");
        check_digits(g, "curve parameter \"g\"");
        const std::string_view parts[] = {kEntlAndId, a, b, g, pub};
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
                                            std::to_string(joined.size()) +
                                            ") of hexadecimal digits");
            h.update(from_hex(joined));
        }
    }
    const auto za = h.digest();
    h.reset();
    h.update(za).update(data);
    return h.digest();
}

}  // namespace

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
