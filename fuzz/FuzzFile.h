// Hands a fuzz input to code that reads files: an anonymous in-memory file
// reachable by path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

class FuzzFile {
public:
    FuzzFile(const std::uint8_t* data, std::size_t size) : fd_(memfd_create("cadmo-fuzz", 0)) {
        std::size_t done = 0;
        while (fd_ >= 0 && done < size) {
            const ssize_t n = write(fd_, data + done, size - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~FuzzFile() {
        if (fd_ >= 0)
            close(fd_);
    }
    FuzzFile(const FuzzFile&) = delete;
    FuzzFile& operator=(const FuzzFile&) = delete;
    const char* Path() const { return path_.c_str(); }

private:
    int fd_;
    std::string path_;
};
