// The --frames mode of cadmo-probe: decodes frames through the codecs. It
// lives in ProbeFrames.cpp, built in when that file and ProbeFrames.cmake are
// present; without them cadmo-probe answers --frames with an error.
#pragma once

// argv[0] is the program, argv[1] is "--frames"; the rest are the mode's own
// arguments. Returns the process exit code.
int RunFrames(int argc, char** argv);
