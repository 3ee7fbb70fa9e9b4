// Test sizes that shrink when the tests run under an emulator (cross builds under QEMU).
#pragma once

namespace pelmo::test {

#if defined(PELMO_TESTS_EMULATED)
inline constexpr bool kEmulated = true;
#else
inline constexpr bool kEmulated = false;
#endif

/// `native` iterations on the build machine, `emulated` under an emulator: randomized
/// loops keep their coverage natively and stay within the emulated suites' time budget.
constexpr int iterations(int native, int emulated) {
    return kEmulated ? emulated : native;
}

}  // namespace pelmo::test
