// SM2 keys and ciphertexts in the formats the rest of the world uses: PKCS#8 and
// SubjectPublicKeyInfo (DER or PEM, curve OID 1.2.156.10197.1.301, as OpenSSL reads
// and writes them) and the ASN.1 ciphertext SEQUENCE { x, y, C3, C2 }.
//
// Keys cross this interface as the engine holds them: a private key as 64
// hexadecimal digits, a public key as 128 (x then y, no "04" prefix). Malformed
// input (wrong OID, truncated data, a key off the curve, a private key outside
// [1, n - 2]) is std::invalid_argument, whose message never holds a private key.
//
// Private keys are handled in constant time (no branch or memory index depends on
// them: base64, the digit codec and the range check included), and every
// intermediate buffer that held one is wiped.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <pelmo/types.hpp>

// What this header declares is pelmo's interface, exported from a shared libpelmo
// (the library's own code is compiled with hidden visibility).
#pragma GCC visibility push(default)

namespace pelmo::formats {

/// A key pair read from a private-key file. When the file stores the public key it
/// must match the private key; when it does not, the public key is derived.
struct Sm2PrivateKey {
    std::string private_key;  // 64 lower-case hexadecimal digits
    std::string public_key;   // 128 lower-case hexadecimal digits, x then y
};

/// PKCS#8 PrivateKeyInfo (with the public key inside, as OpenSSL writes it).
Bytes sm2_private_key_to_der(std::string_view private_key, std::string_view public_key);
std::string sm2_private_key_to_pem(std::string_view private_key, std::string_view public_key);
/// SubjectPublicKeyInfo.
Bytes sm2_public_key_to_der(std::string_view public_key);
std::string sm2_public_key_to_pem(std::string_view public_key);

/// Reads PKCS#8 ("PRIVATE KEY") or SEC 1 ("EC PRIVATE KEY", "SM2 PRIVATE KEY") keys on
/// the SM2 curve.
Sm2PrivateKey sm2_private_key_from_der(ByteView der);
Sm2PrivateKey sm2_private_key_from_pem(std::string_view pem);
/// Reads a SubjectPublicKeyInfo ("PUBLIC KEY") on the SM2 curve.
std::string sm2_public_key_from_der(ByteView der);
std::string sm2_public_key_from_pem(std::string_view pem);

/// pelmo's raw ciphertext (mode 0: C1C2C3, mode 1: C1C3C2; C1 = x || y, 64 bytes)
/// to the ASN.1 form SEQUENCE { INTEGER x, INTEGER y, OCTET STRING C3, OCTET STRING C2 }.
Bytes sm2_ciphertext_to_asn1(ByteView ciphertext, int mode);
/// The reverse; strict DER, C3 must be 32 bytes and C2 non-empty.
Bytes sm2_ciphertext_from_asn1(ByteView der, int mode);

/// PEM armour: the base64 body between "-----BEGIN label-----" and "-----END label-----".
std::string pem_encode(ByteView der, std::string_view label);
/// The DER inside the first PEM block with this label (std::invalid_argument if none).
/// The BEGIN and END markers are lines of their own (trailing white space allowed);
/// text before, between and after blocks is ignored.
Bytes pem_decode(std::string_view pem, std::string_view label);

}  // namespace pelmo::formats

#pragma GCC visibility pop
