// Running a test body once per SM3 compression kernel that this CPU supports.
#pragma once

#include <gtest/gtest.h>

#include "sm3/compress.hpp"
#include "support/kernels.hpp"

namespace pelmo::test {

/// Runs body once per compression kernel this CPU supports, forcing that kernel; notes
/// the kernels it cannot run.
template <typename Body>
void for_each_sm3_kernel(Body body) {
    namespace ksm3 = pelmo::detail::sm3;
    for (const ksm3::Kernel k : ksm3::kAllKernels) {
        const char* name = ksm3::kernel_name(k);
        if (ksm3::kernel_by_name(k) == nullptr) {
            note_skipped_kernel("SM3", name);
            continue;
        }
        const ScopedKernel force("PELMO_SM3_KERNEL", name);
        SCOPED_TRACE(name);
        ASSERT_STREQ(ksm3::active_kernel_name(), name);
        body();
    }
}

}  // namespace pelmo::test
