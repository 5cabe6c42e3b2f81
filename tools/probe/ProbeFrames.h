// The --frames mode of cadmo-probe: decodes frames through the codecs.
#pragma once

// argv[0] is the program, argv[1] is "--frames"; the rest are the mode's own
// arguments. Returns the process exit code.
int RunFrames(int argc, char** argv);
