// SM2 verification of arbitrary signatures: raw and DER through verify and
// verify_with_sm3, and recovery. Only documented exceptions; the engine unchanged.
#include <pelmo/sm2.hpp>

#include <stdexcept>
#include <string>

#include "fuzz_check.hpp"

namespace {

const std::string kPub =
    "09f9df311e5421a150dd7d161e4bc5c672179fad1833fc076bb08ff356f35020"
    "ccea490ce26775a52dc6ea718cc1aa600aed05fbf35e084a6632f6072da9ad13";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first byte splits the input into a signature text and a message.
    const std::size_t cut = std::min<std::size_t>(data[0], size - 1);
    const std::string sig(reinterpret_cast<const char*>(data + 1), cut);
    const pelmo::ByteView msg(data + 1 + cut, size - 1 - cut);
    static const pelmo::sm2::CryptSM2 raw(std::nullopt, kPub, pelmo::sm2::default_ecc_table, 0,
                                          false);
    static const pelmo::sm2::CryptSM2 der(std::nullopt, kPub, pelmo::sm2::default_ecc_table, 0,
                                          true);
    for (const auto* engine : {&raw, &der}) {
        allow_documented_errors([&] { (void)engine->verify(sig, msg); });
        allow_documented_errors([&] { (void)engine->verify_with_sm3(sig, msg); });
        allow_documented_errors([&] {
            for (const std::string& key : engine->recover_public_keys(sig, msg))
                FUZZ_CHECK(key.size() == 128);
        });
        FUZZ_CHECK(engine->public_key == kPub);
    }
    return 0;
}
