// Memory stays bounded on huge inputs. What is measured is pelmo's own heap use,
// counted by replacing the global operator new of this test binary: the process's
// resident size would also count the input's pages, whose residency depends on the
// host (some kernels count the shared zero page of an untouched anonymous mapping).
#include <pelmo/crypt_managers.hpp>
#include <pelmo/sm3.hpp>

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/mman.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

// Sanitizers replace operator new themselves, and slow huge inputs down.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)

namespace {

std::atomic<long long> g_live{0}, g_peak{0};

void note(long long delta) {
    const long long live = g_live.fetch_add(delta, std::memory_order_relaxed) + delta;
    long long peak = g_peak.load(std::memory_order_relaxed);
    while (live > peak && !g_peak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
}

// Peak bytes of live C++ heap blocks while fn runs, above what was live before it.
template <class Fn>
long long peak_growth(Fn fn) {
    const long long base = g_live.load();
    g_peak.store(base);
    fn();
    return g_peak.load() - base;
}

}  // namespace

// The library's other allocations (aligned new, nothrow new, array new, sized delete)
// reach these two in libstdc++, except aligned ones, which are neither counted nor
// subtracted.
void* operator new(std::size_t n) {
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) throw std::bad_alloc();
    note(static_cast<long long>(malloc_usable_size(p)));
    return p;
}
void operator delete(void* p) noexcept {
    if (p == nullptr) return;
    note(-static_cast<long long>(malloc_usable_size(p)));
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}

namespace {

TEST(BoundedMemory, CounterSeesTheHeap) {
    const long long grew = peak_growth([] { std::string s(1 << 20, 'x'); });
    EXPECT_GE(grew, 1 << 20);
    EXPECT_LT(grew, 2 << 20);
}

TEST(BoundedMemory, GibibyteHashAndHundredMegabyteHexText) {
    // 1 GiB of untouched pages: hashing streams over them, allocating nothing in proportion.
    const std::size_t gib = std::size_t{1} << 30;
    void* p = mmap(nullptr, gib, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(p, MAP_FAILED);
    std::string digest;
    const long long grew = peak_growth([&] {
        digest = pelmo::sm3::sm3_hash(pelmo::ByteView(static_cast<const std::uint8_t*>(p), gib));
    });
    munmap(p, gib);
    EXPECT_LT(grew, 64 * 1024) << "bytes allocated while hashing 1 GiB";
    EXPECT_EQ(digest.size(), 64u);

    // A 100 MB hexadecimal ciphertext decrypts within twice its size.
    pelmo::crypt_managers::SM4Manager m;
    const std::string text(50'000'000 - 1, 'a');
    const std::string hex = m.encrypt(text);
    ASSERT_EQ(hex.size(), 100'000'000u);
    std::size_t plain_size = 0;
    const long long decrypt_grew = peak_growth([&] { plain_size = m.decrypt(hex).size(); });
    EXPECT_EQ(plain_size, text.size());
    EXPECT_LT(decrypt_grew, 2 * 100'000'000LL);
    std::printf("peak heap growth: hashing 1 GiB %lld bytes, decrypting 100 MB of hex %lld bytes\n",
                grew, decrypt_grew);
}

}  // namespace

#endif
