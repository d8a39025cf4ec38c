# Build switches. The sanitizer builds configure a separate build tree with one of them set.
option (OLVO_BUILD_TESTS "Build the test suite" ON)
option (OLVO_BUILD_FUZZERS "Build the libFuzzer targets (clang only)" OFF)
option (OLVO_BUILD_GUI "Build the application and its windows (off: the engine, the simulators and their tests only)" ON)
set (OLVO_SANITIZER "" CACHE STRING "Sanitizer for the whole build: '', 'thread' or 'address'")
set_property (CACHE OLVO_SANITIZER PROPERTY STRINGS "" thread address)

# The device web API the engine talks to unless told otherwise; tests and the demo point it at the loopback server.
# The application also reads the environment variable OLVO_API_URL at start (see the README).
set (OLVO_DEFAULT_API_URL "https://device-api.olvo.example/device/" CACHE STRING "Default device web API endpoint")
