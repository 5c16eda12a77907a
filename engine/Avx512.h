// The AVX-512 intrinsics, for the files compiled for them. GCC 12's build on
// deliberately undefined placeholder vectors, which its own
// uninitialised-use warning then reports: the warning is off from here on in
// those files.
#pragma once

#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
