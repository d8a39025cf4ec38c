# Writes a patched copy of a source file; stops with the reason when the patch does not apply exactly.
# cmake -DORIGINAL=<file> -DPATCH=<file.patch> -DOUTPUT=<file> -P ApplyPatch.cmake
# The original's line ends are made LF first (JUCE's sources have CRLF), so that the patch can stay a plain text file.
foreach (variable ORIGINAL PATCH OUTPUT)
    if (NOT DEFINED ${variable})
        message (FATAL_ERROR "ApplyPatch.cmake needs -D${variable}=...")
    endif()
endforeach()

file (READ "${ORIGINAL}" text)
string (REPLACE "\r\n" "\n" text "${text}")
file (WRITE "${OUTPUT}.original" "${text}")

execute_process (
    COMMAND patch --batch --silent --fuzz=0 --no-backup-if-mismatch --reject-file=-
                  --output=${OUTPUT}.patched ${OUTPUT}.original ${PATCH}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
file (REMOVE "${OUTPUT}.original")

if (NOT result EQUAL 0)
    file (REMOVE "${OUTPUT}.patched")
    message (FATAL_ERROR "${PATCH} does not apply to ${ORIGINAL} (has the installed JUCE changed?):\n${output}")
endif()

file (RENAME "${OUTPUT}.patched" "${OUTPUT}")
