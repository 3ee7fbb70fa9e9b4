// The library's version, fixed when the library is compiled.
#include <pelmo/version.hpp>

namespace pelmo {

std::string_view version() noexcept {
    return PELMO_VERSION_STRING;
}

}  // namespace pelmo
