# JUCE's modules are compiled once per set into a static library, instead of once per target. There are two sets:
#
#   olvo_juce_core  juce_core, juce_events: the command-line tools, the local web API and the engine's tests;
#   olvo_juce_gui   the same two and the GUI modules (data structures, graphics, widgets, tray icon, web view):
#                   the application, the artwork generator and the GUI tests.
#
# juce_events, juce_gui_basics and juce_gui_extra are compiled from copies in the build tree, mended by patches
# (olvo_add_patched_juce_module).
#
# The fuzzers' tree, configured without the GUI, adds a third: olvo_juce_graphics (the core set and juce_graphics)
# for the image decoding's fuzzer, which needs juce::Image and nothing of the widgets.
#
# A program links one of them at most: juce_core compiled twice into one program would break the one-definition
# rule. So our own libraries (engine, look, platform, ...) never link either: they get JUCE's headers and definitions
# through olvo_juce_core_headers or olvo_juce_gui_headers, and each executable picks its JUCE library.
# olvo_check_juce_links (called at the end of the top-level CMakeLists) enforces that.
#
# The definitions of juce_core and juce_events come from one place (olvo_juce_core_headers) for both sets, so the
# engine, compiled against the core headers, sees the same JUCE core as the GUI library it may be linked with. The
# GUI set only adds what the core modules' headers never read (the GUI modules' availability, the web browser).

set (OLVO_JUCE_CORE_DEFINITIONS
    JUCE_STANDALONE_APPLICATION=1
    JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
    JUCE_USE_CURL=1
    JUCE_LOAD_CURL_SYMBOLS_LAZILY=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0)

set (OLVO_JUCE_GUI_DEFINITIONS
    JUCE_WEB_BROWSER=1)

# An interface target with the include directories and definitions of some JUCE modules (nothing compiled).
function (olvo_add_juce_headers name)
    cmake_parse_arguments (ARG "" "" "MODULES;DEFINITIONS;LINK" ${ARGN})
    add_library (${name} INTERFACE)
    target_compile_definitions (${name} INTERFACE ${ARG_DEFINITIONS})
    foreach (module IN LISTS ARG_MODULES)
        target_include_directories (${name} SYSTEM INTERFACE
            $<TARGET_PROPERTY:${module},INTERFACE_INCLUDE_DIRECTORIES>)
        target_compile_definitions (${name} INTERFACE
            $<TARGET_PROPERTY:${module},INTERFACE_COMPILE_DEFINITIONS>)
    endforeach()
    target_link_libraries (${name} INTERFACE ${ARG_LINK})
endfunction()

# The static library that compiles the modules; its consumers get the headers target and the system libraries.
# juce_core comes through JUCE's own target; the other installed modules (COMPILED) are compiled from their sources
# with their system libraries, not through JUCE's targets, which would also bring the modules they depend on, and so
# juce_events unpatched beside the patched one.
function (olvo_add_juce_library name)
    cmake_parse_arguments (ARG "" "" "COMPILED;HEADERS;LINK" ${ARGN})
    add_library (${name} STATIC)
    target_link_libraries (${name} PRIVATE juce::juce_core juce::juce_recommended_config_flags)
    foreach (module IN LISTS ARG_COMPILED)
        target_sources (${name} PRIVATE ${JUCE_MODULES_DIR}/${module}/${module}.cpp)
        if (TARGET juce::pkgconfig_${module}_LINUX_DEPS)
            target_link_libraries (${name} PUBLIC juce::pkgconfig_${module}_LINUX_DEPS)
        endif()
    endforeach()
    target_link_libraries (${name} PUBLIC ${ARG_HEADERS} ${ARG_LINK} Threads::Threads ${CMAKE_DL_LIBS})
    set_property (GLOBAL APPEND PROPERTY OLVO_JUCE_LIBRARIES ${name})
endfunction()

# A JUCE module compiled into libraries (the targets after the patch) from a copy in the build tree, mended by a
# patch. The copy is made at configure time, without the files the patch changes (its "+++ b/<file>" lines); the build
# writes those, patched (cmake/ApplyPatch.cmake), once for every library, and stops when the patch no longer applies.
# Every other target reads the installed headers, unchanged: a patch changes what the module's own sources compile,
# never a declaration.
function (olvo_add_patched_juce_module module patch)
    set (original ${JUCE_MODULES_DIR}/${module})
    set (copy ${CMAKE_BINARY_DIR}/juce-patched/${module})
    get_filename_component (patchName ${patch} NAME)

    file (STRINGS ${patch} patchedFiles REGEX "^\\+\\+\\+ b/")
    list (TRANSFORM patchedFiles REPLACE "^\\+\\+\\+ b/([^\t]*).*$" "\\1")
    set_property (DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${patch})

    set (excluded)
    set (outputs)
    set (originals)
    foreach (file IN LISTS patchedFiles)
        get_filename_component (name ${file} NAME)
        list (APPEND excluded PATTERN ${name} EXCLUDE)
        list (APPEND outputs ${copy}/${file})
        list (APPEND originals ${original}/${file})
    endforeach()

    file (COPY ${original} DESTINATION ${CMAKE_BINARY_DIR}/juce-patched ${excluded})
    add_custom_command (
        OUTPUT ${outputs}
        COMMAND ${CMAKE_COMMAND} -DMODULE=${original} -DPATCH=${patch} -DOUTPUT=${copy}
                                 -P ${PROJECT_SOURCE_DIR}/cmake/ApplyPatch.cmake
        DEPENDS ${originals} ${patch} ${PROJECT_SOURCE_DIR}/cmake/ApplyPatch.cmake
        COMMENT "Patching JUCE's ${module} (cmake/patches/${patchName})"
        VERBATIM)
    add_custom_target (olvo_patched_${module} DEPENDS ${outputs})
    foreach (target IN LISTS ARGN)
        add_dependencies (${target} olvo_patched_${module})
        target_sources (${target} PRIVATE ${copy}/${module}.cpp)
    endforeach()
    set_source_files_properties (${copy}/${module}.cpp PROPERTIES OBJECT_DEPENDS "${outputs}")
endfunction()

# Every set has juce_core and juce_events (patched, below); juce_gui_basics and juce_gui_extra are patched too.
olvo_add_juce_headers (olvo_juce_core_headers
    MODULES juce::juce_core juce::juce_events
    DEFINITIONS ${OLVO_JUCE_CORE_DEFINITIONS})

olvo_add_juce_library (olvo_juce_core
    HEADERS olvo_juce_core_headers
    LINK juce::pkgconfig_JUCE_CURL_LINUX_DEPS)

if (OLVO_BUILD_GUI)
    olvo_add_juce_headers (olvo_juce_gui_headers
        MODULES juce::juce_data_structures juce::juce_graphics juce::juce_gui_basics juce::juce_gui_extra
        DEFINITIONS ${OLVO_JUCE_GUI_DEFINITIONS}
        LINK olvo_juce_core_headers)

    # Debian's JUCE uses the system libpng and libjpeg: without the image libraries the link fails.
    olvo_add_juce_library (olvo_juce_gui
        COMPILED juce_data_structures juce_graphics
        HEADERS olvo_juce_gui_headers
        LINK juce::pkgconfig_JUCE_CURL_LINUX_DEPS juce::pkgconfig_JUCE_BROWSER_LINUX_DEPS
             juce::pkgconfig_JUCE_IMG_LINUX_DEPS)

    # The peers' repaint timer runs only while there is something to paint or someone listening for it, and X events
    # already read off the connection are dispatched without waiting for another.
    olvo_add_patched_juce_module (juce_gui_basics ${PROJECT_SOURCE_DIR}/cmake/patches/juce-linux-windows.patch
        olvo_juce_gui)
    # The web view's helper process and the thread that reads it.
    olvo_add_patched_juce_module (juce_gui_extra ${PROJECT_SOURCE_DIR}/cmake/patches/juce-linux-webview.patch
        olvo_juce_gui)
endif()

if (OLVO_BUILD_FUZZERS)
    olvo_add_juce_headers (olvo_juce_graphics_headers
        MODULES juce::juce_graphics
        LINK olvo_juce_core_headers)

    olvo_add_juce_library (olvo_juce_graphics
        COMPILED juce_graphics
        HEADERS olvo_juce_graphics_headers
        LINK juce::pkgconfig_JUCE_CURL_LINUX_DEPS juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
endif()

# The timer thread sleeps until its first timer is due, instead of waking ten times a second.
get_property (olvoJuceLibraries GLOBAL PROPERTY OLVO_JUCE_LIBRARIES)
olvo_add_patched_juce_module (juce_events ${PROJECT_SOURCE_DIR}/cmake/patches/juce-timer-thread.patch
    ${olvoJuceLibraries})

# Every executable links one JUCE library at most, directly; no library of ours links one. (The helpers are those of
# cmake/LibraryLayers.cmake.)
function (olvo_check_juce_links)
    get_property (juceLibraries GLOBAL PROPERTY OLVO_JUCE_LIBRARIES)
    olvo_project_targets (targets)
    foreach (target IN LISTS targets)
        if (target IN_LIST juceLibraries)
            continue()
        endif()
        get_target_property (type ${target} TYPE)
        if (NOT type MATCHES "EXECUTABLE|LIBRARY")
            continue()
        endif()
        olvo_target_links (${target} links)
        set (found)
        foreach (library IN LISTS juceLibraries)
            if (library IN_LIST links)
                list (APPEND found ${library})
            endif()
        endforeach()
        list (LENGTH found count)
        if (type STREQUAL "EXECUTABLE" AND count GREATER 1)
            message (FATAL_ERROR "${target} must link one of ${juceLibraries} at most (it links: ${found})")
        elseif (NOT type STREQUAL "EXECUTABLE" AND count GREATER 0)
            message (FATAL_ERROR "${target} is a library and must not link ${found}: "
                                 "link olvo_juce_core_headers or olvo_juce_gui_headers, and let the executable "
                                 "pick its JUCE library")
        endif()
    endforeach()
endfunction()
