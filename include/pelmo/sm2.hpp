// The SM2 elliptic-curve algorithms (GB/T 32918): keys, signatures, encryption and
// public-key recovery, with points, keys and curve parameters as hexadecimal text.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include <pelmo/types.hpp>

namespace pelmo::detail::sm2 {
struct Curve;
struct EngineAccess;
}  // namespace pelmo::detail::sm2

namespace pelmo::sm2 {

/// A curve parameter table: "n", "p", "g", "a", "b" as hexadecimal text.
using EccTable = std::map<std::string, std::string>;
/// The SM2 recommended 256-bit curve.
extern const EccTable default_ecc_table;

class CryptSM2 {
  public:
    /// Keys as hexadecimal text (a 130-digit public key starting "04" loses that prefix);
    /// mode is the ciphertext layout (0: C1C2C3, 1: C1C3C2), asn1 selects DER signatures.
    CryptSM2(std::optional<std::string> private_key, std::optional<std::string> public_key,
             const EccTable& ecc_table = default_ecc_table, int mode = 0, bool asn1 = false);
    // Copies share the parsed, immutable curve table. A move takes the keys and leaves
    // the source without them (no private key, no public key) but with its table, mode
    // and asn1: still a usable engine. Assignment wipes the private key it replaces.
    CryptSM2(const CryptSM2& other);
    CryptSM2(CryptSM2&& other) noexcept;
    CryptSM2& operator=(const CryptSM2& other);
    CryptSM2& operator=(CryptSM2&& other) noexcept;
    /// Wipes the private key's text (every byte its string holds) before freeing it.
    ~CryptSM2();

    /// k * Point as affine point text, or no value at infinity.
    std::optional<std::string> _kg(const BigInt& k, std::string_view Point) const;
    /// 2 * Point as Jacobian point text.
    std::optional<std::string> _double_point(std::string_view Point) const;
    /// P1 + P2 (P2 affine) as Jacobian point text.
    std::optional<std::string> _add_point(std::string_view P1, std::string_view P2) const;
    /// A Jacobian point text in affine form, or no value at infinity.
    std::optional<std::string> _convert_jacb_to_nor(std::string_view Point) const;
    /// Verifies a signature of data (data is the integer e, not hashed).
    bool verify(std::string_view Sign, ByteView data) const;
    /// Signs data (taken as the integer e) with the scalar K. No value when r = 0,
    /// r + K = n or s = 0, and when the private key d lies outside [1, n - 2] (so that
    /// 1 + d has an inverse mod n): a missing signature rather than an invalid one.
    std::optional<std::string> sign(ByteView data, std::string_view K) const;
    /// Encrypts to public_key; no value when the key stream is zero.
    std::optional<Bytes> encrypt(ByteView data) const;
    /// Decrypts with private_key; no value when the check fails.
    std::optional<Bytes> decrypt(ByteView data) const;
    /// SM3(Z || data) with the identity "1234567812345678".
    std::string _sm3_z(ByteView data) const;
    /// Signs SM3(Z || data).
    std::optional<std::string> sign_with_sm3(
        ByteView data, std::optional<std::string> random_hex_str = std::nullopt) const;
    /// Verifies a signature of SM3(Z || data).
    bool verify_with_sm3(std::string_view sign, ByteView data) const;
    /// The public keys that could have made a raw signature of data.
    std::set<std::string> recover_public_keys(std::string_view sign, ByteView data,
                                              std::optional<int> v = std::nullopt) const;

    int para_len() const;
    const BigInt& ecc_a3() const;
    const EccTable& ecc_table() const;

    std::optional<std::string> private_key;
    std::optional<std::string> public_key;
    int mode;
    bool asn1;

  private:
    friend struct detail::sm2::EngineAccess;
    // The curve table with its numbers parsed once, shared read-only between copies.
    std::shared_ptr<const detail::sm2::Curve> curve_;
};

}  // namespace pelmo::sm2
