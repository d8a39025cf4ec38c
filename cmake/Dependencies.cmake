find_package (JUCE CONFIG REQUIRED)
find_package (PkgConfig REQUIRED)
find_package (Threads REQUIRED)

# The application links the real hidapi; the tests and the demo link the simulated device instead.
pkg_check_modules (HIDAPI REQUIRED IMPORTED_TARGET hidapi-hidraw)
pkg_check_modules (HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)

# Checks reply texts before JUCE's JSON reader sees them.
find_package (simdjson CONFIG REQUIRED)

if (OLVO_BUILD_TESTS)
    find_package (GTest REQUIRED)
    find_package (benchmark QUIET)
endif()

# hidapi's header alone: the engine calls its C functions and the executable decides who provides them.
add_library (olvo_hidapi_headers INTERFACE)
target_include_directories (olvo_hidapi_headers INTERFACE ${HIDAPI_INCLUDE_DIRS})

# The GUI's platform layer asks the X server whether a system tray is there before it docks the icon.
if (OLVO_BUILD_GUI)
    pkg_check_modules (X11 REQUIRED IMPORTED_TARGET x11 xcb)
endif()

# Images named by URL are decoded with libpng, libjpeg and giflib, called directly (the main window; the image fuzzer
# in the fuzzers' tree, which has no GUI).
if (OLVO_BUILD_GUI OR OLVO_BUILD_FUZZERS)
    pkg_check_modules (IMAGE_CODECS REQUIRED IMPORTED_TARGET libpng16 libjpeg libgif)
endif()
