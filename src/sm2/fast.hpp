// The engine's operations on the recommended curve, on the fixed-width core.
//
// Secrets (private keys, per-signature scalars) go from hexadecimal text straight into
// 32-byte arrays with the constant-time digit decoder and never enter a big integer;
// the core multiplies in constant time, and only publishable outcomes (a signature, the
// fact that no signature exists for a scalar) are declassified before a branch.
// Results equal those of the generic path exactly, including its corner cases.
//
// The engine routes a secret here whenever its value fits in 256 bits, whatever the
// length of its text ("00" || key included). A value of more than 256 bits, which
// pelmo never produces, takes the generic GMP path, which runs in variable time.
// Secret intermediates (scalars, inverses, shared points) are wiped before returning.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <pelmo/types.hpp>

#include "sm2/curve/curve.hpp"
#include "sm2/engine.hpp"
#include "sm2/keys.hpp"

namespace pelmo::detail::sm2::fast {

using curve::Affine;
using curve::Bytes32;

/// Hexadecimal text of either case and any length into a right-aligned big-endian
/// value, in time that depends on the text's length only: every digit is read, and
/// leading zero digits cost what any other digit does. Returns whether the value fits
/// in 256 bits; that one bit is published (it decides between the core and the generic
/// path), and when it is false `out` is zero. Empty text or a bad digit is
/// std::invalid_argument naming `what`.
bool parse_scalar(std::string_view hex, Bytes32& out, std::string_view what);

/// All-ones when 1 <= v <= n - 2 (a private key: 1 + v is then invertible mod n) or
/// 1 <= v <= n - 1 (a nonce), zero otherwise. Constant time in v.
std::uint64_t in_range_mask(const Bytes32& v, ScalarRange range);

/// k mod 2^256. Constant time in the limbs of k for 0 <= k < 2^256 (the values pelmo
/// and its callers use); larger or negative k are first reduced with GMP.
Bytes32 scalar_from_int(const BigInt& k);

/// data as a big-endian integer, reduced mod n (data is public; any length).
Bytes32 message_mod_n(ByteView data);

/// The point that a text of exactly 128 digits spells, with its coordinates reduced
/// mod p, when it lies on the curve; nothing otherwise (bad digits included: the
/// generic path then reports them).
std::optional<Affine> parse_point(std::string_view text);

/// x then y, 64 lower-case digits each.
std::string format_point(const Affine& P);

/// What _kg returns for a point on the curve, where k*P is computed by the core:
/// k = 0 gives P itself, k = n and k = n + 2 give nothing (the double-and-add meets
/// the point at infinity, or adds P to itself), any other k gives k*P. Constant time
/// in k; the result is not declassified.
std::optional<Affine> kg(const Bytes32& k, const Affine& P);

/// kg(k, G) and kg(k, P) together, with one inversion for both affine conversions;
/// false when they have no value (k = n or n + 2 mod 2^256, the same k for both as P
/// has the order of G). Constant time in k; the points are not declassified.
bool kg_pair(const Bytes32& k, const Affine& P, Affine& kG, Affine& kP);

/// sign() on the recommended curve for a private key d and a scalar k parsed by
/// parse_scalar (data non-empty, checked by the caller). Constant time in d and k;
/// a key outside [1, n - 2] gives no signature.
std::optional<std::string> sign(ByteView data, const Bytes32& d, const Bytes32& k, bool asn1);

/// verify() on the recommended curve; nothing when the public key is not a 128-digit
/// point on the curve (the caller then takes the generic path, which reads such
/// texts literally).
std::optional<bool> verify(const Curve& c, std::string_view sig, ByteView data,
                           const std::optional<std::string>& public_key, bool asn1);

/// The signature text of (r, s): 128 digits, or the DER form in hexadecimal.
std::string format_signature(ByteView r, ByteView s, bool asn1);

}  // namespace pelmo::detail::sm2::fast
