#include "sm2/curve/curve.hpp"

#include <array>

#include "common/cpu.hpp"
#include "common/dispatch.hpp"
#include "sm2/curve/field_adx.hpp"
#include "sm2/curve/mult.hpp"

namespace pelmo::detail::sm2::curve {

namespace {

constexpr Bytes32 hex32(const char (&s)[65]) {
    Bytes32 out{};
    for (unsigned i = 0; i < 32; ++i) {
        auto nib = [](char c) -> std::uint8_t {
            return static_cast<std::uint8_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        };
        out[i] = static_cast<std::uint8_t>((nib(s[2 * i]) << 4) | nib(s[2 * i + 1]));
    }
    return out;
}

void field_workload(std::size_t index) {
#if defined(PELMO_SM2_HAVE_ADX)
    if (index == 1) return Curve<FieldAdx>::field_workload();
#endif
    (void)index;
    Curve<FieldPortable>::field_workload();
}

KernelChoice g_field_choice;

std::size_t field_kernel_index() noexcept {
    return g_field_choice.get(
        "PELMO_SM2_FIELD_KERNEL",
        [] {
#if defined(PELMO_SM2_HAVE_ADX)
            const bool adx = cpu_has(kCpuBmi2 | kCpuAdx);
#else
            const bool adx = false;
#endif
            return std::array<KernelOption, 2>{{{"portable", true}, {"adx", adx}}};
        },
        field_workload);
}

// Runs the operation with the kernel chosen for this CPU.
#if defined(PELMO_SM2_HAVE_ADX)
#define PELMO_SM2_DISPATCH(call) \
    (use_adx_kernel() ? Curve<FieldAdx>::call : Curve<FieldPortable>::call)
#else
#define PELMO_SM2_DISPATCH(call) Curve<FieldPortable>::call
#endif

}  // namespace

const Bytes32 kP = hex32("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF");
const Bytes32 kN = hex32("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123");
const Bytes32 kB = hex32("28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93");
const Bytes32 kGx = hex32("32c4ae2c1f1981195f9904466a39c9948fe30bbff2660be1715a4589334c74c7");
const Bytes32 kGy = hex32("bc3736a2f4f6779c59bdcee36b692153d0a9877cc62a474002df32e52139f0a0");

bool use_adx_kernel() noexcept {
    return field_kernel_index() == 1;
}

const char* field_kernel_name() noexcept {
    return field_kernel_index() == 1 ? "adx" : "portable";
}

bool is_valid_point(const Affine& P) noexcept {
    return PELMO_SM2_DISPATCH(is_valid_point(P));
}

bool mul_base(Affine& out, const Bytes32& k) noexcept {
    return PELMO_SM2_DISPATCH(mul_base(out, k));
}

bool mul(Affine& out, const Bytes32& k, const Affine& P) noexcept {
    return PELMO_SM2_DISPATCH(mul(out, k, P));
}

bool mul_base_and_mul(Affine& kG_out, Affine& kP_out, const Bytes32& k, const Affine& P) noexcept {
    return PELMO_SM2_DISPATCH(mul_base_and_mul(kG_out, kP_out, k, P));
}

bool mul_double_vartime(Affine& out, const Bytes32& s, const Bytes32& t, const Affine& P) noexcept {
    return PELMO_SM2_DISPATCH(mul_double_vartime(out, s, t, P));
}

bool mul_sum(Affine& out, const Bytes32& k, const Bytes32& x, const Affine& P,
             const Affine& Q) noexcept {
    return PELMO_SM2_DISPATCH(mul_sum(out, k, x, P, Q));
}

bool lift_x(Affine& out, const Bytes32& x, int y_parity) noexcept {
    return PELMO_SM2_DISPATCH(lift_x(out, x, y_parity));
}

}  // namespace pelmo::detail::sm2::curve
