// SM4Manager::decrypt on arbitrary text: a text, or std::invalid_argument /
// std::out_of_range; a failure leaves the manager as it was; encrypt round-trips.
#include <pelmo/crypt_managers.hpp>

#include <stdexcept>
#include <string>

#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static pelmo::crypt_managers::SM4Manager manager;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto sk = manager.sk;
    const int mode = manager.mode;
    try {
        (void)manager.decrypt(text);
    } catch (const std::invalid_argument&) {
        FUZZ_CHECK(manager.sk == sk && manager.mode == mode);
    } catch (const std::out_of_range&) {
        FUZZ_CHECK(manager.sk == sk && manager.mode == mode);
    }
    try {
        FUZZ_CHECK(manager.decrypt(manager.encrypt(text)) == text);
    } catch (const std::invalid_argument&) {
        // Not valid UTF-8: encrypt refuses it.
    }
    return 0;
}
