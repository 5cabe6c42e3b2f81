// Registers the drivers linked into the program: the uncompressed driver
// ("DIB ") first, then the libavcodec driver ("LAVC"). Called once at
// start-up by the program (and by tests and tools that decode); a second
// call changes nothing. Any thread.
#pragma once

void RegisterBuiltinCodecs();
