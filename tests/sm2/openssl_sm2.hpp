// OpenSSL's SM2 as an oracle for the SM2 tests.
#pragma once

#include <memory>
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

}  // namespace pelmo::test::sm2
