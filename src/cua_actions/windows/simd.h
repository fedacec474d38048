#pragma once
// SSE2 is part of every x86-64 target: the vector paths use it where present
// and plain loops do the same work elsewhere.
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define ZELTO_HAVE_SSE2 1
#endif

// AVX2 is compiled in beside it for the functions marked ZELTO_TARGET_AVX2 and
// used only where the processor reports it (GCC and Clang, MinGW included).
#if defined(ZELTO_HAVE_SSE2) && (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#include <immintrin.h>
#define ZELTO_HAVE_AVX2 1
#define ZELTO_TARGET_AVX2 __attribute__((target("avx2")))

namespace cua_actions::windows {
inline bool cpu_has_avx2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}
}  // namespace cua_actions::windows
#endif
