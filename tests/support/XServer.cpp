#include "support/XServer.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace cadmo::test {

std::string StartXvfb(std::unique_ptr<ChildProcess>& server) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return {};
    fcntl(fds[1], F_SETFD, 0); // only the write end goes to the server
    server = std::make_unique<ChildProcess>(
        std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-noreset", "-screen", "0",
                                 "1024x768x24", "-nolisten", "tcp"});
    close(fds[1]);
    std::string number;
    bool complete = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!complete && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fds[0], POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0)
            continue;
        char c = 0;
        if (read(fds[0], &c, 1) != 1)
            break; // the server ended without a display
        if (c == '\n')
            complete = !number.empty();
        else
            number += c;
    }
    close(fds[0]);
    if (!complete) {
        server.reset();
        return {};
    }
    return ":" + number;
}

} // namespace cadmo::test
