// SM2 ciphertexts in every layout and public keys in every form: conversions both ways,
// decryption with the layout told by structure, strictness on malformed input, and
// PKCS#8 keys that name SM2 as their algorithm.
#include <pelmo/crypt_managers.hpp>
#include <pelmo/formats.hpp>
#include <pelmo/sm2.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "common/der.hpp"
#include "common/hex.hpp"
#include "sm2/encrypt.hpp"
#include "support/emulation.hpp"
#include "support/example_keys.hpp"
#include "support/random_input.hpp"

namespace {

namespace fmt = pelmo::formats;
namespace der = pelmo::detail::der;
using pelmo::Bytes;
using pelmo::ByteView;
using Layout = fmt::Sm2CiphertextLayout;

constexpr Layout kLayouts[] = {Layout::c1c2c3, Layout::c1c3c2, Layout::prefixed_c1c2c3,
                               Layout::prefixed_c1c3c2, Layout::asn1};

const std::string& kPriv = pelmo::test::kExamplePrivateKey;
const std::string& kPub = pelmo::test::kExamplePublicKey;

// A fresh C1C3C2 ciphertext of a random message of len bytes to the example key.
Bytes encrypt_c1c3c2(std::size_t len, Bytes* message = nullptr) {
    const pelmo::sm2::CryptSM2 engine(std::nullopt, kPub, pelmo::sm2::default_ecc_table, 1);
    const Bytes m = pelmo::test::random_bytes(len);
    if (message) *message = m;
    std::optional<Bytes> c;
    while (!(c = engine.encrypt(m))) {
    }
    return *c;
}

Bytes convert(const Bytes& c, Layout from, Layout to, bool compress = false) {
    return fmt::sm2_ciphertext_convert(c, from, to, compress);
}

std::string name(Layout l) {
    return std::string(fmt::sm2_ciphertext_layout_name(l));
}

TEST(Sm2CiphertextLayouts, NamesRoundTrip) {
    for (const Layout l : kLayouts) EXPECT_EQ(fmt::sm2_ciphertext_layout_from_name(name(l)), l);
    EXPECT_THROW(fmt::sm2_ciphertext_layout_from_name("der"), std::invalid_argument);
}

TEST(Sm2CiphertextLayouts, EveryLayoutConvertsToEveryOtherAndBack) {
    for (const std::size_t len : {1u, 32u, 33u, 200u}) {
        const Bytes base = encrypt_c1c3c2(len);
        for (const Layout from : kLayouts) {
            const Bytes in = convert(base, Layout::c1c3c2, from);
            EXPECT_EQ(convert(in, from, from), in) << name(from);
            for (const Layout to : kLayouts) {
                SCOPED_TRACE(name(from) + " -> " + name(to) + ", " + std::to_string(len));
                const Bytes out = convert(in, from, to);
                EXPECT_EQ(out, convert(base, Layout::c1c3c2, to));
                EXPECT_EQ(convert(out, to, from), in);
            }
        }
        // Shapes: the prefixed layouts are the bare ones behind 04; compressed, 02/03 || x.
        const Bytes bare = convert(base, Layout::c1c3c2, Layout::c1c2c3);
        const Bytes prefixed = convert(base, Layout::c1c3c2, Layout::prefixed_c1c2c3);
        EXPECT_EQ(prefixed[0], 0x04);
        EXPECT_EQ(Bytes(prefixed.begin() + 1, prefixed.end()), bare);
        for (const Layout p : {Layout::prefixed_c1c2c3, Layout::prefixed_c1c3c2}) {
            const Bytes full = convert(base, Layout::c1c3c2, p);
            const Bytes small = convert(base, Layout::c1c3c2, p, true);
            ASSERT_EQ(small.size() + 32, full.size());
            EXPECT_EQ(small[0], 0x02 | (base[63] & 1));
            EXPECT_TRUE(std::equal(small.begin() + 33, small.end(), full.begin() + 65));
            // Decompressed on the way back, into every layout.
            for (const Layout to : kLayouts)
                EXPECT_EQ(convert(small, p, to), convert(base, Layout::c1c3c2, to));
        }
        EXPECT_THROW(convert(base, Layout::c1c3c2, Layout::c1c3c2, true), std::invalid_argument);
        EXPECT_THROW(convert(base, Layout::c1c3c2, Layout::asn1, true), std::invalid_argument);
    }
}

TEST(Sm2CiphertextLayouts, DecryptionTellsTheLayout) {
    Bytes m;
    const Bytes base = encrypt_c1c3c2(45, &m);
    struct Case {
        Layout layout;
        bool compressed;
    };
    const Case cases[] = {
        {Layout::c1c2c3, false},          {Layout::c1c3c2, false}, {Layout::prefixed_c1c2c3, false},
        {Layout::prefixed_c1c3c2, false}, {Layout::asn1, false},   {Layout::prefixed_c1c2c3, true},
        {Layout::prefixed_c1c3c2, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(name(c.layout) + (c.compressed ? " compressed" : ""));
        const Bytes in = convert(base, Layout::c1c3c2, c.layout, c.compressed);
        const auto got = fmt::sm2_decrypt_any_layout(in, pelmo::test::upper(kPriv));
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(got->plaintext, m);
        EXPECT_EQ(got->layout, c.layout);
        EXPECT_EQ(got->compressed_c1, c.compressed);
        // Another key, or one flipped bit of C2 or C3, fails the check: no value.
        pelmo::crypt_managers::SM2Manager other;
        EXPECT_FALSE(fmt::sm2_decrypt_any_layout(in, other.get_private_key()).has_value());
        for (const std::size_t at : {in.size() - 1, in.size() - 40}) {
            Bytes bad = in;
            bad[at] ^= 0x10;
            EXPECT_FALSE(fmt::sm2_decrypt_any_layout(bad, kPriv).has_value());
        }
    }
    // A bare ciphertext whose x starts with 02 or 03 is still read as bare, although
    // half of such x would lift as compressed points: k = 0x1a8 gives an x of 02 || x'
    // where x' has a point of the curve.
    const pelmo::sm2::CryptSM2 engine(std::nullopt, kPub, pelmo::sm2::default_ecc_table, 1);
    const Bytes c = *pelmo::detail::sm2::encrypt_with_scalar(engine, m, "1a8");
    ASSERT_EQ(c[0], 0x02);
    EXPECT_NO_THROW(convert(c, Layout::prefixed_c1c3c2, Layout::c1c3c2));
    const auto bare = fmt::sm2_decrypt_any_layout(c, kPriv);
    ASSERT_TRUE(bare.has_value());
    EXPECT_EQ(bare->layout, Layout::c1c3c2);
    EXPECT_EQ(bare->plaintext, m);
    EXPECT_THROW(fmt::sm2_decrypt_any_layout(base, kPriv.substr(1)), std::invalid_argument);
}

// The INTEGER x of an ASN.1 ciphertext: its length octet and its first content octet.
std::pair<std::size_t, std::uint8_t> asn1_x_integer(const Bytes& asn1) {
    const std::size_t at = asn1[1] & 0x80 ? 2 + (asn1[1] & 0x7f) : 2;
    return {asn1[at + 1], asn1[at + 2]};
}

TEST(Sm2CiphertextLayouts, Asn1IntegersOf31And33Octets) {
    // k = 0x83d gives C1 an x below 2^247, written in 31 octets (its zero octet
    // dropped); k = 3 one of 2^255 or more, written in 33 (a sign octet in front).
    const pelmo::sm2::CryptSM2 engine(std::nullopt, kPub, pelmo::sm2::default_ecc_table, 1);
    const Bytes m = pelmo::test::random_bytes(7);
    for (const auto& [k, octets] : {std::pair<std::string, std::size_t>{"83d", 31},
                                    std::pair<std::string, std::size_t>{"3", 33}}) {
        SCOPED_TRACE(k);
        const Bytes base = *pelmo::detail::sm2::encrypt_with_scalar(engine, m, k);
        const Bytes asn1 = convert(base, Layout::c1c3c2, Layout::asn1);
        const auto [len, first] = asn1_x_integer(asn1);
        EXPECT_EQ(len, octets);
        EXPECT_EQ(first, octets == 33 ? 0 : base[1]);
        EXPECT_EQ(convert(asn1, Layout::asn1, Layout::c1c3c2), base);
        const auto got = fmt::sm2_decrypt_any_layout(asn1, kPriv);
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(got->plaintext, m);
        EXPECT_EQ(got->layout, Layout::asn1);
        // x written with a superfluous zero octet, or without the sign octet, is not DER.
        Bytes body;
        der::write(body, der::kInteger, Bytes(base.begin(), base.begin() + 32));
        der::write_unsigned_integer(body, Bytes(base.begin() + 32, base.begin() + 64));
        der::write(body, der::kOctetString, Bytes(base.begin() + 64, base.begin() + 96));
        der::write(body, der::kOctetString, Bytes(base.begin() + 96, base.end()));
        Bytes not_der;
        der::write(not_der, der::kSequence, body);
        EXPECT_THROW(convert(not_der, Layout::asn1, Layout::c1c3c2), std::invalid_argument);
        EXPECT_THROW(fmt::sm2_decrypt_any_layout(not_der, kPriv), std::invalid_argument);
    }
}

TEST(Sm2CiphertextLayouts, MalformedInputIsRefused) {
    const Bytes base = encrypt_c1c3c2(10);
    const auto in = [&](Layout l) { return convert(base, Layout::c1c3c2, l); };
    for (const Layout l : kLayouts) {
        SCOPED_TRACE(name(l));
        Bytes trailing = in(l), truncated = in(l), off_curve = in(l);
        trailing.push_back(0);
        // ASN.1 loses its last octet; the others keep C1 and C3 but no C2.
        truncated.resize(l == Layout::asn1                            ? truncated.size() - 1
                         : l == Layout::c1c2c3 || l == Layout::c1c3c2 ? 96u
                                                                      : 97u);
        if (l == Layout::asn1) {
            Bytes b = base;
            b[40] ^= 1;  // y, through the old converter, which takes any 64 bytes
            off_curve = fmt::sm2_ciphertext_to_asn1(b, 1);
        } else {
            off_curve[l == Layout::c1c2c3 || l == Layout::c1c3c2 ? 40 : 41] ^= 1;
        }
        for (const Bytes& b : {truncated, off_curve})
            EXPECT_THROW(convert(b, l, Layout::c1c3c2), std::invalid_argument);
        // A byte after ASN.1 is an error; after the others it is one more byte of C2,
        // which only the check value can refuse.
        if (l == Layout::asn1) {
            EXPECT_THROW(convert(trailing, l, Layout::c1c3c2), std::invalid_argument);
        } else {
            EXPECT_EQ(convert(trailing, l, l), trailing);
            EXPECT_FALSE(fmt::sm2_decrypt_any_layout(trailing, kPriv).has_value());
        }
        // Decryption by structure finds no layout for broken ASN.1 either.
        if (l == Layout::asn1) {
            for (const Bytes& b : {trailing, truncated, off_curve})
                EXPECT_THROW(fmt::sm2_decrypt_any_layout(b, kPriv), std::invalid_argument);
        }
    }
    // ASN.1 whose C3 is not 32 octets, or whose C2 is empty; a prefix that is no point
    // format; a compressed x with no point.
    const auto asn1_of = [&](std::size_t c3_len, std::size_t c2_len) {
        Bytes body;
        der::write_unsigned_integer(body, Bytes(base.begin(), base.begin() + 32));
        der::write_unsigned_integer(body, Bytes(base.begin() + 32, base.begin() + 64));
        der::write(body, der::kOctetString, Bytes(c3_len, 1));
        der::write(body, der::kOctetString, Bytes(c2_len, 2));
        Bytes out;
        der::write(out, der::kSequence, body);
        return out;
    };
    EXPECT_NO_THROW(convert(asn1_of(32, 1), Layout::asn1, Layout::c1c3c2));
    EXPECT_THROW(convert(asn1_of(31, 5), Layout::asn1, Layout::c1c3c2), std::invalid_argument);
    EXPECT_THROW(convert(asn1_of(33, 5), Layout::asn1, Layout::c1c3c2), std::invalid_argument);
    EXPECT_THROW(convert(asn1_of(32, 0), Layout::asn1, Layout::c1c3c2), std::invalid_argument);
    Bytes prefix5 = in(Layout::prefixed_c1c3c2);
    prefix5[0] = 0x05;
    EXPECT_THROW(convert(prefix5, Layout::prefixed_c1c3c2, Layout::c1c3c2), std::invalid_argument);
    Bytes no_point = convert(base, Layout::c1c3c2, Layout::prefixed_c1c3c2, true);
    for (int i = 0; i < 64; ++i) {  // about one x in two has no point
        no_point[32] = static_cast<std::uint8_t>(i);
        try {
            convert(no_point, Layout::prefixed_c1c3c2, Layout::c1c3c2);
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find("no point"), std::string::npos) << e.what();
            break;
        }
    }
    // Garbage fits no layout.
    for (const std::size_t n : {0u, 1u, 96u, 97u, 200u}) {
        Bytes junk(n, 0x5a);
        EXPECT_THROW(fmt::sm2_decrypt_any_layout(junk, kPriv), std::invalid_argument) << n;
    }
}

// --- Public keys ---

Bytes xy() {
    return pelmo::detail::from_hex(kPub);
}

TEST(Sm2PublicKeyForms, EveryFormReadsBack) {
    using E = fmt::Sm2PublicKeyEncoding;
    // A key whose x begins like PEM armour, so its x || y form opens with a BEGIN line
    // (found by fuzzing: that form was read as PEM and refused).
    const std::string armour_x = "-----BEGIN PY#-----\n13M\x07k\xb0\x8f\xf3V\xf3P ";
    const std::string armour_key = fmt::sm2_public_key_from_any("\x03" + armour_x);
    for (int i = 0; i < 5; ++i) {
        const std::string pub = i == 0   ? kPub
                                : i == 4 ? armour_key
                                         : pelmo::crypt_managers::SM2Manager().get_public_key();
        const Bytes raw = fmt::sm2_public_key_encode(pub, E::raw);
        const Bytes full = fmt::sm2_public_key_encode(pub, E::uncompressed);
        const Bytes small = fmt::sm2_public_key_encode("04" + pub, E::compressed);
        const Bytes spki = fmt::sm2_public_key_encode(pub, E::spki_der);
        const Bytes pem = fmt::sm2_public_key_encode(pub, E::spki_pem);
        EXPECT_EQ(pelmo::detail::to_hex(raw), pub);
        EXPECT_EQ(full.size(), 65u);
        EXPECT_EQ(full[0], 4);
        ASSERT_EQ(small.size(), 33u);
        EXPECT_EQ(small[0], 0x02 | (raw[63] & 1));
        EXPECT_EQ(spki, fmt::sm2_public_key_to_der(pub));
        EXPECT_EQ(std::string(pem.begin(), pem.end()), fmt::sm2_public_key_to_pem(pub));
        const std::string inputs[] = {
            std::string(raw.begin(), raw.end()),
            std::string(full.begin(), full.end()),
            std::string(small.begin(), small.end()),
            std::string(spki.begin(), spki.end()),
            std::string(pem.begin(), pem.end()),
            pub,
            "  " + pelmo::test::upper(pelmo::detail::to_hex(full)) + "\n",
            pelmo::detail::to_hex(small) + "\r\n",
        };
        for (const std::string& input : inputs) {
            EXPECT_EQ(fmt::sm2_public_key_from_any(input), pub) << input.size();
            EXPECT_EQ(fmt::sm2_public_key_from_any(pelmo::test::as_bytes(input)), pub);
        }
    }
}

// A SubjectPublicKeyInfo or PKCS#8 key whose AlgorithmIdentifier is replaced: the SM2
// OID as the algorithm, followed by what `params` holds (nothing, NULL, the SM2 OID).
const Bytes kOidSm2 = {0x2a, 0x81, 0x1c, 0xcf, 0x55, 0x01, 0x82, 0x2d};

Bytes sm2_algorithm(const Bytes& params, std::uint8_t arc = 0) {
    Bytes alg, out, oid = kOidSm2;
    if (arc != 0) oid.push_back(arc);  // 1.2.156.10197.1.301.arc
    der::write(alg, der::kOid, oid);
    alg.insert(alg.end(), params.begin(), params.end());
    der::write(out, der::kSequence, alg);
    return out;
}

// Re-encodes a SEQUENCE { [version,] AlgorithmIdentifier, rest... } with a new
// AlgorithmIdentifier: the element at index `at` of the outer SEQUENCE.
Bytes replace_algorithm(const Bytes& der_in, std::size_t at, const Bytes& alg) {
    der::Reader outer(der_in, "test");
    der::Reader r(outer.read(der::kSequence, "SEQUENCE"), "test");
    Bytes body;
    for (std::size_t i = 0; !r.empty(); ++i) {
        const std::uint8_t tag = r.peek_tag();
        const ByteView v = r.read(tag, "element");
        if (i == at)
            body.insert(body.end(), alg.begin(), alg.end());
        else
            der::write(body, tag, v);
    }
    Bytes out;
    der::write(out, der::kSequence, body);
    return out;
}

TEST(Sm2PublicKeyForms, SpkiWithTheSm2OidAndCompressedPoints) {
    const Bytes spki = fmt::sm2_public_key_to_der(kPub);
    const Bytes null_params = {0x05, 0x00};
    Bytes oid_params;
    der::write(oid_params, der::kOid, kOidSm2);
    for (const Bytes& params : {Bytes{}, null_params, oid_params}) {
        const Bytes alt = replace_algorithm(spki, 0, sm2_algorithm(params));
        EXPECT_EQ(fmt::sm2_public_key_from_any(alt), kPub);
        // The strict reader of pelmo's own form stays as it was.
        EXPECT_THROW(fmt::sm2_public_key_from_der(alt), std::invalid_argument);
    }
    // The signature and encryption arcs (.1, .3) with the curve as parameter, as Botan 2
    // writes; other arcs are refused.
    for (const std::uint8_t arc : {std::uint8_t{1}, std::uint8_t{3}})
        EXPECT_EQ(fmt::sm2_public_key_from_any(
                      replace_algorithm(spki, 0, sm2_algorithm(oid_params, arc))),
                  kPub);
    EXPECT_THROW(
        fmt::sm2_public_key_from_any(replace_algorithm(spki, 0, sm2_algorithm(oid_params, 2))),
        std::invalid_argument);
    EXPECT_THROW(fmt::sm2_public_key_from_any(
                     replace_algorithm(spki, 0, sm2_algorithm(Bytes{0x05, 0x01, 0x00}))),
                 std::invalid_argument);
    // The point compressed inside the BIT STRING.
    Bytes bits = {0x00};
    const Bytes small = fmt::sm2_public_key_encode(kPub, fmt::Sm2PublicKeyEncoding::compressed);
    bits.insert(bits.end(), small.begin(), small.end());
    Bytes body(spki.begin() + 2, spki.begin() + 23), compressed;
    der::write(body, der::kBitString, bits);
    der::write(compressed, der::kSequence, body);
    EXPECT_EQ(fmt::sm2_public_key_from_any(compressed), kPub);
}

TEST(Sm2PublicKeyForms, MalformedKeysAreRefused) {
    Bytes off = xy();
    off[63] ^= 1;
    Bytes off04(65, 0x04);
    std::copy(off.begin(), off.end(), off04.begin() + 1);
    Bytes x_ge_p(33, 0xff);
    x_ge_p[0] = 0x02;
    Bytes prefix5 = fmt::sm2_public_key_encode(kPub, fmt::Sm2PublicKeyEncoding::uncompressed);
    prefix5[0] = 0x05;
    Bytes spki_trailing = fmt::sm2_public_key_to_der(kPub);
    spki_trailing.push_back(0);
    const Bytes cases[] = {off,           off04,   x_ge_p,       prefix5,
                           spki_trailing, Bytes{}, Bytes(63, 1), Bytes(66, 0x30)};
    for (const Bytes& c : cases)
        EXPECT_THROW(fmt::sm2_public_key_from_any(c), std::invalid_argument) << c.size();
    for (const std::string& text : {pelmo::detail::to_hex(off), std::string(129, 'a'),
                                    "04" + pelmo::detail::to_hex(off), std::string("zz")})
        EXPECT_THROW(fmt::sm2_public_key_from_any(text), std::invalid_argument) << text;
    EXPECT_THROW(fmt::sm2_public_key_encode(pelmo::detail::to_hex(off),
                                            fmt::Sm2PublicKeyEncoding::compressed),
                 std::invalid_argument);
}

TEST(Sm2PrivateKeyForms, Pkcs8WithTheSm2Oid) {
    const Bytes pkcs8 = fmt::sm2_private_key_to_der(kPriv, kPub);
    const Bytes null_params = {0x05, 0x00};
    Bytes oid_params;
    der::write(oid_params, der::kOid, kOidSm2);
    for (const Bytes& params : {Bytes{}, null_params, oid_params}) {
        const Bytes alt = replace_algorithm(pkcs8, 1, sm2_algorithm(params));
        const fmt::Sm2PrivateKey key = fmt::sm2_private_key_from_der(alt);
        EXPECT_EQ(key.private_key, kPriv);
        EXPECT_EQ(key.public_key, kPub);
        EXPECT_EQ(fmt::sm2_private_key_from_pem(fmt::pem_encode(alt, "PRIVATE KEY")).public_key,
                  kPub);
    }
    const fmt::Sm2PrivateKey botan_style =
        fmt::sm2_private_key_from_der(replace_algorithm(pkcs8, 1, sm2_algorithm(oid_params, 1)));
    EXPECT_EQ(botan_style.private_key, kPriv);
    // Another algorithm OID is still refused.
    Bytes other = sm2_algorithm({});
    other[other.size() - 1] ^= 1;
    EXPECT_THROW(fmt::sm2_private_key_from_der(replace_algorithm(pkcs8, 1, other)),
                 std::invalid_argument);
}

}  // namespace
