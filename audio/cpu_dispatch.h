// SPDX-License-Identifier: GPL-3.0-or-later
// The hot loops of mixing and of preparing sounds are built twice on x86-64: for the baseline and
// for AVX2 + FMA machines, picked when the program loads. Sanitizer builds keep one version.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) &&                             \
    !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define OTOMARU_SIMD_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
// A few loops also have a hand-made AVX-512 version, picked at run time.
#define OTOMARU_HAVE_WIDE_CLONE 1
#else
#define OTOMARU_SIMD_CLONES
#define OTOMARU_HAVE_WIDE_CLONE 0
#endif
