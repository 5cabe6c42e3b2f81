#include "support/XServer.h"

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
    // The number comes as one line once the server is ready; an end of the
    // pipe (the server gave up) or a minute's silence ends the wait.
    std::string number;
    char c = 0;
    pollfd ready{fds[0], POLLIN, 0};
    while (poll(&ready, 1, 60000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (c != '\n' || number.empty()) {
        server.reset();
        return {};
    }
    return ":" + number;
}

} // namespace cadmo::test
