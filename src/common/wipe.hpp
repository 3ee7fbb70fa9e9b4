// Wiping secrets from memory in a way the compiler cannot drop.
//
// A plain memset before an object dies is a dead store that the optimiser may
// remove. explicit_bzero (glibc) is documented never to be elided; the compiler
// barrier after it also keeps a secret from lingering in a copy the optimiser made.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <string.h>

namespace pelmo::detail {

/// Overwrites n bytes at p with zeros; never optimised away. Always inlined, so that
/// kernels compiled for other instruction sets use it without emitting a shared copy.
inline __attribute__((always_inline)) void secure_wipe(void* p, std::size_t n) noexcept {
    if (n == 0) return;
    ::explicit_bzero(p, n);
    __asm__ __volatile__("" : : "r"(p) : "memory");
}

/// Zeros every byte a string holds, up to its capacity (so what an earlier, longer
/// value left behind goes too), and leaves it empty.
inline void secure_wipe(std::string& s) noexcept {
    s.resize(s.capacity());  // never reallocates
    secure_wipe(s.data(), s.size());
    s.clear();
}
/// The same for a vector of plain values.
template <class T>
inline void secure_wipe(std::vector<T>& v) noexcept {
    v.resize(v.capacity());
    secure_wipe(v.data(), v.size() * sizeof(T));
    v.clear();
}
template <class T, std::size_t N>
inline void secure_wipe(std::array<T, N>& a) noexcept {
    secure_wipe(a.data(), sizeof(T) * N);
}

/// Wipes an object when it goes out of scope, also when an exception passes.
template <class T>
class WipeOnExit {
  public:
    explicit WipeOnExit(T& secret) noexcept : secret_(secret) {}
    ~WipeOnExit() { secure_wipe(secret_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

  private:
    T& secret_;
};

}  // namespace pelmo::detail
