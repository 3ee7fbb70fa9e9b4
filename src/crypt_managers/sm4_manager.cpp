// SM4Manager: texts encrypted to hexadecimal with SM4-CBC under the built-in key and IV
// or the caller's.
//
// Each call works on a private engine and copies its state (round keys and direction)
// into the manager only when it succeeds, so a call that throws leaves the manager as
// it was.
#include <pelmo/crypt_managers.hpp>

#include <stdexcept>
#include <string>

#include "common/hex.hpp"
#include "common/utf8.hpp"
#include "common/wipe.hpp"
#include "sm4/modes.hpp"

namespace pelmo::crypt_managers {

namespace {

constexpr std::string_view kKey = "pelmoSM4key2024A";
constexpr std::string_view kIv = "pelmoSM4iv2024AB";
static_assert(kKey.size() == 16 && kIv.size() == 16);

Bytes bytes_of(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

// A key or IV must be one SM4 block long.
void check_16(ByteView bytes, const char* what) {
    if (bytes.size() != 16)
        throw std::invalid_argument(std::string("SM4Manager: the ") + what +
                                    " must be 16 bytes, not " + std::to_string(bytes.size()));
}

bool is_ascii_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

/// Hexadecimal of either case, with ASCII white space allowed before, between and
/// after two-digit byte pairs (not inside one).
Bytes parse_spaced_hex(std::string_view text) {
    constexpr std::string_view what = "ciphertext";
    Bytes out;
    out.reserve(text.size() / 2);
    std::size_t i = 0;
    for (;;) {
        while (i < text.size() && is_ascii_space(text[i])) ++i;
        if (i == text.size()) break;
        const int hi = detail::hex_digit_value(static_cast<unsigned char>(text[i]));
        if (hi < 0) detail::throw_bad_hex_digit(text, i, what);
        if (i + 1 == text.size())
            throw std::invalid_argument("odd number of hexadecimal digits: the digit at position " +
                                        std::to_string(i) + " of the ciphertext has no partner");
        const int lo = detail::hex_digit_value(static_cast<unsigned char>(text[i + 1]));
        if (lo < 0) detail::throw_bad_hex_digit(text, i + 1, what);
        out.push_back(static_cast<std::uint8_t>((hi << 4) | lo));
        i += 2;
    }
    return out;
}

}  // namespace

SM4Manager::SM4Manager() : sm4::CryptSM4(), key(bytes_of(kKey)), iv(bytes_of(kIv)) {}

// Both lengths are checked before either is copied: a refused key leaves no copy behind.
SM4Manager::SM4Manager(ByteView key_in, ByteView iv_in)
    : sm4::CryptSM4(),
      key((check_16(key_in, "key"), check_16(iv_in, "IV"), Bytes(key_in.begin(), key_in.end()))),
      iv(iv_in.begin(), iv_in.end()) {}

SM4Manager::~SM4Manager() {
    detail::secure_wipe(key);
    detail::secure_wipe(iv);
}

std::string SM4Manager::encrypt(std::string_view data) {
    sm4::CryptSM4 engine(sm4::SM4_ENCRYPT, padding_mode);
    engine.set_key(key, sm4::SM4_ENCRYPT);
    detail::check_utf8(data, "the text to encrypt");
    std::string hex = detail::to_hex(engine.crypt_cbc(iv, pelmo::as_bytes(data)));
    static_cast<sm4::CryptSM4&>(*this) = engine;
    return hex;
}

std::string SM4Manager::decrypt(std::string_view data) {
    sm4::CryptSM4 engine(sm4::SM4_DECRYPT, padding_mode);
    engine.set_key(key, sm4::SM4_DECRYPT);
    Bytes buf = parse_spaced_hex(data);
    // Decrypted in place; the plaintext is wiped from buf on every way out.
    const detail::WipeOnExit wipe_buf(buf);
    const std::size_t n = detail::sm4::cbc_decrypt_into(engine, iv, buf, buf.data());
    const std::string_view text(reinterpret_cast<const char*>(buf.data()), n);
    detail::check_utf8(text, "the decrypted text");
    std::string result(text);
    static_cast<sm4::CryptSM4&>(*this) = engine;
    return result;
}

}  // namespace pelmo::crypt_managers
