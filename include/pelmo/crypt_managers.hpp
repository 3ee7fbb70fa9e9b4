// Text-level managers for applications: SM2 signing and SM4 text encryption.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <pelmo/sm2.hpp>
#include <pelmo/sm4.hpp>
#include <pelmo/types.hpp>

namespace pelmo::crypt_managers {

/// Signs texts and validates signatures of texts, creating its key pair on first request.
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
    /// Signs the UTF-8 octets of data with a fresh random scalar.
    std::optional<std::string> signature(std::string_view data) const;
    /// Verifies a signature of the UTF-8 octets of data.
    bool validate(std::string_view sign, std::string_view data) const;
};

/// SM4算法，对称加解密: encrypts texts to hexadecimal text and back, with SM4-CBC,
/// PKCS#7 padding and a fixed key and IV.
class SM4Manager : public sm4::CryptSM4 {
  public:
    SM4Manager();
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
