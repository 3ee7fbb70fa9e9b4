// Secret inputs of the MAC and key-derivation commands: key, password and input-key
// files read whole, and hexadecimal arguments of any length.
#pragma once

#include <string>
#include <string_view>

#include <pelmo/types.hpp>

namespace pelmo::cli {

/// Every byte of a file ('-': standard input), exactly as stored (a trailing newline
/// included). Growing the buffer wipes the old one; the caller wipes the result.
Bytes read_secret_file(const std::string& path);

/// The bytes that the hexadecimal text of option spells (either case, any even number
/// of digits, none for an empty text), decoded in constant time; std::invalid_argument
/// naming option and the length otherwise.
Bytes hex_bytes_argument(const std::string& text, std::string_view option);

}  // namespace pelmo::cli
