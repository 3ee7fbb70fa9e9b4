#include "keys.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "common/ct.hpp"
#include "common/hex.hpp"
#include "common/wipe.hpp"
#include "formats/pem.hpp"
#include "formats/sm2_keys.hpp"

namespace pelmo::cli {

namespace {

namespace ct = detail::ct;
using detail::WipeOnExit;

/// Key files are small; anything larger is not one.
constexpr std::size_t kMaxKeyFile = 1 << 20;

/// -1 for white space (space, tab, CR, LF), else 0.
int space_mask(char ch) {
    const int c = static_cast<unsigned char>(ch);
    return ct::byte_in_range(c, ' ', ' ') | ct::byte_in_range(c, '\t', '\t') |
           ct::byte_in_range(c, '\r', '\r') | ct::byte_in_range(c, '\n', '\n');
}

/// -1 for a hexadecimal digit of either case, else 0.
int digit_mask(char ch) {
    return ~(detail::hex_digit_value(static_cast<unsigned char>(ch)) >> 8);
}

/// Publishes a verdict computed in constant time (non-zero: yes).
bool publish(std::uint64_t verdict) {
    ct::declassify(&verdict, sizeof verdict);
    return verdict != 0;
}

/// Whether text is white space, one or more hexadecimal digits, then white space: three
/// phases as masks, so no character steers a branch.
bool is_hex_text(std::string_view text) {
    int lead = -1, digits = 0, trail = 0, bad = 0;
    for (const char ch : text) {
        const int w = space_mask(ch), d = digit_mask(ch);
        const int next_lead = lead & w, next_digits = (lead | digits) & d;
        const int next_trail = (digits | trail) & w;
        bad |= ~(next_lead | next_digits | next_trail);
        lead = next_lead;
        digits = next_digits;
        trail = next_trail;
    }
    return publish(static_cast<std::uint64_t>(~bad & (digits | trail) & 1));
}

/// Whether text starts with the tag of a DER SEQUENCE, as every DER key does: the first
/// octet of a key file that is not hexadecimal text is its public structure (a tag, or
/// the start of PEM armour).
bool starts_with_sequence(std::string_view text) {
    if (text.empty()) return false;
    return publish(ct::eq_mask(static_cast<unsigned char>(text[0]), 0x30));
}

ByteView as_bytes(const std::string& s) {
    return ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

/// The text behind a key argument, wiped when done, and the prefix of messages about it:
/// "--key: " for text given on the command line, "--key: PATH: " for a file.
struct KeyText {
    std::string text, where;
    KeyText() = default;
    KeyText(const KeyText&) = delete;
    KeyText& operator=(const KeyText&) = delete;
    ~KeyText() { detail::secure_wipe(text); }
};

/// Reads a regular file whole into out, in one buffer sized up front (no reallocation
/// leaves a copy behind), and marks it secret. False when path is not a regular file
/// that can be opened.
bool read_key_file(const std::string& path, std::string& out, const std::string& where) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (static_cast<std::uint64_t>(st.st_size) > kMaxKeyFile)
        throw std::invalid_argument(where + "larger than 1 MiB, not a key file");
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < out.size()) {
        const ssize_t r = ::read(fd, out.data() + got, out.size() - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) throw std::runtime_error(where + std::strerror(errno));
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
    }
    out.resize(got);
    ct::classify(out.data(), out.size());
    return true;
}

/// The key text of an argument: the argument itself when it is hexadecimal text of a
/// key's length (digits), else the content of the file it names. An argument that is
/// neither may be a mistyped key: only its length is told.
void key_material(const std::string& arg, std::string_view option,
                  std::initializer_list<std::size_t> digits, std::string_view lengths, KeyText& m) {
    const std::string opt(option);
    if (is_hex_text(arg)) {
        std::string t = trim(arg);
        const std::size_t n = t.size();
        detail::secure_wipe(t);
        if (std::find(digits.begin(), digits.end(), n) != digits.end()) {
            m.text = arg;
            m.where = opt + ": ";
            return;
        }
    }
    const std::string where = opt + ": " + arg + ": ";
    if (read_key_file(arg, m.text, where)) {
        m.where = where;
        return;
    }
    // A '/' or a '.' makes a file name, never a key: say what became of the file.
    int path_chars = 0;
    for (const char ch : arg) {
        const int c = static_cast<unsigned char>(ch);
        path_chars |= ct::byte_in_range(c, '/', '/') | ct::byte_in_range(c, '.', '.');
    }
    struct stat st {};
    if (publish(static_cast<std::uint64_t>(path_chars & 1)) && ::stat(arg.c_str(), &st) != 0)
        throw std::runtime_error(where + std::strerror(errno));
    throw std::invalid_argument(opt + ": not a key file, and not a hexadecimal key of " +
                                std::string(lengths) + " digits (" + std::to_string(arg.size()) +
                                " characters)");
}

/// Runs parse, prefixing the message of a std::invalid_argument with where.
template <class Parse>
auto parse_at(const KeyText& m, Parse parse) -> decltype(parse()) {
    try {
        return parse();
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(m.where + e.what());
    }
}

/// The PEM labels of a text that is neither hexadecimal nor DER; none is an error.
std::vector<std::string> pem_labels(const std::string& text) {
    std::vector<std::string> labels = detail::pem::begin_labels(text);
    if (labels.empty())
        throw std::invalid_argument("not a PEM, DER or hexadecimal key (" +
                                    std::to_string(text.size()) + " bytes)");
    return labels;
}

/// What a public key given for a private one is told.
constexpr const char* kPublicNotPrivate = "this is a public key; a private key is needed";

/// The public half of a key pair, the private half wiped.
std::string public_half(formats::Sm2PrivateKey key) {
    detail::secure_wipe(key.private_key);
    return std::move(key.public_key);
}

}  // namespace

std::string trim(const std::string& s) {
    // first: where the first non-space character is; last: one past the last one.
    std::uint64_t first = s.size(), last = 0, seen = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const std::uint64_t keep = ~static_cast<std::uint64_t>(space_mask(s[i]));
        first = (first & ~(keep & ~seen)) | (i & keep & ~seen);
        last = (last & ~keep) | ((i + 1) & keep);
        seen |= keep;
    }
    ct::declassify(&first, sizeof first);
    ct::declassify(&last, sizeof last);
    if (first >= last) return {};
    return s.substr(first, last - first);
}

bool is_hex(const std::string& s) {
    int bad = 0;
    for (const char ch : s) bad |= ~digit_mask(ch);
    return !s.empty() && publish(ct::is_zero_mask(static_cast<std::uint64_t>(bad & 1)));
}

Bytes hex_key_argument(const std::string& text, std::string_view option, std::size_t bytes) {
    const std::string expected = std::string(option) + " must be " + std::to_string(bytes) +
                                 " bytes (" + std::to_string(2 * bytes) +
                                 " hexadecimal digits), got " + std::to_string(text.size()) +
                                 " characters";
    if (text.size() != 2 * bytes) throw std::invalid_argument(expected);
    if (!is_hex(text)) throw std::invalid_argument(expected + ", not all hexadecimal digits");
    return detail::from_hex(text);
}

formats::Sm2PrivateKey load_private_key(const std::string& key_arg, std::string_view option) {
    KeyText m;
    key_material(key_arg, option, {64}, "64", m);
    return parse_at(m, [&] {
        if (is_hex_text(m.text)) {
            std::string t = trim(m.text);
            const WipeOnExit wipe_t(t);
            if (t.size() == 128 || t.size() == 130) throw std::invalid_argument(kPublicNotPrivate);
            if (t.size() != 64)
                throw std::invalid_argument("a hexadecimal private key is 64 digits, got " +
                                            std::to_string(t.size()));
            return detail::sm2_keys::key_pair_from_hex(t);
        }
        if (starts_with_sequence(m.text)) {
            try {
                return formats::sm2_private_key_from_der(as_bytes(m.text));
            } catch (const std::invalid_argument&) {
                // Not a private key: say so if it is a public one.
                bool is_public = true;
                try {
                    (void)formats::sm2_public_key_from_der(as_bytes(m.text));
                } catch (const std::invalid_argument&) {
                    is_public = false;
                }
                if (!is_public) throw;
                throw std::invalid_argument(kPublicNotPrivate);
            }
        }
        const std::vector<std::string> labels = pem_labels(m.text);
        const auto has = [&](const char* label) {
            return std::find(labels.begin(), labels.end(), label) != labels.end();
        };
        if (has("ENCRYPTED PRIVATE KEY") && !has("PRIVATE KEY") && !has("EC PRIVATE KEY"))
            throw std::invalid_argument(
                "encrypted private keys are not supported (decrypt it first: openssl pkey -in "
                "KEY -out PLAIN.pem)");
        if (has("PUBLIC KEY") && !has("PRIVATE KEY") && !has("EC PRIVATE KEY"))
            throw std::invalid_argument(kPublicNotPrivate);
        return formats::sm2_private_key_from_pem(m.text);
    });
}

std::string load_public_key(const std::string& key_arg, std::string_view option) {
    KeyText m;
    key_material(key_arg, option, {64, 66, 128, 130}, "64, 66, 128 or 130", m);
    return parse_at(m, [&]() -> std::string {
        if (is_hex_text(m.text)) {
            std::string t = trim(m.text);
            const WipeOnExit wipe_t(t);
            // 64 digits are a private key, whose public half is wanted.
            if (t.size() == 64) return public_half(detail::sm2_keys::key_pair_from_hex(t));
            ct::declassify(t.data(), t.size());  // a public key
            return formats::sm2_public_key_from_any(t);
        }
        // The binary points (02/03 || x, x || y, 04 || x || y): no private-key file has
        // these lengths, so the file is a public key.
        const std::size_t n = m.text.size();
        if (n == 33 || n == 64 || n == 65) {
            ct::declassify(m.text.data(), n);
            return formats::sm2_public_key_from_any(as_bytes(m.text));
        }
        if (starts_with_sequence(m.text)) {
            try {
                return detail::sm2_keys::public_key_from_spki(as_bytes(m.text));
            } catch (const std::invalid_argument&) {
                return public_half(formats::sm2_private_key_from_der(as_bytes(m.text)));
            }
        }
        const std::vector<std::string> labels = pem_labels(m.text);
        if (std::find(labels.begin(), labels.end(), "PUBLIC KEY") != labels.end())
            return formats::sm2_public_key_from_any(std::string_view(m.text));
        return public_half(formats::sm2_private_key_from_pem(m.text));
    });
}

}  // namespace pelmo::cli
