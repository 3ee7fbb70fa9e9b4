// The field multiplication kernels under test: every kernel this CPU can run.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include "common/cpu.hpp"
#include "sm2/curve/field.hpp"
#include "sm2/curve/field_adx.hpp"
#include "sm2/curve/mult.hpp"
#include "support/kernels.hpp"

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
/// through PELMO_SM2_FIELD_KERNEL.
template <typename Body>
void for_each_dispatch(Body body) {
    for (const char* name : {"portable", "adx"}) {
        const bool adx = std::string_view(name) == "adx";
#if defined(PELMO_SM2_HAVE_ADX)
        if (adx && !detail::cpu_has(detail::kCpuBmi2 | detail::kCpuAdx)) {
            test::note_skipped_kernel("SM2 field", name);
            continue;
        }
#else
        if (adx) continue;  // not built here (not x86-64, or not optimised)
#endif
        const test::ScopedKernel force("PELMO_SM2_FIELD_KERNEL", name);
        SCOPED_TRACE(name);
        ASSERT_STREQ(detail::sm2::curve::field_kernel_name(), name);
        body();
    }
}

}  // namespace pelmo::test::sm2ref
