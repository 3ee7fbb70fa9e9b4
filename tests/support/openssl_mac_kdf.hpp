// OpenSSL's HMAC, PBKDF2 and HKDF with SM3, the references of the differential tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include <pelmo/types.hpp>

namespace pelmo::test {

/// HMAC-SM3 through EVP_MAC.
Bytes openssl_hmac_sm3(ByteView key, ByteView data);
/// PKCS5_PBKDF2_HMAC with EVP_sm3().
Bytes openssl_pbkdf2_sm3(ByteView password, ByteView salt, std::uint32_t iterations,
                         std::size_t length);
/// EVP_KDF "HKDF" with SM3, extract and expand; an empty salt or info is left unset.
Bytes openssl_hkdf_sm3(ByteView ikm, ByteView salt, ByteView info, std::size_t length);

}  // namespace pelmo::test
