// The SM2 elliptic-curve algorithms (GB/T 32918): keys, signatures, encryption,
// public-key recovery and key exchange, with points, keys and curve parameters as
// hexadecimal text.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include <pelmo/sm3.hpp>
#include <pelmo/types.hpp>

namespace pelmo::detail::sm2 {
struct Curve;
struct EngineAccess;
struct KeyExchangeState;
struct KeyExchangeAccess;
}  // namespace pelmo::detail::sm2

// What this header declares is pelmo's interface, exported from a shared libpelmo
// (the library's own code is compiled with hidden visibility).
#pragma GCC visibility push(default)

namespace pelmo::sm2 {

/// A curve parameter table: "n", "p", "g", "a", "b" as hexadecimal text.
using EccTable = std::map<std::string, std::string>;
/// The SM2 recommended 256-bit curve.
extern const EccTable default_ecc_table;

/// A private key and its public key, as CryptSM2 takes them: the private key para_len
/// lower-case hexadecimal digits (64 on the recommended curve), the public key x || y,
/// 2 * para_len digits without the "04" prefix.
struct KeyPair {
    std::string private_key;
    std::string public_key;
};

class CryptSM2 {
  public:
    /// A fresh key pair on the table's curve: d uniformly random in [1, n - 2] from the
    /// operating system's generator (the draw SM2Manager makes), and [d]G. A table that
    /// CryptSM2 refuses is refused here with the same exception.
    ///
    ///     auto [d, pub] = pelmo::sm2::CryptSM2::generate_key_pair();
    ///     pelmo::sm2::CryptSM2 signer(d, pub);
    static KeyPair generate_key_pair(const EccTable& ecc_table = default_ecc_table);

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

    // The same operations on a text's octets (a string literal, std::string or
    // std::string_view): sign_with_sm3("hello") == sign_with_sm3(pelmo::as_bytes("hello")).
    bool verify(std::string_view Sign, const Text auto& data) const {
        return verify(Sign, pelmo::as_bytes(data));
    }
    std::optional<std::string> sign(const Text auto& data, std::string_view K) const {
        return sign(pelmo::as_bytes(data), K);
    }
    std::optional<Bytes> encrypt(const Text auto& data) const {
        return encrypt(pelmo::as_bytes(data));
    }
    std::string _sm3_z(const Text auto& data) const { return _sm3_z(pelmo::as_bytes(data)); }
    std::optional<std::string> sign_with_sm3(
        const Text auto& data, std::optional<std::string> random_hex_str = std::nullopt) const {
        return sign_with_sm3(pelmo::as_bytes(data), std::move(random_hex_str));
    }
    bool verify_with_sm3(std::string_view sign, const Text auto& data) const {
        return verify_with_sm3(sign, pelmo::as_bytes(data));
    }
    std::set<std::string> recover_public_keys(std::string_view sign, const Text auto& data,
                                              std::optional<int> v = std::nullopt) const {
        return recover_public_keys(sign, pelmo::as_bytes(data), v);
    }

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

/// What one side of a key exchange derives.
struct KeyExchangeResult {
    Bytes key;                      // K, klen bytes
    sm3::SM3::Digest confirmation;  // to send: S_A (initiator) or S_B (responder)
    sm3::SM3::Digest expected;  // to compare with the peer's: S_B (initiator) or S_A (responder)
};

/// One side of an SM2 key exchange (GB/T 32918.3) with key confirmation, on any curve
/// table of cofactor 1; constant time in the private key and the ephemeral scalar on
/// the recommended curve. Keys and points are hexadecimal texts: a private key of 1 to
/// para_len digits with a value in [1, n - 1], public keys and ephemeral points x || y
/// of para_len digits each (a public key of 130 digits may start with "04", which is
/// dropped). The identities are any bytes (up to 8191 of them); the usual one,
/// "1234567812345678", must be passed explicitly. The constructor refuses (with
/// std::invalid_argument) a peer key that is not a point of the curve and a public key
/// that is not the private key's. Copies are not allowed (the object holds secrets,
/// which its destructor wipes); a move leaves the source without keys, usable for
/// nothing but destruction and assignment.
class SM2KeyExchange {
  public:
    SM2KeyExchange(std::string_view private_key, std::string_view public_key, ByteView id,
                   std::string_view peer_public_key, ByteView peer_id, bool initiator,
                   const EccTable& ecc_table = default_ecc_table);
    SM2KeyExchange(const SM2KeyExchange&) = delete;
    SM2KeyExchange& operator=(const SM2KeyExchange&) = delete;
    SM2KeyExchange(SM2KeyExchange&& other) noexcept;
    SM2KeyExchange& operator=(SM2KeyExchange&& other) noexcept;
    ~SM2KeyExchange();

    /// Draws the ephemeral scalar r (or takes it, as hexadecimal, for known-answer tests) and
    /// returns R = [r]G as 2 * para_len lower-case hexadecimal digits. Calling it again starts a
    /// new exchange. A given r that is not hexadecimal, longer than para_len digits or outside [1,
    /// n - 1] is std::invalid_argument (and the exchange under way is kept).
    std::string ephemeral(std::optional<std::string_view> r = std::nullopt);
    /// With the peer's ephemeral point: K and the confirmation values. No value when the peer's
    /// point is not a point of the curve or the shared point is at infinity; std::logic_error if
    /// ephemeral() was not called first; klen 1 .. 2^32 - 1 blocks' worth (else
    /// std::invalid_argument, as for a point text of the wrong length or with bad digits).
    std::optional<KeyExchangeResult> compute(std::string_view peer_ephemeral,
                                             std::size_t klen) const;
    /// Constant-time comparison of a received confirmation with result.expected (false for a
    /// received value that is not 32 bytes).
    static bool confirm(const KeyExchangeResult& result, ByteView received);

  private:
    friend struct detail::sm2::KeyExchangeAccess;
    std::unique_ptr<detail::sm2::KeyExchangeState> state_;
};

}  // namespace pelmo::sm2

#pragma GCC visibility pop
