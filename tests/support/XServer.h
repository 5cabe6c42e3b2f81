// A private X server (Xvfb) for the tests and benchmarks that run the real
// program on a display.
#pragma once

#include "support/Process.h"

#include <memory>
#include <string>

namespace cadmo::test {

// Starts a private 1024x768, 24-bit X server in `server` and answers its
// display name, or "" when it did not come up. Xvfb picks a free display
// itself and writes its number to a pipe (-displayfd) once it accepts
// connections, so no number is guessed and no probe connects: without
// -noreset the server would also reset when its last client left, which a
// probe's disconnect made it do just as the player connected. A cold, busy
// machine may take many seconds.
std::string StartXvfb(std::unique_ptr<ChildProcess>& server);

} // namespace cadmo::test
