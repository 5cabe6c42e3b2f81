// A private temporary directory that is removed with everything in it when
// the object goes away.
#pragma once

#include <string>

namespace cadmo::test {

class TempDir {
public:
    TempDir();
    // Inside `base` instead of $TMPDIR or /tmp (e.g. /dev/shm for tests that
    // rewrite a file thousands of times).
    explicit TempDir(const std::string& base);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Path of a file inside the directory.
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

} // namespace cadmo::test
