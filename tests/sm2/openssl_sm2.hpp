// OpenSSL's SM2 as an oracle for the SM2 tests.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <pelmo/types.hpp>

typedef struct evp_pkey_st EVP_PKEY;

namespace pelmo::test::sm2 {

struct PkeyFree {
    void operator()(EVP_PKEY* k) const;
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

/// An SM2 key from hexadecimal text: the public point x || y (128 digits) and,
/// optionally (empty text: none), the private scalar.
Pkey sm2_key(const std::string& private_hex, const std::string& public_xy_hex);
/// A fresh OpenSSL key pair and its texts.
Pkey sm2_generate(std::string& private_hex, std::string& public_xy_hex);

/// SM2-with-SM3 over msg with the identity id (Z is formed by OpenSSL): DER.
Bytes sign_sm3(EVP_PKEY* key, ByteView msg, const std::string& id);
bool verify_sm3(EVP_PKEY* key, ByteView msg, ByteView der, const std::string& id);
/// The raw operation on a digest e given as is: DER.
Bytes sign_digest(EVP_PKEY* key, ByteView e);
bool verify_digest(EVP_PKEY* key, ByteView e, ByteView der);

/// SM2 encryption with SM3 (OpenSSL's default): the ASN.1 form
/// SEQUENCE { INTEGER x, INTEGER y, OCTET STRING C3, OCTET STRING C2 }.
Bytes encrypt(EVP_PKEY* key, ByteView msg);
/// Nothing when OpenSSL refuses the ciphertext.
std::optional<Bytes> decrypt(EVP_PKEY* key, ByteView asn1);

/// The ASN.1 form as C1 || C3 || C2 (x and y 32 bytes each, no format byte); a
/// malformed encoding is std::runtime_error.
Bytes asn1_to_c1c3c2(ByteView asn1);
/// C1 || C3 || C2 (at least 97 bytes) in the ASN.1 form.
Bytes c1c3c2_to_asn1(ByteView raw);

}  // namespace pelmo::test::sm2
