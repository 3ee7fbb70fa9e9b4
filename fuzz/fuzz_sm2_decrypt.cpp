// SM2 decryption of arbitrary ciphertexts in both layouts, and of the ASN.1 form:
// no value or a documented exception, never a crash; the engine unchanged.
#include <pelmo/formats.hpp>
#include <pelmo/sm2.hpp>

#include <stdexcept>

#include "fuzz_check.hpp"

namespace {

const std::string kPriv = "3945208f7b2144b13f36e38ac6d39f95889393692860b51a42fb81ef4df7c5b8";
const std::string kPub =
    "09f9df311e5421a150dd7d161e4bc5c672179fad1833fc076bb08ff356f35020"
    "ccea490ce26775a52dc6ea718cc1aa600aed05fbf35e084a6632f6072da9ad13";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pelmo::ByteView ct(data, size);
    for (int mode : {0, 1}) {
        static const pelmo::sm2::CryptSM2 engines[2] = {
            pelmo::sm2::CryptSM2(kPriv, kPub, pelmo::sm2::default_ecc_table, 0),
            pelmo::sm2::CryptSM2(kPriv, kPub, pelmo::sm2::default_ecc_table, 1)};
        const auto& engine = engines[mode];
        try {
            const auto plain = engine.decrypt(ct);
            // Anything that decrypts came from a real encryption: it must re-encrypt
            // and decrypt to the same plaintext.
            if (plain) FUZZ_CHECK(engine.decrypt(*engine.encrypt(*plain)) == plain);
        } catch (const std::invalid_argument&) {
        }
        try {
            const pelmo::Bytes raw = pelmo::formats::sm2_ciphertext_from_asn1(ct, mode);
            FUZZ_CHECK(pelmo::formats::sm2_ciphertext_to_asn1(raw, mode) ==
                       pelmo::Bytes(ct.begin(), ct.end()));
            (void)engine.decrypt(raw);
        } catch (const std::invalid_argument&) {
        }
        FUZZ_CHECK(engine.private_key == kPriv && engine.mode == mode);
    }
    return 0;
}
