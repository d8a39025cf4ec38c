# Warnings for our own targets only; JUCE's sources are compiled with its defaults.
add_library (olvo_warnings INTERFACE)
target_compile_options (olvo_warnings INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wconversion-null
                                                -Wno-unused-parameter)
