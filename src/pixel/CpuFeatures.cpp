#include "pixel/CpuFeatures.h"

#include <cstdlib>
#include <cstring>

namespace {

CpuFeatures Detect() {
    CpuFeatures f;
#if defined(__x86_64__) || defined(__i386__)
    f.ssse3 = __builtin_cpu_supports("ssse3");
    f.avx2 = __builtin_cpu_supports("avx2");
    f.bmi2 = __builtin_cpu_supports("bmi2");
#endif
    if (const char* limit = std::getenv("CADMO_CPU")) {
        if (!std::strcmp(limit, "sse2") || !std::strcmp(limit, "ssse3")) {
            f.avx2 = false;
            f.bmi2 = false;
        }
        if (!std::strcmp(limit, "sse2"))
            f.ssse3 = false;
    }
    return f;
}

} // namespace

const CpuFeatures& Cpu() {
    static const CpuFeatures features = Detect();
    return features;
}
