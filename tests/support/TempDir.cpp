#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace cadmo::test {

// The system's temporary folder: $TMPDIR when set, else /tmp.
TempDir::TempDir() : TempDir(std::filesystem::temp_directory_path().string()) {}

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
