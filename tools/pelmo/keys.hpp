// Keys for the pelmo tool: SM2 keys from files (PEM, DER, hexadecimal text) or from
// the command line, and hexadecimal key arguments (SM4).
//
// Key text never steers a branch or a memory index: the format is told from public
// structure (all hexadecimal digits, a DER SEQUENCE tag, PEM armour lines) with
// constant-time tests that publish only their verdicts, and the codecs underneath run in
// constant time. A key file's content is marked secret as it is read (for the
// constant-time check) and every copy of key text is wiped. Error messages name the
// option, the problem and a length, and a file only when the argument was opened as
// one: never key material.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <pelmo/formats.hpp>
#include <pelmo/types.hpp>

namespace pelmo::cli {

/// A private key from the argument of option: a PEM or DER file (PKCS#8 or SEC 1), a
/// file holding the 64 hexadecimal digits, or the digits themselves. The key must lie
/// in [1, n - 2]. Bad input is std::invalid_argument, a file that cannot be read
/// std::runtime_error.
formats::Sm2PrivateKey load_private_key(const std::string& key_arg, std::string_view option);
/// A public key from the argument of option: a PEM or DER file (SubjectPublicKeyInfo,
/// the point uncompressed or compressed, id-ecPublicKey or the SM2 OID), a private-key
/// file (its public half), a binary point file (x || y, 04 || x || y, 02/03 || x), a
/// file holding the hexadecimal key (128 digits, 130 with "04", 66 compressed, or a
/// private key's 64), or that text itself.
std::string load_public_key(const std::string& key_arg, std::string_view option);

/// A hexadecimal key argument of exactly `bytes` bytes (either case), decoded in
/// constant time; std::invalid_argument naming option and the length otherwise.
Bytes hex_key_argument(const std::string& text, std::string_view option, std::size_t bytes);

/// Text without leading and trailing white space (space, tab, CR, LF). The characters
/// are classified in constant time; only the two cut positions are published.
std::string trim(const std::string& s);

/// True when s is non-empty and all hexadecimal digits (either case); constant time,
/// only the verdict is published.
bool is_hex(const std::string& s);

}  // namespace pelmo::cli
