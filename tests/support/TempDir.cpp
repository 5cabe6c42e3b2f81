#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace cadmo::test {

namespace {

std::string DefaultBase() {
    const char* base = std::getenv("TMPDIR");
    return base && *base ? base : "/tmp";
}

} // namespace

TempDir::TempDir() : TempDir(DefaultBase()) {}

TempDir::TempDir(const std::string& base) {
    std::string pattern = base + "/cadmo-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("cannot create a temporary directory");
    m_path = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

} // namespace cadmo::test
