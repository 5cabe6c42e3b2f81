// The vector instruction sets the fast paths may use: what the processor
// has, limited by the environment variable CADMO_CPU when it is set ("sse2":
// nothing beyond SSE2; "ssse3": nothing beyond SSSE3), read once. Every path
// must give the same pixels as the plain code, and the limit lets the tests
// hold the older paths to that on a newer machine. On other processors all
// are false.
#pragma once

struct CpuFeatures {
    bool ssse3 = false;
    bool avx2 = false;
    bool bmi2 = false;
};

const CpuFeatures& Cpu();
