// Running a test body under every SM4 kernel (and every GHASH kernel) this CPU supports.
#pragma once

#include <gtest/gtest.h>

#include "common/cpu.hpp"
#include "sm4/ghash.hpp"
#include "sm4/kernels/kernel.hpp"
#include "support/kernels.hpp"

namespace pelmo::test {

// Runs body once per kernel this CPU supports, with the public layer forced to it: the
// table-based portable kernel by hiding every instruction set (it never runs where a
// table-free kernel can), the others through PELMO_SM4_KERNEL.
template <typename Body>
inline void for_each_kernel(Body body) {
    namespace ksm4 = pelmo::detail::sm4;
    int ran = 0;
    for (ksm4::KernelId id : ksm4::kAllKernels) {
        const char* name = ksm4::kernel_of(id).name;
        pelmo::detail::set_cpu_feature_mask(~0u);
        if (ksm4::kernel_by_id(id) == nullptr) {
            note_skipped_kernel("SM4", name);
            continue;
        }
        pelmo::detail::set_cpu_feature_mask(id == ksm4::KernelId::portable ? 0u : ~0u);
        const ScopedKernel force("PELMO_SM4_KERNEL", name);
        SCOPED_TRACE(name);
        EXPECT_STREQ(ksm4::active_kernel().name, name);
        body(ksm4::active_kernel());
        ++ran;
    }
    pelmo::detail::set_cpu_feature_mask(~0u);
    EXPECT_GE(ran, 1);
}

/// Runs body once per GHASH kernel this CPU supports, forced through PELMO_GHASH_KERNEL
/// (every GHASH kernel is free of secret-dependent lookups, the portable one included).
template <typename Body>
inline void for_each_ghash_kernel(Body body) {
    namespace ds = pelmo::detail::sm4;
    int ran = 0;
    for (ds::GhashKernelId id : ds::kAllGhashKernels) {
        const char* name = ds::ghash_kernel_of(id).name;
        if (ds::ghash_kernel_by_id(id) == nullptr) {
            note_skipped_kernel("GHASH", name);
            continue;
        }
        const ScopedKernel force("PELMO_GHASH_KERNEL", name);
        SCOPED_TRACE(name);
        EXPECT_STREQ(ds::active_ghash().name, name);
        body(ds::active_ghash());
        ++ran;
    }
    EXPECT_GE(ran, 1);
}

}  // namespace pelmo::test
