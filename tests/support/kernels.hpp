// Forcing a kernel in tests, through the environment variable the library reads.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/cpu.hpp"

namespace pelmo::test {

/// Sets env_var (e.g. "PELMO_SM3_KERNEL") to a kernel's name for this scope and makes
/// the library choose again; the previous value comes back afterwards.
class ScopedKernel {
  public:
    ScopedKernel(const char* env_var, const char* name) : var_(env_var) {
        if (const char* old = std::getenv(env_var)) had_ = true, old_ = old;
        ::setenv(env_var, name, 1);
        detail::refresh_kernel_choices();
    }
    ~ScopedKernel() {
        if (had_)
            ::setenv(var_, old_.c_str(), 1);
        else
            ::unsetenv(var_);
        detail::refresh_kernel_choices();
    }
    ScopedKernel(const ScopedKernel&) = delete;
    ScopedKernel& operator=(const ScopedKernel&) = delete;

  private:
    const char* var_;
    bool had_ = false;
    std::string old_;
};

/// Says that a kernel's tests did not run here, and why. (Not in GoogleTest's
/// "[  SKIPPED ]" form: ctest would then report the whole test as skipped, though it ran
/// for every other kernel.)
inline void note_skipped_kernel(const char* algorithm, const char* name) {
    std::printf("[   NOTE   ] %s kernel %s not tested: this CPU lacks its instructions\n",
                algorithm, name);
}

}  // namespace pelmo::test
