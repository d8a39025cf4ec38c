# Fonts and embedded binary data.

# The three typefaces and their licence, fetched into the build tree (scripts/setup fetches them first; a tree
# configured by hand fetches them here). Sets OLVO_FONT_DIR.
function (olvo_fetch_fonts)
    set (dir ${CMAKE_BINARY_DIR}/fonts)
    execute_process (COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/fetch-fonts ${dir} RESULT_VARIABLE result)
    if (NOT result EQUAL 0)
        message (FATAL_ERROR "The fonts are missing (see the line above): the GUI cannot be built without them.")
    endif()
    set (OLVO_FONT_DIR ${dir} PARENT_SCOPE)
endfunction()

# A static library holding files as byte arrays in the namespace BinaryData (header BinaryData.h), made by JUCE's
# juceaide exactly as juce_add_binary_data makes it. JUCE 7.0.5's function wants every file to exist when CMake
# configures and does not rebuild when a file changes; ours are partly drawn at build time, so this one depends on
# the files themselves.
function (olvo_add_binary_data target)
    cmake_parse_arguments (ARG "" "" "SOURCES" ${ARGN})
    set (folder ${CMAKE_CURRENT_BINARY_DIR}/${target}_binarydata)
    set (outputs ${folder}/BinaryData.h)
    list (LENGTH ARG_SOURCES count)
    foreach (index RANGE 1 ${count})
        list (APPEND outputs ${folder}/BinaryData${index}.cpp)
    endforeach()

    string (REPLACE ";" "\n" fileList "${ARG_SOURCES}")
    file (MAKE_DIRECTORY ${folder})
    file (CONFIGURE OUTPUT ${folder}/input_file_list CONTENT "${fileList}\n" @ONLY)   # rewritten only when it changes

    add_custom_command (OUTPUT ${outputs}
        COMMAND juce::juceaide binarydata BinaryData BinaryData.h ${folder} ${folder}/input_file_list
        DEPENDS ${folder}/input_file_list ${ARG_SOURCES}
        COMMENT "Embedding ${count} files in ${target}"
        VERBATIM)

    add_library (${target} STATIC ${outputs})
    target_include_directories (${target} INTERFACE ${folder})
endfunction()
