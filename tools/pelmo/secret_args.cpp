#include "secret_args.hpp"

#include <array>
#include <cstddef>
#include <stdexcept>

#include "common/wipe.hpp"
#include "io.hpp"
#include "keys.hpp"

namespace pelmo::cli {

Bytes read_secret_file(const std::string& path) {
    Input in(path);
    Bytes out;
    out.reserve(static_cast<std::size_t>(in.size_hint()) + 1);
    std::array<std::uint8_t, 1 << 12> buf;
    const detail::WipeOnExit wipe_buf(buf);
    for (std::size_t n; (n = in.read(buf.data(), buf.size())) > 0;) {
        if (out.size() + n > out.capacity()) {
            // Moved by hand, so that the old buffer is wiped before it is freed.
            Bytes bigger;
            bigger.reserve(2 * (out.size() + n));
            bigger.assign(out.begin(), out.end());
            detail::secure_wipe(out);
            out.swap(bigger);
        }
        out.insert(out.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return out;
}

Bytes hex_bytes_argument(const std::string& text, std::string_view option) {
    if (text.empty()) return {};
    if (text.size() % 2 != 0)
        throw std::invalid_argument(std::string(option) +
                                    " must be an even number of hexadecimal digits, got " +
                                    std::to_string(text.size()) + " characters");
    return hex_key_argument(text, option, text.size() / 2);
}

}  // namespace pelmo::cli
