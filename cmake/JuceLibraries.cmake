# JUCE's modules are compiled once per set into a static library that every executable links, instead of once per
# target. The consumers get the modules' include directories and the same compile definitions, so that every
# translation unit sees one JUCE configuration.
function (olvo_add_juce_library name)
    cmake_parse_arguments (ARG "" "" "MODULES;DEFINITIONS;LINK" ${ARGN})
    add_library (${name} STATIC)
    target_link_libraries (${name} PRIVATE ${ARG_MODULES} juce::juce_recommended_config_flags)
    target_compile_definitions (${name} PUBLIC ${ARG_DEFINITIONS})
    foreach (module IN LISTS ARG_MODULES)
        target_include_directories (${name} SYSTEM INTERFACE
            $<TARGET_PROPERTY:${module},INTERFACE_INCLUDE_DIRECTORIES>)
        target_compile_definitions (${name} INTERFACE
            $<TARGET_PROPERTY:${module},INTERFACE_COMPILE_DEFINITIONS>)
    endforeach()
    target_link_libraries (${name} PUBLIC ${ARG_LINK} Threads::Threads ${CMAKE_DL_LIBS})
endfunction()

set (OLVO_JUCE_COMMON_DEFINITIONS
    JUCE_STANDALONE_APPLICATION=1
    JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
    JUCE_USE_CURL=1
    JUCE_LOAD_CURL_SYMBOLS_LAZILY=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0)

# Engine, simulated web API and command-line tools: no GUI modules.
olvo_add_juce_library (olvo_juce_core
    MODULES juce::juce_core juce::juce_events
    DEFINITIONS ${OLVO_JUCE_COMMON_DEFINITIONS} JUCE_WEB_BROWSER=0
    LINK juce::pkgconfig_JUCE_CURL_LINUX_DEPS)
