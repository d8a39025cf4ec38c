# Our libraries read top-down (app -> mainwindow -> windows -> widgets -> look, engine): none links, directly or
# through others, one that links it back. CMake accepts such a cycle of static libraries and repeats them on the link
# line, so nothing else would show the tangle. olvo_check_library_cycles (called at the end of the top-level
# CMakeLists) enforces it. The two helpers serve the JUCE libraries' check too (JuceLibraries.cmake).

# Every target the project defines, in any of its directories, into the variable `out`.
function (olvo_project_targets out)
    set (all)
    set (pending ${PROJECT_SOURCE_DIR})
    while (pending)
        list (POP_FRONT pending dir)
        get_property (subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
        list (APPEND pending ${subdirs})
        get_property (targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
        list (APPEND all ${targets})
    endwhile()
    set (${out} ${all} PARENT_SCOPE)
endfunction()

# What a target links, privately or for its consumers, into the variable `out`.
function (olvo_target_links target out)
    set (links)
    foreach (property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
        get_target_property (value ${target} ${property})
        if (value)
            list (APPEND links ${value})
        endif()
    endforeach()
    set (${out} ${links} PARENT_SCOPE)
endfunction()

function (olvo_check_library_cycles)
    olvo_project_targets (targets)
    set (libraries)
    foreach (target IN LISTS targets)
        get_target_property (type ${target} TYPE)
        if (type MATCHES "LIBRARY")
            list (APPEND libraries ${target})
        endif()
    endforeach()

    foreach (library IN LISTS libraries)
        # Every library of ours that this one reaches through the links, with the path to it for the message.
        set (reached)
        set (front ${library})
        set (path_${library} ${library})
        while (front)
            list (POP_FRONT front current)
            olvo_target_links (${current} links)
            foreach (link IN LISTS links)
                if (link IN_LIST libraries AND NOT link IN_LIST reached)
                    list (APPEND reached ${link})
                    list (APPEND front ${link})
                    set (path_${link} ${path_${current}} ${link})
                endif()
            endforeach()
        endwhile()

        if (library IN_LIST reached)
            list (JOIN path_${library} " -> " cycle)
            message (FATAL_ERROR "Libraries link each other: ${cycle}. Move what both use into a library below both.")
        endif()
    endforeach()
endfunction()
