#include "codecs/qx47/CpuFeatures.h"

#include <cstdlib>
#include <cstring>

namespace qx47 {

namespace {

CpuFeatures Detect() {
    CpuFeatures f;
    f.ssse3 = __builtin_cpu_supports("ssse3");
    f.avx2 = __builtin_cpu_supports("avx2");
    f.bmi2 = __builtin_cpu_supports("bmi2");
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

} // namespace qx47
