#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace cadmo::test {

namespace {

// $TMPDIR when set and not empty, else /tmp; nothing else is consulted.
std::string DefaultBase() {
    const char* base = std::getenv("TMPDIR");
    return base && *base ? base : "/tmp";
}

} // namespace

TempDir::TempDir() : TempDir(DefaultBase()) {}

TempDir::TempDir(const std::string& base) {
    m_path = base + "/cadmo-test-XXXXXX";
    if (!mkdtemp(m_path.data()))
        throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

} // namespace cadmo::test
