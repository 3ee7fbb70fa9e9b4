// SM2 keys and ciphertexts in the formats the rest of the world uses: PKCS#8 and
// SubjectPublicKeyInfo (DER or PEM, curve OID 1.2.156.10197.1.301, as OpenSSL reads
// and writes them), bare and compressed points, and every ciphertext layout in use:
// bare C1C2C3 and C1C3C2, the same behind a point-format byte, and the ASN.1
// SEQUENCE { x, y, C3, C2 }.
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
/// the SM2 curve. The PKCS#8 AlgorithmIdentifier may be id-ecPublicKey
/// (1.2.840.10045.2.1) with the SM2 curve OID as parameter (as OpenSSL writes it), or
/// an SM2 OID itself (1.2.156.10197.1.301, or its .1 and .3 arcs as Botan 2 writes)
/// with no parameters, NULL or the SM2 curve OID.
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

/// The layouts of an SM2 ciphertext. C1 is the point k*G, C2 the masked message (one
/// byte at least) and C3 the 32-byte SM3 check value.
enum class Sm2CiphertextLayout {
    c1c2c3,           ///< x || y || C2 || C3: pelmo's mode 0
    c1c3c2,           ///< x || y || C3 || C2: pelmo's mode 1, the order of GB/T 32918
    prefixed_c1c2c3,  ///< 04 || x || y || C2 || C3: BouncyCastle's SM2Engine by default
    prefixed_c1c3c2,  ///< 04 || x || y || C3 || C2: SM2Engine in C1C3C2 mode
    asn1,             ///< SEQUENCE { INTEGER x, INTEGER y, OCTET STRING C3, OCTET STRING C2 }
};

/// The layout's name as the tool spells it: "c1c2c3", "c1c3c2", "04c1c2c3", "04c1c3c2"
/// or "asn1".
std::string_view sm2_ciphertext_layout_name(Sm2CiphertextLayout layout) noexcept;
/// The layout of one of those names; any other text is std::invalid_argument.
Sm2CiphertextLayout sm2_ciphertext_layout_from_name(std::string_view name);

/// A ciphertext of layout `from` rewritten in layout `to` (the same layout included,
/// which checks and normalises it). Accepted input: in the prefixed layouts, C1 as
/// 04 || x || y or compressed as 02 || x / 03 || x (y even / odd), decompressed on the
/// recommended curve; in the ASN.1 layout, strict DER whose INTEGERs are minimal (so
/// 31 octets for a small x, 33 with the sign octet for a large one). In every layout
/// C1 must be a point of the curve, C3 exactly 32 bytes and C2 non-empty, with nothing
/// after the ciphertext; anything else is std::invalid_argument naming the fault.
/// Output C1 is uncompressed unless compress_c1 is set, which only the prefixed
/// layouts can honour (std::invalid_argument for the others).
Bytes sm2_ciphertext_convert(ByteView ciphertext, Sm2CiphertextLayout from, Sm2CiphertextLayout to,
                             bool compress_c1 = false);

/// What sm2_decrypt_any_layout found.
struct Sm2Decrypted {
    Bytes plaintext;
    Sm2CiphertextLayout layout;  // the layout that decrypted
    bool compressed_c1;          // C1 came as 02/03 || x
};

/// Decrypts a ciphertext of any layout on the recommended curve with a private key of
/// 64 hexadecimal digits (either case). The layout is told by structure: an ASN.1
/// SEQUENCE that parses strictly; else a 04 prefix followed by a point of the curve;
/// else a bare 64-byte C1 on the curve; else a 02/03 prefix whose x lifts to a point.
/// The order of C2 and C3 is then told by the check value: the shared point [d]C1 is
/// computed once, both splits are tried with it, and the check values are compared in
/// constant time. No value when neither split checks (wrong key or corrupted
/// ciphertext); std::invalid_argument when no layout fits the bytes or the private key
/// is malformed or out of range (the message never holds the key).
std::optional<Sm2Decrypted> sm2_decrypt_any_layout(ByteView ciphertext,
                                                   std::string_view private_key);

/// Public-key encodings that sm2_public_key_encode writes.
enum class Sm2PublicKeyEncoding {
    raw,           ///< x || y, 64 bytes
    uncompressed,  ///< 04 || x || y, 65 bytes
    compressed,    ///< 02 || x or 03 || x (y even / odd), 33 bytes
    spki_der,      ///< SubjectPublicKeyInfo, as sm2_public_key_to_der
    spki_pem,      ///< its PEM text ("PUBLIC KEY"), as sm2_public_key_to_pem, as bytes
};

/// A public key in any form, as 128 lower-case hexadecimal digits (x then y). Accepted,
/// each told by its structure: binary x || y (64 bytes), 04 || x || y (65), 02/03 || x
/// (33), a SubjectPublicKeyInfo in DER (with id-ecPublicKey and the SM2 curve, or an
/// SM2 OID as algorithm, as for private keys; the point uncompressed or compressed); the same three
/// point forms as hexadecimal text (128, 130 or 66 digits, either case, white space around
/// allowed); or PEM holding a "PUBLIC KEY" block. The point must lie on the
/// recommended curve. Anything else is std::invalid_argument saying why.
std::string sm2_public_key_from_any(ByteView input);
/// The same for text (hexadecimal or PEM, or the bytes of a binary form).
std::string sm2_public_key_from_any(std::string_view input);
/// A public key (128 hexadecimal digits, or 130 with "04") on the curve in the given
/// encoding; a malformed key or one off the curve is std::invalid_argument.
Bytes sm2_public_key_encode(std::string_view public_key, Sm2PublicKeyEncoding encoding);

/// PEM armour: the base64 body between "-----BEGIN label-----" and "-----END label-----".
std::string pem_encode(ByteView der, std::string_view label);
/// The DER inside the first PEM block with this label (std::invalid_argument if none).
/// The BEGIN and END markers are lines of their own (trailing white space allowed);
/// text before, between and after blocks is ignored.
Bytes pem_decode(std::string_view pem, std::string_view label);

}  // namespace pelmo::formats

#pragma GCC visibility pop
