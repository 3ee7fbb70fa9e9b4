// SM2 key exchange on the recommended curve with its secrets marked: the static private
// keys and the ephemeral scalars of both sides, given as text or drawn; the shared point,
// t and K never steer a branch or an index. The confirmation that a side sends and the
// outcome of comparing the one it receives are published.
#include <pelmo/sm2.hpp>

#include <cstdlib>
#include <string>

#include "common/hex.hpp"
#include "ct_check.hpp"

namespace {

using pelmo::sm2::SM2KeyExchange;

// The GM/T 0003.5 key-exchange example's key pairs and ephemeral scalars.
const std::string kDa = "81EB26E941BB5AF16DF116495F90695272AE2CD63D6C4AE1678418BE48230029";
const std::string kPa =
    "160e12897df4edb61dd812feb96748fbd3ccf4ffe26aa6f6db9540af49c94232"
    "4a7dad08bb9a459531694beb20aa489d6649975e1bfcf8c4741b78b4b223007f";
const std::string kDb = "785129917d45a9ea5437a59356b82338eaadda6ceb199088f14ae10defa229b5";
const std::string kPb =
    "6ae848c57c53c7b1b5fa99eb2286af078ba64c64591b8b566f7357d576f16dfb"
    "ee489d771621a27b36c5c7992062e9cd09a9264386f3fbea54dff69305621c4d";
const std::string kRa = "d4de15474db74d06491c440d305e012400990f3e390c7e87153c12db2ea60bb3";
const std::string kRb = "7E07124814B309489125EAED101113164EBF0F3458C5BD88335C1F9D596243D6";
const std::string kK = "6c89347354de2484c60b4ab1fde4c6e5";

void require(bool ok) {
    if (!ok) std::abort();
}

pelmo::ByteView id() {
    static const std::string text = "1234567812345678";
    return pelmo::ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Both sides with marked private keys; r_a and r_b marked when given.
void exchange(const std::string* r_a, const std::string* r_b) {
    std::string da = kDa, db = kDb;
    pelmo::ct_check::classify(da.data(), da.size());
    pelmo::ct_check::classify(db.data(), db.size());
    SM2KeyExchange a(da, kPa, id(), kPb, id(), true);
    SM2KeyExchange b(db, kPb, id(), kPa, id(), false);
    std::string ra, rb;
    if (r_a) {
        ra = *r_a;
        rb = *r_b;
        pelmo::ct_check::classify(ra.data(), ra.size());
        pelmo::ct_check::classify(rb.data(), rb.size());
    }
    const std::string Ra = r_a ? a.ephemeral(ra) : a.ephemeral();
    const std::string Rb = r_b ? b.ephemeral(rb) : b.ephemeral();
    auto ka = a.compute(Rb, 16);
    auto kb = b.compute(Ra, 16);
    require(ka.has_value() && kb.has_value());
    require(SM2KeyExchange::confirm(*ka, kb->confirmation));
    require(SM2KeyExchange::confirm(*kb, ka->confirmation));
    pelmo::ct_check::declassify(ka->key.data(), ka->key.size());
    pelmo::ct_check::declassify(kb->key.data(), kb->key.size());
    require(ka->key == kb->key);
    if (r_a) require(pelmo::detail::to_hex(ka->key) == kK);
    // A tampered confirmation is refused, publishing only the refusal.
    auto wrong = kb->confirmation;
    wrong[3] ^= 0x10;
    require(!SM2KeyExchange::confirm(*ka, wrong));
}

}  // namespace

PELMO_CT_CHECK_CASE(sm2_key_exchange_with_secret_keys_and_given_scalars) {
    exchange(&kRa, &kRb);
}

PELMO_CT_CHECK_CASE(sm2_key_exchange_with_secret_keys_and_drawn_scalars) {
    exchange(nullptr, nullptr);
}
