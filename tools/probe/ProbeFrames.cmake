# Included by this folder's CMakeLists.txt: the --frames mode of cadmo-probe.
pkg_check_modules(CADMO_PROBE_AVUTIL REQUIRED IMPORTED_TARGET libavutil)
target_sources(cadmo-probe PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ProbeFrames.cpp)
target_link_libraries(cadmo-probe PRIVATE cadmo_codecs PkgConfig::CADMO_PROBE_AVUTIL)
