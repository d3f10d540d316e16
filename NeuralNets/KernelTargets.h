#ifndef KESTRANE_NEURALNETS_KERNELTARGETS_H
#define KESTRANE_NEURALNETS_KERNELTARGETS_H

// The training kernels are built twice, for the base instruction set and for
// AVX2 (twice the lanes), and the better one is picked when the program
// loads. Each lane still does one IEEE operation at a time, in the same
// order, so both give the same bits; AVX2 brings no fused multiply-add. The
// helpers they call are forced inline so that they are built for the same
// instruction set.
#if defined(__GNUC__) && defined(__x86_64__)
#define KESTRANE_WIDE_KERNEL __attribute__((target_clones("avx2", "default")))
#define KESTRANE_KERNEL_INLINE __attribute__((always_inline)) inline
#else
#define KESTRANE_WIDE_KERNEL
#define KESTRANE_KERNEL_INLINE inline
#endif

#endif
