// The field multiplication kernels under test: every kernel this CPU can run.
#pragma once

#include <gtest/gtest.h>

#include "common/cpu.hpp"
#include "sm2/curve/field.hpp"
#include "sm2/curve/field_adx.hpp"

namespace pelmo::test::sm2ref {

#if defined(PELMO_SM2_HAVE_ADX)
using FieldKernels =
    ::testing::Types<detail::sm2::curve::FieldPortable, detail::sm2::curve::FieldAdx>;
#else
using FieldKernels = ::testing::Types<detail::sm2::curve::FieldPortable>;
#endif

/// True when kernel F cannot run here (the test then skips).
template <class F>
bool kernel_unavailable() {
#if defined(PELMO_SM2_HAVE_ADX)
    if constexpr (std::is_same_v<F, detail::sm2::curve::FieldAdx>)
        return !detail::cpu_has(detail::kCpuBmi2 | detail::kCpuAdx);
#endif
    return false;
}

/// Runs body once with each kernel the public operations can dispatch to, forcing it
/// through the CPU feature mask.
template <typename Body>
void for_each_dispatch(Body body) {
    using detail::set_cpu_feature_mask;
    set_cpu_feature_mask(0);
    {
        SCOPED_TRACE("portable kernel");
        body();
    }
    set_cpu_feature_mask(~0u);
    if (detail::cpu_has(detail::kCpuBmi2 | detail::kCpuAdx)) {
        SCOPED_TRACE("bmi2/adx kernel");
        body();
    }
}

}  // namespace pelmo::test::sm2ref
