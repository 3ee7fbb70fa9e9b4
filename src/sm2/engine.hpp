// The SM2 engine's private view of a curve table: its numbers parsed once per engine,
// and whether the table is the recommended curve (then the fixed-width core serves the
// scalar multiplications, signatures and verifications).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <pelmo/sm2.hpp>
#include <pelmo/types.hpp>

namespace pelmo::detail::sm2 {

using pelmo::sm2::EccTable;

struct Curve {
    EccTable table;
    std::size_t para_len = 0;  // digits of the "n" text
    BigInt p;                  // > 0
    BigInt ecc_a3;             // (a + 3) mod p
    // Every residue mod p fits in para_len digits, so point texts re-read by position
    // give back the numbers that were written (false only for odd tables).
    bool exact_width = false;
    // The table is the recommended curve in value (whatever the letter case).
    bool recommended = false;

    /// The table's text for key; a missing key is std::out_of_range.
    const std::string& entry(const char* key) const;
    /// The order n; a text that is not a number is std::invalid_argument (the table
    /// is only required to parse where a value is used, as the constructor reads only
    /// the length of "n").
    const BigInt& n() const;

    std::optional<BigInt> n_value;  // set when the "n" text is a number
};

/// Parses a table (missing "n", "a", "p": std::out_of_range; bad digits:
/// std::invalid_argument; p = 0: std::domain_error). The recommended table, passed
/// as default_ecc_table or an identical map, is parsed once per process.
std::shared_ptr<const Curve> make_curve(const EccTable& table);

/// Reaches the private parts of an engine.
struct EngineAccess {
    static const Curve& curve(const pelmo::sm2::CryptSM2& engine) { return *engine.curve_; }
};

/// text[pos, pos + len) clipped to the text, as slicing does (empty past the end).
inline std::string_view slice(std::string_view text, std::size_t pos,
                              std::size_t len = std::string_view::npos) {
    if (pos >= text.size()) return {};
    return text.substr(pos, len);
}

}  // namespace pelmo::detail::sm2
