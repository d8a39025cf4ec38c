# Writes the files a patch changes, patched, into a copy of a JUCE module; stops with the reason when the patch does
# not apply exactly.
# cmake -DMODULE=<module dir> -DPATCH=<file.patch> -DOUTPUT=<copy dir> -P ApplyPatch.cmake
# The patch names its files as "+++ b/<path in the module>". The originals' line ends are made LF first (JUCE's
# sources have CRLF), so that the patch can stay a plain text file.
foreach (variable MODULE PATCH OUTPUT)
    if (NOT DEFINED ${variable})
        message (FATAL_ERROR "ApplyPatch.cmake needs -D${variable}=...")
    endif()
endforeach()

file (STRINGS "${PATCH}" files REGEX "^\\+\\+\\+ b/")
list (TRANSFORM files REPLACE "^\\+\\+\\+ b/([^\t]*).*$" "\\1")
if (NOT files)
    message (FATAL_ERROR "${PATCH} names no file (\"+++ b/<path>\")")
endif()

# Patched in a scratch directory, so that a patch that fails leaves the copy as it was.
set (scratch "${OUTPUT}/.patching")
file (REMOVE_RECURSE "${scratch}")
foreach (file IN LISTS files)
    file (READ "${MODULE}/${file}" text)
    string (REPLACE "\r\n" "\n" text "${text}")
    file (WRITE "${scratch}/${file}" "${text}")
endforeach()

execute_process (
    COMMAND patch --batch --fuzz=0 --no-backup-if-mismatch --reject-file=- -p1 -d "${scratch}" -i "${PATCH}"
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)

if (NOT result EQUAL 0)
    file (REMOVE_RECURSE "${scratch}")
    message (FATAL_ERROR "${PATCH} does not apply to ${MODULE} (has the installed JUCE changed?):\n${output}")
endif()

foreach (file IN LISTS files)
    file (RENAME "${scratch}/${file}" "${OUTPUT}/${file}")
endforeach()
file (REMOVE_RECURSE "${scratch}")
