// The kernels the constant-time check runs, each forced through its environment variable.
//
// SM4: every table-free kernel that this CPU and valgrind execute.
//
// valgrind 3.19, probed on an AVX-512 + GFNI CPU: it executes AES-NI in SSE encoding and
// AVX2 with VEX-encoded AES-NI, so the aesni and aesni_avx2 kernels run under it. It
// stops with SIGILL ("Illegal opcode") at GFNI instructions, SSE- and VEX-encoded alike,
// and at every EVEX (AVX-512) instruction, and it hides AVX-512F, GFNI and VAES from
// CPUID, so the gfni_avx512 kernel is never chosen here; its rounds are the same
// branch-free template (sm4/kernels/simd.hpp) as the kernels that run. The portable
// kernel runs under valgrind but indexes its tables with key and data bytes by design
// (it is chosen only on CPUs without AES-NI and GFNI), so it is left out.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/cpu.hpp"
#include "sm3/compress.hpp"
#include "sm4/kernels/kernel.hpp"
#include "support/kernels.hpp"

namespace pelmo::ct_check {

/// Calls run() once under each such kernel; returns how many ran.
template <class Run>
int for_each_sm4_kernel(Run run) {
    namespace ksm4 = pelmo::detail::sm4;
    int ran = 0;
    for (ksm4::KernelId id :
         {ksm4::KernelId::aesni_avx2, ksm4::KernelId::aesni, ksm4::KernelId::gfni_avx512}) {
        if (ksm4::kernel_by_id(id) == nullptr) {
            std::printf("ct:   sm4 kernel %s: not run (not offered here)\n",
                        ksm4::kernel_of(id).name);
            continue;
        }
        const pelmo::test::ScopedKernel force("PELMO_SM4_KERNEL", ksm4::kernel_of(id).name);
        if (ksm4::active_kernel().name != ksm4::kernel_of(id).name) std::abort();
        std::printf("ct:   sm4 kernel %s\n", ksm4::active_kernel().name);
        std::fflush(stdout);
        run();
        ++ran;
    }
    if (ran == 0) std::printf("ct:   sm4 skipped: no table-free kernel on this CPU\n");
    return ran;
}

/// Calls run() once under each SM3 kernel this CPU and valgrind execute (all of them are
/// free of tables and data-dependent branches; valgrind hides AVX-512 from CPUID, so that
/// kernel is not offered); returns how many ran.
template <class Run>
int for_each_sm3_kernel(Run run) {
    namespace ksm3 = pelmo::detail::sm3;
    int ran = 0;
    for (const ksm3::Kernel k : ksm3::kAllKernels) {
        if (ksm3::kernel_by_name(k) == nullptr) {
            std::printf("ct:   sm3 kernel %s: not run (not offered here)\n", ksm3::kernel_name(k));
            continue;
        }
        const pelmo::test::ScopedKernel force("PELMO_SM3_KERNEL", ksm3::kernel_name(k));
        if (std::string(ksm3::active_kernel_name()) != ksm3::kernel_name(k)) std::abort();
        std::printf("ct:   sm3 kernel %s\n", ksm3::active_kernel_name());
        std::fflush(stdout);
        run();
        ++ran;
    }
    return ran;
}

}  // namespace pelmo::ct_check
