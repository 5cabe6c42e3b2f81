// Leaks of system libraries that the toolkit loads, reported by the leak
// checker of the sanitizer build: fontconfig keeps its configuration for the
// life of the process. Nothing of ours is listed here.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
