// Field multiplication and squaring modulo p for x86-64 CPUs with BMI2 and ADX
// (mulx, adcx, adox), as inline assembly.
//
// The product is computed in full with two interleaved carry chains, then reduced
// by four Montgomery rounds that need no multiplication (p = -1 mod 2^64, and m*p
// is shifts and subtractions; see field.hpp). Results are fully reduced, like the
// portable code, and the tests compare the two. Only call these after checking
// cpu_has(kCpuBmi2 | kCpuAdx).
#pragma once

#include "sm2/curve/field.hpp"

#if defined(PELMO_SM2_HAVE_ADX)

namespace pelmo::detail::sm2::curve::fe_adx {

// clang-format off
// One reduction round on the low limbs r0..r3 (m = r0): afterwards the value is
// (r1, r2, r3, r0) as limbs 0..3, so four rounds bring the names back in order.
// (r0..r3 + m p) / 2^64 is (r1, r2, r3, m) - (q0, q1, x, y) with x:y = m 2^32 and
// q = m (2^32 - 1) = x:y - m, one chain of borrows: the carry-consuming instructions
// (adc, sbb) are what this core runs fewest of per cycle, and this form needs four
// per round where adding m and subtracting x:y:x:y needed six. The shift count 32
// sits in rdx, and the pointer registers hold q, all free once the products are done.
#define PELMO_SM2_RED_ROUND(r0, r1, r2, r3)  \
    "shlxq %%rdx, %" r0 ", %[x]\n\t"         \
    "shrxq %%rdx, %" r0 ", %[y]\n\t"         \
    "movq %[x], %[pa]\n\t"                   \
    "subq %" r0 ", %[pa]\n\t"                \
    "movq %[y], %[pb]\n\t"                   \
    "sbbq $0, %[pb]\n\t"                     \
    "subq %[pa], %" r1 "\n\t"                \
    "sbbq %[pb], %" r2 "\n\t"                \
    "sbbq %[x], %" r3 "\n\t"                 \
    "sbbq %[y], %" r0 "\n\t"

// Four rounds on t0..t3, then r = t0..t3 + t4..t7 (a carry in x) and one conditional
// subtraction of p, done as an addition of 2^256 - p = (1, 2^32 - 1, 0, 2^32): r >= p
// exactly when that addition carries out of x:r, and then its low 256 bits are r - p.
// The constants are immediates, so no register goes to addressing p. The result ends
// in t4..t7.
#define PELMO_SM2_REDUCE                                \
    "movl $32, %%edx\n\t"                               \
    PELMO_SM2_RED_ROUND("[t0]", "[t1]", "[t2]", "[t3]") \
    PELMO_SM2_RED_ROUND("[t1]", "[t2]", "[t3]", "[t0]") \
    PELMO_SM2_RED_ROUND("[t2]", "[t3]", "[t0]", "[t1]") \
    PELMO_SM2_RED_ROUND("[t3]", "[t0]", "[t1]", "[t2]") \
    "xorl %k[x], %k[x]\n\t"                             \
    "addq %[t4], %[t0]\n\t"                             \
    "adcq %[t5], %[t1]\n\t"                             \
    "adcq %[t6], %[t2]\n\t"                             \
    "adcq %[t7], %[t3]\n\t"                             \
    "adcq $0, %[x]\n\t"                                 \
    "movl $0xffffffff, %k[y]\n\t"                       \
    "movq %[t0], %[t4]\n\t"                             \
    "addq $1, %[t4]\n\t"                                \
    "movq %[t1], %[t5]\n\t"                             \
    "adcq %[y], %[t5]\n\t"                              \
    "movq %[t2], %[t6]\n\t"                             \
    "adcq $0, %[t6]\n\t"                                \
    "movabsq $0x100000000, %[y]\n\t"                    \
    "movq %[t3], %[t7]\n\t"                             \
    "adcq %[y], %[t7]\n\t"                              \
    "adcq $0, %[x]\n\t"                                 \
    "cmovzq %[t0], %[t4]\n\t"                           \
    "cmovzq %[t1], %[t5]\n\t"                           \
    "cmovzq %[t2], %[t6]\n\t"                           \
    "cmovzq %[t3], %[t7]\n\t"
// clang-format on

// The assembly reads the four limbs behind each pointer. GCC is told so exactly, with
// a memory operand per input that shares the pointer's register; clang would give
// those operands registers of their own, one too many in sanitizer builds, so there
// the assembly declares that it may read any memory instead.
#if defined(__clang__)
#define PELMO_SM2_READS(elem)
#define PELMO_SM2_MEMORY_CLOBBER , "memory"
#else
#define PELMO_SM2_READS(elem) , "m"(*reinterpret_cast<const u64(*)[4]>(elem.v))
#define PELMO_SM2_MEMORY_CLOBBER
#endif

PELMO_INLINE Fe mul(const Fe& a, const Fe& b) noexcept {
    u64 t0, t1, t2, t3, t4, t5, t6, t7, x, y;
    // The pointers' registers serve as temporaries once the products are done.
    const u64* pa = a.v;
    const u64* pb = b.v;
    __asm__(
        // Row 0: t0..t4 = a * b0.
        "movq 0(%[pb]), %%rdx\n\t"
        "mulxq 0(%[pa]), %[t0], %[t1]\n\t"
        "mulxq 8(%[pa]), %[x], %[t2]\n\t"
        "addq %[x], %[t1]\n\t"
        "mulxq 16(%[pa]), %[x], %[t3]\n\t"
        "adcq %[x], %[t2]\n\t"
        "mulxq 24(%[pa]), %[x], %[t4]\n\t"
        "adcq %[x], %[t3]\n\t"
        "adcq $0, %[t4]\n\t"
        // Row 1: t1..t5 += a * b1 (low halves on OF, high halves on CF).
        "movq 8(%[pb]), %%rdx\n\t"
        "xorl %k[t5], %k[t5]\n\t"
        "mulxq 0(%[pa]), %[x], %[y]\n\t"
        "adoxq %[x], %[t1]\n\t"
        "adcxq %[y], %[t2]\n\t"
        "mulxq 8(%[pa]), %[x], %[y]\n\t"
        "adoxq %[x], %[t2]\n\t"
        "adcxq %[y], %[t3]\n\t"
        "mulxq 16(%[pa]), %[x], %[y]\n\t"
        "adoxq %[x], %[t3]\n\t"
        "adcxq %[y], %[t4]\n\t"
        "mulxq 24(%[pa]), %[x], %[y]\n\t"
        "adoxq %[x], %[t4]\n\t"
        "movl $0, %k[x]\n\t"
        "adcxq %[y], %[t5]\n\t"
        "adoxq %[x], %[t5]\n\t"
        // Row 2: t2..t6.
        "movq 16(%[pb]), %%rdx\n\t"
        "xorl %k[t6], %k[t6]\n\t"
        "mulxq 0(%[pa]), %[x], %[y]\n\t"
        "adoxq %[x], %[t2]\n\t"
        "adcxq %[y], %[t3]\n\t"
        "mulxq 8(%[pa]), %[x], %[y]\n\t"
        "adoxq %[x], %[t3]\n\t"
        "adcxq %[y], %[t4]\n\t"
        "mulxq 16(%[pa]), %[x], %[y]\n\t"
        "adoxq %[x], %[t4]\n\t"
        "adcxq %[y], %[t5]\n\t"
        "mulxq 24(%[pa]), %[x], %[y]\n\t"
        "adoxq %[x], %[t5]\n\t"
        "movl $0, %k[x]\n\t"
        "adcxq %[y], %[t6]\n\t"
        "adoxq %[x], %[t6]\n\t"
        // Row 3: t3..t7.
        "movq 24(%[pb]), %%rdx\n\t"
        "xorl %k[t7], %k[t7]\n\t"
        "mulxq 0(%[pa]), %[x], %[y]\n\t"
        "adoxq %[x], %[t3]\n\t"
        "adcxq %[y], %[t4]\n\t"
        "mulxq 8(%[pa]), %[x], %[y]\n\t"
        "adoxq %[x], %[t4]\n\t"
        "adcxq %[y], %[t5]\n\t"
        "mulxq 16(%[pa]), %[x], %[y]\n\t"
        "adoxq %[x], %[t5]\n\t"
        "adcxq %[y], %[t6]\n\t"
        "mulxq 24(%[pa]), %[x], %[y]\n\t"
        "adoxq %[x], %[t6]\n\t"
        "movl $0, %k[x]\n\t"
        "adcxq %[y], %[t7]\n\t"
        "adoxq %[x], %[t7]\n\t" PELMO_SM2_REDUCE
        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4),
          [t5] "=&r"(t5), [t6] "=&r"(t6), [t7] "=&r"(t7), [x] "=&r"(x), [y] "=&r"(y), [pa] "+r"(pa),
          [pb] "+r"(pb)
        : "X"(0)PELMO_SM2_READS(a) PELMO_SM2_READS(b)
        : "rdx", "cc" PELMO_SM2_MEMORY_CLOBBER);
    return Fe{{t4, t5, t6, t7}};
}

PELMO_INLINE Fe sqr(const Fe& a) noexcept {
    u64 t0, t1, t2, t3, t4, t5, t6, t7, x, y, pb;
    const u64* pa = a.v;
    __asm__(
        // Cross products a_i * a_j (i < j) into t1..t6.
        "movq 0(%[pa]), %%rdx\n\t"
        "mulxq 8(%[pa]), %[t1], %[t2]\n\t"
        "mulxq 16(%[pa]), %[x], %[t3]\n\t"
        "mulxq 24(%[pa]), %[y], %[t4]\n\t"
        "xorl %k[t7], %k[t7]\n\t"
        "adcxq %[x], %[t2]\n\t"
        "adcxq %[y], %[t3]\n\t"
        "movq 8(%[pa]), %%rdx\n\t"
        "mulxq 16(%[pa]), %[x], %[y]\n\t"
        "mulxq 24(%[pa]), %[t0], %[t5]\n\t"
        "adoxq %[x], %[t3]\n\t"
        "adcxq %[y], %[t4]\n\t"
        "adoxq %[t0], %[t4]\n\t"
        "movq 16(%[pa]), %%rdx\n\t"
        "mulxq 24(%[pa]), %[x], %[t6]\n\t"
        "adcxq %[x], %[t5]\n\t"
        "adoxq %[t7], %[t5]\n\t"
        "adcxq %[t7], %[t6]\n\t"
        "adoxq %[t7], %[t6]\n\t"
        // Double them (CF) and add the squares a_i^2 (OF).
        "movq 0(%[pa]), %%rdx\n\t"
        "xorl %k[y], %k[y]\n\t"
        "mulxq %%rdx, %[t0], %[x]\n\t"
        "adcxq %[t1], %[t1]\n\t"
        "adoxq %[x], %[t1]\n\t"
        "movq 8(%[pa]), %%rdx\n\t"
        "mulxq %%rdx, %[x], %[y]\n\t"
        "adcxq %[t2], %[t2]\n\t"
        "adoxq %[x], %[t2]\n\t"
        "adcxq %[t3], %[t3]\n\t"
        "adoxq %[y], %[t3]\n\t"
        "movq 16(%[pa]), %%rdx\n\t"
        "mulxq %%rdx, %[x], %[y]\n\t"
        "adcxq %[t4], %[t4]\n\t"
        "adoxq %[x], %[t4]\n\t"
        "adcxq %[t5], %[t5]\n\t"
        "adoxq %[y], %[t5]\n\t"
        "movq 24(%[pa]), %%rdx\n\t"
        "mulxq %%rdx, %[x], %[t7]\n\t"
        "adcxq %[t6], %[t6]\n\t"
        "adoxq %[x], %[t6]\n\t"
        "movl $0, %k[x]\n\t"
        "adcxq %[x], %[t7]\n\t"
        "adoxq %[x], %[t7]\n\t" PELMO_SM2_REDUCE
        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4),
          [t5] "=&r"(t5), [t6] "=&r"(t6), [t7] "=&r"(t7), [x] "=&r"(x), [y] "=&r"(y), [pa] "+r"(pa),
          [pb] "=&r"(pb)
        : "X"(0)PELMO_SM2_READS(a)
        : "rdx", "cc" PELMO_SM2_MEMORY_CLOBBER);
    return Fe{{t4, t5, t6, t7}};
}

// clang-format off
// c:r0..r3 = r0..r3 + b0..b3, the shared first step of add and triple_sum.
#define PELMO_SM2_SUM_INTO_C     \
    "xorl %k[c], %k[c]\n\t"     \
    "addq %[b0], %[r0]\n\t"     \
    "adcq %[b1], %[r1]\n\t"     \
    "adcq %[b2], %[r2]\n\t"     \
    "adcq %[b3], %[r3]\n\t"     \
    "adcq $0, %[c]\n\t"
// clang-format on

// a + b mod p with cmov for the final choice: the sum s = a + b (257 bits) is at
// least p exactly when s + 2^256 - p carries out of bit 256, and then its low bits
// are s - p. The limbs 2^32 - 1 and 2^32 of 2^256 - p are loaded into the temporaries
// (mov leaves the carry alone), which keeps the register count low enough for
// sanitizer builds.
PELMO_INLINE Fe add(const Fe& a, const Fe& b) noexcept {
    u64 r0 = a.v[0], r1 = a.v[1], r2 = a.v[2], r3 = a.v[3];
    u64 t0, t1, t2, t3, c;
    __asm__(PELMO_SM2_SUM_INTO_C
            "movq %[r0], %[t0]\n\t"
            "addq $1, %[t0]\n\t"
            "movl $0xffffffff, %k[t1]\n\t"
            "adcq %[r1], %[t1]\n\t"
            "movq %[r2], %[t2]\n\t"
            "adcq $0, %[t2]\n\t"
            "movabsq $0x100000000, %[t3]\n\t"
            "adcq %[r3], %[t3]\n\t"
            "adcq $0, %[c]\n\t"
            "cmovnzq %[t0], %[r0]\n\t"
            "cmovnzq %[t1], %[r1]\n\t"
            "cmovnzq %[t2], %[r2]\n\t"
            "cmovnzq %[t3], %[r3]\n\t"
            : [r0] "+r"(r0), [r1] "+r"(r1), [r2] "+r"(r2), [r3] "+r"(r3), [t0] "=&r"(t0),
              [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [c] "=&r"(c)
            : [b0] "rm"(b.v[0]), [b1] "rm"(b.v[1]), [b2] "rm"(b.v[2]), [b3] "rm"(b.v[3])
            : "cc");
    return Fe{{r0, r1, r2, r3}};
}

// a - b mod p: on a borrow, add p, whose limbs under the all-ones mask m are m,
// m << 32, m and m with bit 32 cleared.
PELMO_INLINE Fe sub(const Fe& a, const Fe& b) noexcept {
    u64 r0 = a.v[0], r1 = a.v[1], r2 = a.v[2], r3 = a.v[3];
    u64 m, m1, m3;
    __asm__(
        "subq %[b0], %[r0]\n\t"
        "sbbq %[b1], %[r1]\n\t"
        "sbbq %[b2], %[r2]\n\t"
        "sbbq %[b3], %[r3]\n\t"
        "sbbq %[m], %[m]\n\t"
        "movq %[m], %[m1]\n\t"
        "shlq $32, %[m1]\n\t"
        "movq %[m], %[m3]\n\t"
        "btrq $32, %[m3]\n\t"
        "addq %[m], %[r0]\n\t"
        "adcq %[m1], %[r1]\n\t"
        "adcq %[m], %[r2]\n\t"
        "adcq %[m3], %[r3]\n\t"
        : [r0] "+r"(r0), [r1] "+r"(r1), [r2] "+r"(r2), [r3] "+r"(r3), [m] "=&r"(m), [m1] "=&r"(m1),
          [m3] "=&r"(m3)
        : [b0] "rm"(b.v[0]), [b1] "rm"(b.v[1]), [b2] "rm"(b.v[2]), [b3] "rm"(b.v[3])
        : "cc");
    return Fe{{r0, r1, r2, r3}};
}

// 3(a + b), below 2^256 but not always below p: only for use as an operand of mul,
// whose other operand is reduced (the product is then below p 2^256, and mul's
// result is reduced). The sum c:r = a + b is multiplied by 3 with mulx, which gives
// 259 bits x:r; x 2^256 is folded in as x (2^256 - p), and a carry out of that as
// 2^256 - p once more, which leaves a few times 2^225 at most.
PELMO_INLINE Fe triple_sum(const Fe& a, const Fe& b) noexcept {
    u64 r0 = a.v[0], r1 = a.v[1], r2 = a.v[2], r3 = a.v[3];
    u64 c, h0, h1, h2, h3;
    __asm__(PELMO_SM2_SUM_INTO_C
            "movl $3, %%edx\n\t"
            "mulxq %[r0], %[r0], %[h0]\n\t"
            "mulxq %[r1], %[r1], %[h1]\n\t"
            "mulxq %[r2], %[r2], %[h2]\n\t"
            "mulxq %[r3], %[r3], %[h3]\n\t"
            "leaq (%[c], %[c], 2), %[c]\n\t"
            "addq %[h0], %[r1]\n\t"
            "adcq %[h1], %[r2]\n\t"
            "adcq %[h2], %[r3]\n\t"
            "adcq %[h3], %[c]\n\t"
            // Fold x = c: add (x, x (2^32 - 1), 0, x 2^32).
            "movq %[c], %[h0]\n\t"
            "shlq $32, %[h0]\n\t"
            "movq %[h0], %[h1]\n\t"
            "subq %[c], %[h1]\n\t"
            "addq %[c], %[r0]\n\t"
            "adcq %[h1], %[r1]\n\t"
            "adcq $0, %[r2]\n\t"
            "adcq %[h0], %[r3]\n\t"
            // And the carry of that: (1, 2^32 - 1, 0, 2^32) under the mask.
            "sbbq %[c], %[c]\n\t"
            "movl %k[c], %k[h1]\n\t"
            "negq %[c]\n\t"
            "movq %[c], %[h0]\n\t"
            "shlq $32, %[h0]\n\t"
            "addq %[c], %[r0]\n\t"
            "adcq %[h1], %[r1]\n\t"
            "adcq $0, %[r2]\n\t"
            "adcq %[h0], %[r3]\n\t"
            : [r0] "+r"(r0), [r1] "+r"(r1), [r2] "+r"(r2), [r3] "+r"(r3), [c] "=&r"(c),
              [h0] "=&r"(h0), [h1] "=&r"(h1), [h2] "=&r"(h2), [h3] "=&r"(h3)
            : [b0] "rm"(b.v[0]), [b1] "rm"(b.v[1]), [b2] "rm"(b.v[2]), [b3] "rm"(b.v[3])
            : "rdx", "cc");
    return Fe{{r0, r1, r2, r3}};
}

#undef PELMO_SM2_SUM_INTO_C
#undef PELMO_SM2_READS
#undef PELMO_SM2_MEMORY_CLOBBER
#undef PELMO_SM2_REDUCE
#undef PELMO_SM2_RED_ROUND

}  // namespace pelmo::detail::sm2::curve::fe_adx

namespace pelmo::detail::sm2::curve {

/// The BMI2/ADX multiplication kernel.
struct FieldAdx {
    static PELMO_INLINE Fe mul(const Fe& a, const Fe& b) noexcept { return fe_adx::mul(a, b); }
    static PELMO_INLINE Fe sqr(const Fe& a) noexcept { return fe_adx::sqr(a); }
    static PELMO_INLINE Fe add(const Fe& a, const Fe& b) noexcept { return fe_adx::add(a, b); }
    static PELMO_INLINE Fe sub(const Fe& a, const Fe& b) noexcept { return fe_adx::sub(a, b); }
    static PELMO_INLINE Fe dbl(const Fe& a) noexcept { return fe_adx::add(a, a); }
    static PELMO_INLINE Fe triple_sum(const Fe& a, const Fe& b) noexcept {
        return fe_adx::triple_sum(a, b);
    }
};

}  // namespace pelmo::detail::sm2::curve

#endif  // PELMO_SM2_HAVE_ADX
