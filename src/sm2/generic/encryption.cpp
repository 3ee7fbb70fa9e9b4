// SM2 encryption on any curve table, step by step on the engine's hexadecimal texts:
// C1 and the shared point come from the double-and-add of _kg, and C1, C2 and C3 are
// cut from and joined as text, so that tables with odd coordinate widths behave as
// the texts dictate, in variable time (GMP). The recommended curve takes this path
// only for a key or k whose value exceeds 256 bits.
#include <stdexcept>

#include <pelmo/sm3.hpp>

#include "common/ct.hpp"
#include "common/hex.hpp"
#include "common/wipe.hpp"
#include "sm2/encrypt.hpp"
#include "sm2/generic/point_ops.hpp"
#include "sm2/kdf.hpp"

namespace pelmo::detail::sm2::generic {

namespace {

// SM3 over the octets that the joined texts x2 || middle || y2 spell (the shared
// point's coordinates: the copies are wiped).
std::string check_value(std::string_view x2, std::string_view middle, std::string_view y2) {
    std::string text;
    const WipeOnExit wipe_text{text};
    text.reserve(x2.size() + middle.size() + y2.size());
    text.append(x2).append(middle).append(y2);
    Bytes octets = from_hex(text);
    const WipeOnExit wipe_octets{octets};
    return sm3::sm3_hash(octets);
}

// The key stream over the octets of the shared point's text, applied to n bytes.
std::uint8_t apply_key_stream(const std::string& xy, const std::uint8_t* in, std::uint8_t* out,
                              std::size_t n) {
    Bytes z = from_hex(xy);
    const WipeOnExit wipe{z};
    return xor_key_stream(z, in, out, n);
}

}  // namespace

bool is_on_curve(const Curve& c, std::string_view point, bool canonical) {
    const std::size_t pl = c.para_len;
    const BigInt x = parse_hex_int(slice(point, 0, pl), "x coordinate");
    const BigInt y = parse_hex_int(slice(point, pl, pl), "y coordinate");
    if (canonical && (x >= c.p || y >= c.p)) return false;
    const BigInt a = parse_hex_int(c.entry("a"), "curve parameter \"a\"");
    const BigInt b = parse_hex_int(c.entry("b"), "curve parameter \"b\"");
    BigInt rest = y * y - (x * x * x + a * x + b);
    mpz_mod(rest.get_mpz_t(), rest.get_mpz_t(), c.p.get_mpz_t());
    return rest == 0;
}

std::optional<Bytes> encrypt(const Curve& c, ByteView data, std::string_view public_key,
                             std::string_view k_hex, int mode) {
    const std::string msg = to_hex(data);
    const BigInt k = parse_hex_int(k_hex, "scalar k");
    const auto C1 = kg_text(c, k, c.entry("g"));
    if (!C1) throw std::invalid_argument("k*G is the point at infinity: no ciphertext with this k");
    auto xy = kg_text(c, k, public_key);
    if (!xy)
        throw std::invalid_argument("k*PB is the point at infinity: no ciphertext with this k");
    const WipeOnExit wipe_xy{*xy};
    const std::string_view x2 = slice(*xy, 0, c.para_len), y2 = slice(*xy, c.para_len, c.para_len);

    Bytes c2(data.size());
    if (apply_key_stream(*xy, data.data(), c2.data(), c2.size()) == 0)
        return std::nullopt;  // an all-zero key stream
    const std::string C2 = to_hex(c2);
    const std::string C3 = check_value(x2, msg, y2);
    return from_hex(mode != 0 ? *C1 + C3 + C2 : *C1 + C2 + C3);
}

std::optional<Bytes> decrypt(const Curve& c, ByteView data, std::string_view d_hex, int mode) {
    const std::string hex = to_hex(data);
    const std::size_t len_2 = 2 * c.para_len, len_3 = len_2 + 64;
    const std::string_view all = hex, C1 = all.substr(0, len_2);
    const std::string_view C3 = mode != 0 ? all.substr(len_2, 64) : all.substr(all.size() - 64);
    const std::string_view C2 =
        mode != 0 ? all.substr(len_3) : all.substr(len_2, all.size() - 64 - len_2);

    const BigInt d = parse_hex_int(d_hex, "private key");
    // Only a point of the curve meets the private key.
    if (!is_on_curve(c, C1, true)) return std::nullopt;
    auto xy = kg_text(c, d, C1);
    if (!xy) return std::nullopt;
    const WipeOnExit wipe_xy{*xy};
    const std::string_view x2 = slice(*xy, 0, c.para_len), y2 = slice(*xy, c.para_len, c.para_len);

    const Bytes c2 = from_hex(C2);
    Bytes M(c2.size());
    if (apply_key_stream(*xy, c2.data(), M.data(), M.size()) == 0) return std::nullopt;
    const std::string u = check_value(x2, to_hex(M), y2);
    if (u.size() != C3.size() ||
        !ct::equal(reinterpret_cast<const std::uint8_t*>(u.data()),
                   reinterpret_cast<const std::uint8_t*>(C3.data()), u.size()))
        return std::nullopt;
    return M;
}

}  // namespace pelmo::detail::sm2::generic
