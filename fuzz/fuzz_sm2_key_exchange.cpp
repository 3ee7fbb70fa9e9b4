// SM2 key exchange against hostile ephemeral points: the input's first byte picks the
// key length and how the rest becomes the peer's point (its octets as x || y, the
// point of the curve with x taken from the input, or the input as text). compute
// gives no value or a key of klen bytes, or a documented exception, never a crash;
// the fixed-width core and the generic path agree on every input.
#include <pelmo/sm2.hpp>

#include <cstring>
#include <string>

#include "common/hex.hpp"
#include "fuzz_check.hpp"
#include "sm2/curve/curve.hpp"
#include "sm2/key_exchange.hpp"

namespace {

const std::string kDa = "81eb26e941bb5af16df116495f90695272ae2cd63d6c4ae1678418be48230029";
const std::string kPa =
    "160e12897df4edb61dd812feb96748fbd3ccf4ffe26aa6f6db9540af49c94232"
    "4a7dad08bb9a459531694beb20aa489d6649975e1bfcf8c4741b78b4b223007f";
const std::string kPb =
    "6ae848c57c53c7b1b5fa99eb2286af078ba64c64591b8b566f7357d576f16dfb"
    "ee489d771621a27b36c5c7992062e9cd09a9264386f3fbea54dff69305621c4d";
const std::string kRa = "d4de15474db74d06491c440d305e012400990f3e390c7e87153c12db2ea60bb3";

pelmo::sm2::SM2KeyExchange make_side(bool generic) {
    const std::string_view text = "1234567812345678";
    const pelmo::ByteView id(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    pelmo::sm2::SM2KeyExchange side(kDa, kPa, id, kPb, id, true);
    if (generic) pelmo::detail::sm2::KeyExchangeAccess::use_generic_path(side);
    side.ephemeral(kRa);
    return side;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const pelmo::sm2::SM2KeyExchange core = make_side(false);
    static const pelmo::sm2::SM2KeyExchange generic = make_side(true);
    const std::size_t klen = 1 + (data[0] & 63);
    const int how = data[0] >> 6;
    const pelmo::ByteView rest(data + 1, size - 1);

    std::string point;
    if (how == 0 && rest.size() >= 64) {
        point = pelmo::detail::to_hex(rest.first(64));
    } else if (how == 1 && rest.size() >= 33) {
        // A point of the curve: hostile in value, not in form.
        namespace cv = pelmo::detail::sm2::curve;
        cv::Bytes32 x;
        std::memcpy(x.data(), rest.data(), 32);
        cv::Affine P;
        if (!cv::lift_x(P, x, rest[32] & 1)) return 0;
        point = pelmo::detail::to_hex(P.x) + pelmo::detail::to_hex(P.y);
    } else {
        point.assign(reinterpret_cast<const char*>(rest.data()), rest.size());
    }

    // Both paths refuse the same texts (with the documented exception) and points.
    const auto run = [&](const pelmo::sm2::SM2KeyExchange& side, bool& threw) {
        std::optional<pelmo::sm2::KeyExchangeResult> out;
        try {
            out = side.compute(point, klen);
        } catch (const std::invalid_argument&) {
            threw = true;
        }
        return out;
    };
    bool threw_a = false, threw_b = false;
    const auto a = run(core, threw_a);
    const auto b = run(generic, threw_b);
    FUZZ_CHECK(threw_a == threw_b);
    FUZZ_CHECK(a.has_value() == b.has_value());
    if (!a) return 0;
    FUZZ_CHECK(a->key.size() == klen);
    FUZZ_CHECK(a->key == b->key && a->confirmation == b->confirmation &&
               a->expected == b->expected);
    FUZZ_CHECK(pelmo::sm2::SM2KeyExchange::confirm(*a, b->expected));
    return 0;
}
