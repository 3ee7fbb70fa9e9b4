// OpenSSL's libcrypto as the reference implementation in differential tests.
#pragma once

#include <cstdint>
#include <string>

#include <pelmo/types.hpp>

namespace pelmo::test {

/// SM3 digest of data through EVP.
Bytes openssl_sm3(ByteView data);
/// The X9.63 KDF with SM3 (identical to the SM2 KDF): klen bytes from z.
Bytes openssl_sm3_kdf(ByteView z, std::size_t klen);

}  // namespace pelmo::test
