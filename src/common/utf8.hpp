// Strict UTF-8 validation (RFC 3629 / Unicode's well-formed byte sequences): overlong
// forms, surrogates (U+D800..U+DFFF), code points above U+10FFFF, stray continuation
// bytes and truncated sequences are all rejected.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pelmo::detail {

/// Offset of the first byte of the first ill-formed sequence, or std::string_view::npos
/// when the whole text is well-formed UTF-8.
std::size_t utf8_error_offset(std::string_view text) noexcept;

/// The same verdict in constant time: no branch or memory index depends on the bytes
/// (the managers validate plaintexts); only the verdict is published.
bool is_valid_utf8_ct(std::string_view text) noexcept;

inline bool is_valid_utf8(std::string_view text) noexcept {
    return utf8_error_offset(text) == std::string_view::npos;
}

/// Throws std::invalid_argument("invalid UTF-8 at byte 3 of <what>") unless text is
/// well-formed. Well-formed text is checked in constant time; only ill-formed text,
/// which is an error anyway, is searched for the offset.
void check_utf8(std::string_view text, std::string_view what);

}  // namespace pelmo::detail
