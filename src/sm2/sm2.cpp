// CryptSM2: construction and the point operations.
#include <pelmo/sm2.hpp>

#include <stdexcept>
#include <utility>

#include "common/ct.hpp"
#include "common/wipe.hpp"
#include "sm2/engine.hpp"
#include "sm2/fast.hpp"
#include "sm2/generic/point_ops.hpp"

namespace pelmo::sm2 {

using detail::sm2::Curve;
namespace generic = detail::sm2::generic;
namespace fast = detail::sm2::fast;

namespace {

// Zeros every byte the key's string holds (a short key lives inside the object) and
// leaves no key.
void wipe_key(std::optional<std::string>& key) noexcept {
    if (key) detail::secure_wipe(*key);
    key.reset();
}

// Moves both keys from `from` into `to` (whose private key is already wiped), leaving
// `from` without keys and without a readable trace of the private one.
void take_keys(CryptSM2& to, CryptSM2& from) noexcept {
    to.private_key = std::move(from.private_key);
    wipe_key(from.private_key);
    to.public_key = std::move(from.public_key);
    from.public_key.reset();
}

}  // namespace

CryptSM2::CryptSM2(std::optional<std::string> private_key_in,
                   std::optional<std::string> public_key_in, const EccTable& table, int mode_in,
                   bool asn1_in)
    : private_key(std::move(private_key_in)),
      public_key(std::move(public_key_in)),
      mode(mode_in),
      asn1(asn1_in) {
    // An uncompressed point "04" || x || y of the 256-bit curve loses its prefix; the
    // length is the fixed 130, whatever the table.
    if (public_key && public_key->size() == 130 && public_key->starts_with("04"))
        public_key->erase(0, 2);
    try {
        curve_ = detail::sm2::make_curve(table);
        if (mode != 0 && mode != 1) throw std::invalid_argument("mode must be one of (0, 1)");
    } catch (...) {
        wipe_key(private_key);  // no destructor runs for an engine that was never made
        throw;
    }
}

CryptSM2::CryptSM2(const CryptSM2& other) = default;

CryptSM2::CryptSM2(CryptSM2&& other) noexcept
    : mode(other.mode), asn1(other.asn1), curve_(other.curve_) {
    take_keys(*this, other);
}

CryptSM2& CryptSM2::operator=(const CryptSM2& other) {
    if (this == &other) return *this;
    CryptSM2 copy(other);  // may throw: nothing has changed yet
    *this = std::move(copy);
    return *this;
}

CryptSM2& CryptSM2::operator=(CryptSM2&& other) noexcept {
    if (this == &other) return *this;
    wipe_key(private_key);
    take_keys(*this, other);
    mode = other.mode;
    asn1 = other.asn1;
    curve_ = other.curve_;
    return *this;
}

CryptSM2::~CryptSM2() {
    wipe_key(private_key);
}

int CryptSM2::para_len() const {
    return static_cast<int>(curve_->para_len);
}
const BigInt& CryptSM2::ecc_a3() const {
    return curve_->ecc_a3;
}
const EccTable& CryptSM2::ecc_table() const {
    return curve_->table;
}

std::optional<std::string> CryptSM2::_kg(const BigInt& k, std::string_view Point) const {
    const Curve& c = *curve_;
    if (c.recommended) {
        // A point of the curve goes to the fixed-width core; anything else (not on the
        // curve, a Jacobian text, bad digits) takes the double-and-add below literally.
        if (const auto P = fast::parse_point(Point)) {
            const auto R = fast::kg(fast::scalar_from_int(k), *P);
            if (!R) return std::nullopt;
            std::string out = fast::format_point(*R);
            detail::ct::declassify(out.data(), out.size());  // handed to the caller
            return out;
        }
    }
    return generic::kg_text(c, k, Point);
}

std::optional<std::string> CryptSM2::_double_point(std::string_view Point) const {
    return generic::double_point_text(*curve_, Point);
}

std::optional<std::string> CryptSM2::_add_point(std::string_view P1, std::string_view P2) const {
    return generic::add_point_text(*curve_, P1, P2);
}

std::optional<std::string> CryptSM2::_convert_jacb_to_nor(std::string_view Point) const {
    return generic::convert_text(*curve_, Point);
}

}  // namespace pelmo::sm2
