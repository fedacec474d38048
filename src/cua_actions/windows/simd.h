#pragma once
// SSE2 is part of every x86-64 target: the vector paths use it where present
// and plain loops do the same work elsewhere.
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define ZELTO_HAVE_SSE2 1
#endif
