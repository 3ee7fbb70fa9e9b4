#include "common/random.hpp"

#include <sys/random.h>

#include <cerrno>
#include <system_error>

namespace pelmo::detail {

void random_bytes(std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t got = ::getrandom(out.data() + done, out.size() - done, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        done += static_cast<std::size_t>(got);
    }
}

}  // namespace pelmo::detail
