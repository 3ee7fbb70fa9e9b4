// Text-level managers for applications: SM2 signing and SM4 text encryption.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <pelmo/sm2.hpp>
#include <pelmo/sm4.hpp>
#include <pelmo/types.hpp>

// What this header declares is pelmo's interface, exported from a shared libpelmo
// (the library's own code is compiled with hidden visibility).
#pragma GCC visibility push(default)

namespace pelmo::crypt_managers {

/// Signs texts and validates signatures of texts, creating its key pair on first request.
///
/// signature() and validate() are NOT standard SM2 signatures: they sign the text's own
/// octets read as the integer e, with no hash and no identity digest (CryptSM2::sign /
/// verify). So texts that differ only by leading NUL characters, or whose integers differ
/// by a multiple of the curve order n, share their signatures, and the signatures verify
/// nowhere else (OpenSSL, `pelmo sm2 verify`). For standard signatures over SM3 with the
/// signer's identity digest, call sign_with_sm3 / verify_with_sm3, which the manager
/// inherits:
///
///     pelmo::crypt_managers::SM2Manager m;
///     m.get_public_key();
///     auto sig = m.sign_with_sm3("hello");        // verifies with OpenSSL too
///     bool ok = m.verify_with_sm3(*sig, "hello");
class SM2Manager : public sm2::CryptSM2 {
  public:
    explicit SM2Manager(std::optional<std::string> private_key = std::nullopt,
                        std::optional<std::string> public_key = std::nullopt,
                        const sm2::EccTable& ecc_table = sm2::default_ecc_table, int mode = 0,
                        bool asn1 = false);
    /// The private key, drawn at random on first call if absent.
    std::string get_private_key();
    /// The public key, derived from the private key on first call if absent.
    std::string get_public_key();
    /// Signs the UTF-8 octets of data, unhashed (see above), with a fresh random scalar.
    std::optional<std::string> signature(std::string_view data) const;
    /// Verifies a signature of the UTF-8 octets of data, unhashed (see above).
    bool validate(std::string_view sign, std::string_view data) const;
};

/// SM4算法，对称加解密: encrypts texts to hexadecimal text and back, with SM4-CBC and
/// PKCS#7 padding.
///
/// The default constructor uses a key and an IV built into the library, the same for every
/// user of pelmo: anyone can decrypt what it produces. That is obfuscation, not
/// confidentiality. Pass a key of your own (and an IV) to the second constructor for
/// encryption that protects anything; even then the IV is fixed for every message, so equal
/// texts give equal ciphertexts (sm4::gcm_seal with a fresh nonce per message does not).
class SM4Manager : public sm4::CryptSM4 {
  public:
    /// The built-in key and IV (obfuscation only, see above).
    SM4Manager();
    /// A 16-byte key and a 16-byte IV, copied; another length is std::invalid_argument.
    SM4Manager(ByteView key, ByteView iv);
    /// key and iv are wiped when the manager dies.
    ~SM4Manager();
    SM4Manager(const SM4Manager& other) = default;
    SM4Manager(SM4Manager&& other) noexcept = default;
    SM4Manager& operator=(const SM4Manager& other) = default;
    SM4Manager& operator=(SM4Manager&& other) noexcept = default;
    /// 对称算法加密字符串: the text (UTF-8) encrypted, as lower-case hexadecimal.
    std::string encrypt(std::string_view data);
    /// 对称算法解密字符串: the text that the hexadecimal ciphertext decrypts to.
    std::string decrypt(std::string_view data);
    Bytes key;
    Bytes iv;
};

}  // namespace pelmo::crypt_managers

#pragma GCC visibility pop
