// SM2 keys as PKCS#8, SEC 1 and SubjectPublicKeyInfo, in DER and PEM.
//
// A private key never enters a big integer here: its digits or octets go into a
// 32-byte array (the constant-time digit decoder, the constant-time encoder on the way
// out), its range is checked with a borrow chain, and every buffer that held it is
// wiped. In a private-key DER everything but the key's octets is public structure
// (tags, lengths, version numbers, OIDs, the public key), which the readers publish
// as they parse it; the key's octets stay secret.
#include "formats/sm2_keys.hpp"

#include <pelmo/crypt_managers.hpp>
#include <pelmo/formats.hpp>
#include <pelmo/sm2.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <stdexcept>

#include "common/ct.hpp"
#include "common/der.hpp"
#include "common/hex.hpp"
#include "common/wipe.hpp"
#include "formats/pem.hpp"
#include "formats/sm2_points.hpp"
#include "sm2/curve/curve.hpp"
#include "sm2/fast.hpp"

namespace pelmo::formats {

namespace {

namespace der = detail::der;

// 1.2.840.10045.2.1 (id-ecPublicKey) and 1.2.156.10197.1.301 (the SM2 curve).
constexpr std::array<std::uint8_t, 7> kOidEcPublicKey = {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01};
constexpr std::array<std::uint8_t, 8> kOidSm2 = {0x2a, 0x81, 0x1c, 0xcf, 0x55, 0x01, 0x82, 0x2d};
// 1.2.156.10197.1.301.1 and .3 (SM2 signature and encryption), which Botan 2 writes as
// the algorithm of its SM2 keys.
constexpr std::array<std::uint8_t, 9> kOidSm2Sign = {0x2a, 0x81, 0x1c, 0xcf, 0x55,
                                                     0x01, 0x82, 0x2d, 0x01};
constexpr std::array<std::uint8_t, 9> kOidSm2Encrypt = {0x2a, 0x81, 0x1c, 0xcf, 0x55,
                                                        0x01, 0x82, 0x2d, 0x03};

using Key32 = detail::sm2::curve::Bytes32;
using detail::WipeOnExit;

// OIDs and other structure compared here are public; the reader publishes them.
bool equal(ByteView a, ByteView b) {
    detail::ct::declassify(a.data(), a.size());
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// The curve numbers of the public-key check, parsed once from the recommended table.
struct CurveNumbers {
    BigInt p, a, b;
};
const CurveNumbers& curve() {
    static const CurveNumbers c = [] {
        const auto& t = sm2::default_ecc_table;
        return CurveNumbers{detail::parse_hex_int(t.at("p")), detail::parse_hex_int(t.at("a")),
                            detail::parse_hex_int(t.at("b"))};
    }();
    return c;
}

// d in [1, n - 2]: with d = n - 1, 1 + d has no inverse mod n and no signature exists.
// Constant time; only the outcome is published.
void check_private_range(const Key32& d) {
    std::uint64_t ok = detail::sm2::fast::in_range_mask(d, detail::sm2::ScalarRange::private_key);
    detail::ct::declassify(&ok, sizeof ok);
    if (ok == 0) throw std::invalid_argument("SM2 private key out of range [1, n-2]");
}

// A private key of 64 hexadecimal digits (either case) into its octets, range-checked.
void parse_private_key(std::string_view hex, Key32& d) {
    if (hex.size() != 64)
        throw std::invalid_argument("SM2 private key must be 64 hexadecimal digits, got " +
                                    std::to_string(hex.size()));
    (void)detail::sm2::fast::parse_scalar(hex, d, "private key");  // 64 digits always fit
    check_private_range(d);
}

// The lower-case digits of a checked private key.
std::string checked_private_key(std::string_view hex) {
    Key32 d{};
    const WipeOnExit wipe_d(d);
    parse_private_key(hex, d);
    return detail::to_hex(d);
}

// A public key of 128 digits (or 130 with a leading "04") on the curve; returns x || y
// in lower case.
std::string checked_public_key(std::string_view hex) {
    if (hex.size() == 130 && hex.substr(0, 2) == "04") hex.remove_prefix(2);
    if (hex.size() != 128)
        throw std::invalid_argument("SM2 public key must be 128 hexadecimal digits, got " +
                                    std::to_string(hex.size()));
    const BigInt x = detail::parse_hex_int(hex.substr(0, 64), "public key x");
    const BigInt y = detail::parse_hex_int(hex.substr(64), "public key y");
    const CurveNumbers& c = curve();
    if (x >= c.p || y >= c.p) throw std::invalid_argument("SM2 public key coordinate not below p");
    const BigInt lhs = y * y % c.p;
    const BigInt rhs = ((x * x % c.p) * x + c.a * x + c.b) % c.p;
    if (lhs != rhs) throw std::invalid_argument("SM2 public key is not a point of the curve");
    return detail::int_to_hex(x, 64) + detail::int_to_hex(y, 64);
}

// d*G through the manager, whose key derivation runs in constant time.
std::string derive_public_key(const std::string& private_key) {
    crypt_managers::SM2Manager manager(private_key);
    const WipeOnExit wipe_copy(*manager.private_key);
    return manager.get_public_key();
}

// Buffers that will hold a private key: sized once for the largest key encoding, so
// that no reallocation leaves a copy behind, and wiped by the caller.
Bytes key_buffer() {
    Bytes b;
    b.reserve(256);
    return b;
}

Bytes algorithm_identifier() {
    Bytes inner;
    der::write(inner, der::kOid, kOidEcPublicKey);
    der::write(inner, der::kOid, kOidSm2);
    Bytes out;
    der::write(out, der::kSequence, inner);
    return out;
}

// BIT STRING with no unused bits holding the uncompressed point 04 || x || y.
Bytes public_key_bits(const std::string& xy) {
    Bytes bits = {0x00, 0x04};
    const Bytes raw = detail::from_hex(xy);
    bits.insert(bits.end(), raw.begin(), raw.end());
    return bits;
}

// id-ecPublicKey with the SM2 curve as parameter; with sm2_algorithm also an SM2 OID
// (1.2.156.10197.1.301, or its .1 and .3 arcs) as the algorithm itself, with no
// parameters, NULL, or the SM2 curve OID.
void read_algorithm_identifier(der::Reader& outer, bool sm2_algorithm = false) {
    der::Reader alg(outer.read(der::kSequence, "AlgorithmIdentifier"), "algorithm identifier");
    const ByteView oid = alg.read(der::kOid, "algorithm OID");
    if (sm2_algorithm &&
        (equal(oid, kOidSm2) || equal(oid, kOidSm2Sign) || equal(oid, kOidSm2Encrypt))) {
        if (alg.peek_tag() == der::kNull) {
            if (!alg.read(der::kNull, "NULL parameters").empty()) alg.fail("NULL is not empty");
        } else if (!alg.empty() && !equal(alg.read(der::kOid, "curve OID"), kOidSm2)) {
            alg.fail("curve is not SM2 (1.2.156.10197.1.301)");
        }
        alg.expect_end("the algorithm identifier has extra elements");
        return;
    }
    if (!equal(oid, kOidEcPublicKey))
        alg.fail(sm2_algorithm ? "algorithm is neither id-ecPublicKey nor SM2"
                               : "algorithm is not id-ecPublicKey");
    if (!equal(alg.read(der::kOid, "curve OID"), kOidSm2))
        alg.fail("curve is not SM2 (1.2.156.10197.1.301)");
    alg.expect_end("the algorithm identifier has extra elements");
}

std::string read_public_key_bits(der::Reader& r) {
    const ByteView bits = r.read(der::kBitString, "public key BIT STRING");
    detail::ct::declassify(bits.data(), bits.size());  // a public key
    if (bits.size() != 66 || bits[0] != 0 || bits[1] != 0x04)
        r.fail("public key is not an uncompressed 256-bit point");
    return checked_public_key(detail::to_hex(bits.subspan(2)));
}

// ECPrivateKey (SEC 1): version 1, the key, optional [0] curve, optional [1] public key.
Sm2PrivateKey read_ec_private_key(ByteView data) {
    der::Reader outer(data, "EC private key");
    der::Reader r(outer.read(der::kSequence, "SEQUENCE"), "EC private key");
    outer.expect_end("bytes follow the SEQUENCE");
    if (r.read_small_integer("version") != 1) r.fail("version is not 1");
    const ByteView d = r.read(der::kOctetString, "private key OCTET STRING");
    if (d.empty() || d.size() > 32) r.fail("private key is not 1 to 32 octets");
    Key32 padded{};
    const WipeOnExit wipe_padded(padded);
    std::copy(d.begin(), d.end(), padded.end() - static_cast<std::ptrdiff_t>(d.size()));
    check_private_range(padded);
    std::optional<std::string> stored;
    if (!r.empty() && r.peek_tag() == der::kContext0) {
        der::Reader params(r.read(der::kContext0, "parameters"), "EC parameters");
        if (!equal(params.read(der::kOid, "curve OID"), kOidSm2)) params.fail("curve is not SM2");
        params.expect_end("the parameters have extra elements");
    }
    if (!r.empty() && r.peek_tag() == der::kContext1) {
        der::Reader pub(r.read(der::kContext1, "public key"), "EC public key");
        stored = read_public_key_bits(pub);
        pub.expect_end("the public key has extra elements");
    }
    r.expect_end("the EC private key has extra elements");
    std::string hex = detail::to_hex(padded);
    const WipeOnExit wipe_hex(hex);
    std::string public_key = derive_public_key(hex);
    if (stored && *stored != public_key)
        throw std::invalid_argument("stored SM2 public key does not match the private key");
    return Sm2PrivateKey{std::move(hex), std::move(public_key)};
}

}  // namespace

Bytes sm2_private_key_to_der(std::string_view private_key, std::string_view public_key) {
    Key32 d{};
    const WipeOnExit wipe_d(d);
    parse_private_key(private_key, d);
    const std::string q = checked_public_key(public_key);
    Bytes ec = key_buffer(), ec_seq = key_buffer(), info = key_buffer(), out = key_buffer();
    const WipeOnExit wipe_ec(ec), wipe_ec_seq(ec_seq), wipe_info(info);
    ec.insert(ec.end(), {0x02, 0x01, 0x01});  // version 1
    der::write(ec, der::kOctetString, d);
    Bytes pub;
    der::write(pub, der::kBitString, public_key_bits(q));
    der::write(ec, der::kContext1, pub);
    der::write(ec_seq, der::kSequence, ec);

    info.insert(info.end(), {0x02, 0x01, 0x00});  // version 0
    const Bytes alg = algorithm_identifier();
    info.insert(info.end(), alg.begin(), alg.end());
    der::write(info, der::kOctetString, ec_seq);
    der::write(out, der::kSequence, info);
    return out;
}

std::string sm2_private_key_to_pem(std::string_view private_key, std::string_view public_key) {
    Bytes der = sm2_private_key_to_der(private_key, public_key);
    const WipeOnExit wipe_der(der);
    return pem_encode(der, "PRIVATE KEY");
}

Bytes sm2_public_key_to_der(std::string_view public_key) {
    Bytes info = algorithm_identifier();
    der::write(info, der::kBitString, public_key_bits(checked_public_key(public_key)));
    Bytes out;
    der::write(out, der::kSequence, info);
    return out;
}

std::string sm2_public_key_to_pem(std::string_view public_key) {
    return pem_encode(sm2_public_key_to_der(public_key), "PUBLIC KEY");
}

Sm2PrivateKey sm2_private_key_from_der(ByteView data) {
    // A SEC 1 key starts SEQUENCE { INTEGER 1, OCTET STRING ...; PKCS#8 with INTEGER 0.
    der::Reader outer(data, "private key");
    der::Reader info(outer.read(der::kSequence, "SEQUENCE"), "private key");
    outer.expect_end("bytes follow the SEQUENCE");
    // SEC 1 keys are version 1; PKCS#8 keys version 0, then algorithm and key.
    const unsigned version = info.read_small_integer("version");
    if (version == 1) return read_ec_private_key(data);
    if (version != 0) info.fail("version is neither 0 (PKCS#8) nor 1 (SEC 1)");
    read_algorithm_identifier(info, true);
    const ByteView inner = info.read(der::kOctetString, "PrivateKey OCTET STRING");
    // Optional attributes ([0]) carry nothing pelmo needs.
    if (info.peek_tag() == der::kContext0) info.read(der::kContext0, "attributes");
    info.expect_end("the PKCS#8 key has extra elements");
    return read_ec_private_key(inner);
}

Sm2PrivateKey sm2_private_key_from_pem(std::string_view pem) {
    // SEC 1 keys carry "EC PRIVATE KEY", or "SM2 PRIVATE KEY" as OpenSSL writes them.
    const std::vector<std::string> labels = detail::pem::begin_labels(pem);
    std::string_view label = "PRIVATE KEY";
    for (std::string_view sec1 : {"EC PRIVATE KEY", "SM2 PRIVATE KEY"}) {
        if (std::find(labels.begin(), labels.end(), sec1) != labels.end()) {
            label = sec1;
            break;
        }
    }
    Bytes der = pem_decode(pem, label);
    const WipeOnExit wipe_der(der);
    return sm2_private_key_from_der(der);
}

std::string sm2_public_key_from_der(ByteView data) {
    der::Reader outer(data, "public key");
    der::Reader r(outer.read(der::kSequence, "SEQUENCE"), "public key");
    outer.expect_end("bytes follow the SEQUENCE");
    read_algorithm_identifier(r);
    std::string q = read_public_key_bits(r);
    r.expect_end("the public key has extra elements");
    return q;
}

std::string sm2_public_key_from_pem(std::string_view pem) {
    return sm2_public_key_from_der(pem_decode(pem, "PUBLIC KEY"));
}

namespace {

namespace points = detail::sm2_points;

std::string point_hex(const detail::sm2::curve::Affine& P) {
    Bytes xy;
    points::append(xy, P, false, false);
    return detail::to_hex(xy);
}

}  // namespace

}  // namespace pelmo::formats

namespace pelmo::detail::sm2_keys {

std::string public_key_from_spki(ByteView data) {
    namespace der = detail::der;
    namespace points = detail::sm2_points;
    der::Reader outer(data, "public key");
    der::Reader r(outer.read(der::kSequence, "SEQUENCE"), "public key");
    outer.expect_end("bytes follow the SEQUENCE");
    formats::read_algorithm_identifier(r, true);
    const ByteView bits = r.read(der::kBitString, "public key BIT STRING");
    r.expect_end("the public key has extra elements");
    detail::ct::declassify(bits.data(), bits.size());  // a public key
    if (bits.empty() || bits[0] != 0) r.fail("the BIT STRING has unused bits");
    return formats::point_hex(points::decode_prefixed(bits.subspan(1), "SM2 public key"));
}

}  // namespace pelmo::detail::sm2_keys

namespace pelmo::formats {

namespace {

// The binary forms, told apart by length and first byte.
std::string public_key_from_binary(ByteView data) {
    if (data.size() == 64) return point_hex(points::decode_bare(data, "SM2 public key"));
    if ((data.size() == 33 || data.size() == 65) && points::prefixed_length(data) == data.size())
        return point_hex(points::decode_prefixed(data, "SM2 public key"));
    if (!data.empty() && data[0] == der::kSequence)
        return detail::sm2_keys::public_key_from_spki(data);
    throw std::invalid_argument("SM2 public key of " + std::to_string(data.size()) +
                                " bytes is none of x || y (64), 04 || x || y (65), "
                                "02/03 || x (33), SubjectPublicKeyInfo, hexadecimal or PEM");
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::string sm2_public_key_from_any(std::string_view text) {
    const ByteView bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    // PEM first. The binary forms carry arbitrary coordinate bytes, which can look like
    // armour (x || y with an x that begins "-----BEGIN X-----\n"), so when no PUBLIC KEY
    // block decodes they still get their turn; if they fail too, the PEM error stands.
    if (!detail::pem::begin_labels(text).empty()) {
        try {
            return detail::sm2_keys::public_key_from_spki(pem_decode(text, "PUBLIC KEY"));
        } catch (const std::invalid_argument&) {
            try {
                return public_key_from_binary(bytes);
            } catch (const std::invalid_argument&) {
            }
            throw;
        }
    }
    std::string_view t = text;
    while (!t.empty() && is_space(t.front())) t.remove_prefix(1);
    while (!t.empty() && is_space(t.back())) t.remove_suffix(1);
    const bool hex = !t.empty() && std::all_of(t.begin(), t.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
    // The hexadecimal forms have 66, 128 or 130 digits; no binary form has those lengths.
    if (hex && (t.size() == 66 || t.size() == 128 || t.size() == 130))
        return public_key_from_binary(detail::from_hex(t));
    return public_key_from_binary(bytes);
}

std::string sm2_public_key_from_any(ByteView input) {
    return sm2_public_key_from_any(
        std::string_view(reinterpret_cast<const char*>(input.data()), input.size()));
}

Bytes sm2_public_key_encode(std::string_view public_key, Sm2PublicKeyEncoding encoding) {
    switch (encoding) {
        case Sm2PublicKeyEncoding::spki_der:
            return sm2_public_key_to_der(public_key);
        case Sm2PublicKeyEncoding::spki_pem: {
            const std::string pem = sm2_public_key_to_pem(public_key);
            return Bytes(pem.begin(), pem.end());
        }
        case Sm2PublicKeyEncoding::raw:
        case Sm2PublicKeyEncoding::uncompressed:
        case Sm2PublicKeyEncoding::compressed:
            break;
        default:
            throw std::invalid_argument("unknown SM2 public key encoding");
    }
    const Bytes xy = detail::from_hex(checked_public_key(public_key));
    Bytes out;
    points::append(out, points::decode_bare(xy, "SM2 public key"),
                   encoding != Sm2PublicKeyEncoding::raw,
                   encoding == Sm2PublicKeyEncoding::compressed);
    return out;
}

}  // namespace pelmo::formats

namespace pelmo::detail::sm2_keys {

void private_key_octets(std::string_view private_key, sm2::curve::Bytes32& d) {
    formats::parse_private_key(private_key, d);
}

formats::Sm2PrivateKey key_pair_from_hex(std::string_view private_key) {
    std::string hex = formats::checked_private_key(private_key);
    const WipeOnExit wipe_hex(hex);
    std::string public_key = formats::derive_public_key(hex);
    return formats::Sm2PrivateKey{std::move(hex), std::move(public_key)};
}

}  // namespace pelmo::detail::sm2_keys
