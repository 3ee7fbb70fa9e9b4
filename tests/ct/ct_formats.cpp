// The key codec with the private key marked secret: to and from DER and PEM, PKCS#8
// and SEC 1, base64 over every byte value, the range check (keys in range and out of
// it), random_hex (whose digits must leave the library still marked secret) and the
// SM4 manager with a secret key and secret texts under every kernel of ct_kernels.hpp.
#include <pelmo/crypt_managers.hpp>
#include <pelmo/formats.hpp>
#include <pelmo/func.hpp>
#include <pelmo/sm4.hpp>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "common/hex.hpp"
#include "ct_check.hpp"
#include "ct_kernels.hpp"
#include "formats/sm2_keys.hpp"

namespace {

namespace fmt = pelmo::formats;
using pelmo::Bytes;
using pelmo::ct_check::classify;
using pelmo::ct_check::declassify;

// The GM/T 0003.5 example key pair; the private key in mixed case on the way in.
const std::string kD = "3945208F7B2144B13F36E38AC6D39F95889393692860b51a42fb81ef4df7c5b8";
const std::string kDLower = "3945208f7b2144b13f36e38ac6d39f95889393692860b51a42fb81ef4df7c5b8";
const std::string kPub =
    "09f9df311e5421a150dd7d161e4bc5c672179fad1833fc076bb08ff356f35020"
    "ccea490ce26775a52dc6ea718cc1aa600aed05fbf35e084a6632f6072da9ad13";

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "ct_formats: %s\n", what);
        std::abort();
    }
}

std::string secret(const std::string& text) {
    std::string s = text;
    classify(s.data(), s.size());
    return s;
}

// A key read back: its private half published for the comparison.
void require_key(fmt::Sm2PrivateKey key, const std::string& d, const char* what) {
    declassify(key.private_key.data(), key.private_key.size());
    require(key.private_key == d && key.public_key == kPub, what);
}

}  // namespace

PELMO_CT_CHECK_CASE(formats_private_key_to_and_from_der_and_pem) {
    const std::string d = secret(kD);
    const Bytes pkcs8 = fmt::sm2_private_key_to_der(d, kPub);
    const std::string pem = fmt::sm2_private_key_to_pem(d, kPub);
    require_key(fmt::sm2_private_key_from_der(pkcs8), kDLower, "PKCS#8 DER");
    require_key(fmt::sm2_private_key_from_pem(pem), kDLower, "PKCS#8 PEM");
    // SEC 1: the ECPrivateKey inside the PKCS#8 key (after 29 octets of header and
    // algorithm), in DER and under both of its PEM labels.
    require(pkcs8.size() == 138, "PKCS#8 size");
    const Bytes sec1(pkcs8.begin() + 29, pkcs8.end());
    require_key(fmt::sm2_private_key_from_der(sec1), kDLower, "SEC 1 DER");
    for (const char* label : {"EC PRIVATE KEY", "SM2 PRIVATE KEY"})
        require_key(fmt::sm2_private_key_from_pem(fmt::pem_encode(sec1, label)), kDLower,
                    "SEC 1 PEM");
    // The public key's codec alongside (public data, nothing to hide).
    require(fmt::sm2_public_key_from_pem(fmt::sm2_public_key_to_pem(kPub)) == kPub, "public");
}

PELMO_CT_CHECK_CASE(formats_base64_of_every_byte_value) {
    Bytes all(3 * 256 + 2);  // every byte in every position of a group, and a padded tail
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i / 3);
    const Bytes plain = all;
    classify(all.data(), all.size());
    const std::string pem = fmt::pem_encode(all, "SECRET");
    Bytes back = fmt::pem_decode(pem, "SECRET");
    declassify(back.data(), back.size());
    require(back == plain, "base64 round trip");
}

PELMO_CT_CHECK_CASE(formats_private_key_range_check) {
    const std::string n_minus_2 =
        "fffffffeffffffffffffffffffffffff7203df6b21c6052b53bbf40939d54121";
    const struct {
        std::string d;
        bool ok;
    } cases[] = {
        {std::string(63, '0') + "1", true},     {n_minus_2, true},
        {n_minus_2.substr(0, 63) + "2", false},  // n - 1
        {n_minus_2.substr(0, 63) + "3", false},  // n
        {std::string(64, '0'), false},          {std::string(64, 'f'), false},
    };
    for (const auto& c : cases) {
        bool accepted = true;
        try {
            fmt::Sm2PrivateKey key = pelmo::detail::sm2_keys::key_pair_from_hex(secret(c.d));
            declassify(key.private_key.data(), key.private_key.size());
            require(key.private_key == c.d, "range: key");
        } catch (const std::invalid_argument&) {
            accepted = false;
        }
        require(accepted == c.ok, "range: verdict");
    }
}

PELMO_CT_CHECK_CASE(func_random_hex_stays_secret) {
    std::string d = pelmo::func::random_hex(64);
    // Every digit still carries undefined bits, as a secret should.
    unsigned char vbits[64] = {};
    if (RUNNING_ON_VALGRIND) {
        require(VALGRIND_GET_VBITS(d.data(), vbits, 64) == 1, "random_hex: vbits");
        for (unsigned char v : vbits) require(v != 0, "random_hex: a digit came out public");
    }
    // Used as a private key (out of range with probability 2^-32) and as an SM4 key.
    const std::string pem =
        fmt::sm2_private_key_to_pem(d, pelmo::detail::sm2_keys::key_pair_from_hex(d).public_key);
    require(pem.size() > 200, "random_hex: PEM");
    const Bytes key = pelmo::detail::from_hex(pelmo::func::random_hex(32));
    pelmo::sm4::CryptSM4 engine;
    engine.set_key(key, pelmo::sm4::SM4_ENCRYPT);
    Bytes c = engine.crypt_cbc(Bytes(16, 1), Bytes(40, 2));
    declassify(c.data(), c.size());
    require(c.size() == 48, "random_hex: SM4");
}

PELMO_CT_CHECK_CASE(sm4_manager_with_secret_key_and_texts) {
    pelmo::ct_check::for_each_sm4_kernel([] {
        pelmo::crypt_managers::SM4Manager m;
        classify(m.key.data(), m.key.size());
        for (const std::string text :
             {"", "short", "SM4算法，对称加解密: a text of three blocks"}) {
            std::string hex = m.encrypt(secret(text));
            declassify(hex.data(), hex.size());  // a ciphertext
            std::string back = m.decrypt(hex);
            declassify(back.data(), back.size());
            require(back == text, "SM4Manager round trip");
        }
    });
}
