// The SM2 curve core handles private keys and nonces: k*G, k*P, k*(Q + x*P) and the scalar
// arithmetic of signing must not branch on or index by them, with either field kernel.
#include <cstdlib>

#include "common/cpu.hpp"
#include "ct_check.hpp"
#include "sm2/curve/curve.hpp"
#include "sm2/curve/field_adx.hpp"
#include "sm2/curve/mult.hpp"

namespace {

namespace curve = pelmo::detail::sm2::curve;
using pelmo::ct_check::classify;
using pelmo::ct_check::declassify;

// The private key of the GM/T 0003.5 example, and an arbitrary nonce-like value.
constexpr curve::Bytes32 kKey = {0x39, 0x45, 0x20, 0x8F, 0x7B, 0x21, 0x44, 0xB1, 0x3F, 0x36, 0xE3,
                                 0x8A, 0xC6, 0xD3, 0x9F, 0x95, 0x88, 0x93, 0x93, 0x69, 0x28, 0x60,
                                 0xB5, 0x1A, 0x42, 0xFB, 0x81, 0xEF, 0x4D, 0xF7, 0xC5, 0xB8};
constexpr curve::Bytes32 kNonce = {0x59, 0x27, 0x6E, 0x27, 0xD5, 0x06, 0x86, 0x1A, 0x16, 0x68, 0x0F,
                                   0x3A, 0xD9, 0xC0, 0x2D, 0xCC, 0xEF, 0x3C, 0xC1, 0xFA, 0x3C, 0xDB,
                                   0xE4, 0xCE, 0x6D, 0x54, 0xB8, 0x0D, 0xEA, 0xC1, 0xBC, 0x21};

template <class F>
void check_mul_base() {
    curve::Bytes32 k = kKey;
    classify(k.data(), k.size());
    curve::Affine out;
    const bool ok = curve::Curve<F>::mul_base(out, k);
    declassify(&out, sizeof out);
    if (!ok || out.x[0] != 0x09) std::abort();  // x = 09F9DF31...
}

// k*P, and k*(Q + x*P) as the key exchange computes it (the sum public, k secret).
template <class F>
void check_mul() {
    curve::Bytes32 k = kNonce;
    classify(k.data(), k.size());
    const curve::Affine g{curve::kGx, curve::kGy};
    curve::Affine out, shared;
    const bool ok = curve::Curve<F>::mul(out, k, g);
    const bool ok_sum = curve::Curve<F>::mul_sum(shared, k, kKey, g, g);
    declassify(&out, sizeof out);
    declassify(&shared, sizeof shared);
    if (!ok || !ok_sum) std::abort();
}

// Valgrind hides BMI2 and ADX from CPUID but executes mulx/adcx/adox, so under it
// the ADX kernel is checked too.
bool have_adx() {
    return pelmo::detail::cpu_has(pelmo::detail::kCpuBmi2 | pelmo::detail::kCpuAdx) ||
           RUNNING_ON_VALGRIND;
}

}  // namespace

PELMO_CT_CHECK_CASE(sm2_curve_mul_base_portable) {
    check_mul_base<curve::FieldPortable>();
}
PELMO_CT_CHECK_CASE(sm2_curve_mul_portable) {
    check_mul<curve::FieldPortable>();
}

#if defined(PELMO_SM2_HAVE_ADX)
PELMO_CT_CHECK_CASE(sm2_curve_mul_base_adx) {
    if (have_adx()) check_mul_base<curve::FieldAdx>();
}
PELMO_CT_CHECK_CASE(sm2_curve_mul_adx) {
    if (have_adx()) check_mul<curve::FieldAdx>();
}
#endif

PELMO_CT_CHECK_CASE(sm2_curve_scalar_arithmetic) {
    // The steps of signing: r + k, (1 + d)^-1, products and differences mod n.
    curve::Bytes32 d = kKey, k = kNonce;
    classify(d.data(), d.size());
    classify(k.data(), k.size());
    curve::Bytes32 one{};
    one[31] = 1;
    const curve::Bytes32 dr = curve::scalar::reduce(d);
    const curve::Bytes32 inv = curve::scalar::inv(curve::scalar::add(dr, one));
    const curve::Bytes32 rk = curve::scalar::add(curve::scalar::reduce(k), dr);
    curve::Bytes32 s = curve::scalar::sub(curve::scalar::mul(inv, rk), dr);
    declassify(s.data(), s.size());
    volatile std::uint8_t sink = s[0];
    (void)sink;
}
