# SPDX-License-Identifier: MIT
# Runs the shortcut fuzzer for SECONDS from a fresh corpus of the real shortcuts and the
# hand-made seeds. The test data folder is only read: libFuzzer writes the inputs it finds
# into the first corpus folder, so that one is a scratch copy under WORK. Crash inputs are
# kept in WORK/artifacts.
foreach(var FUZZER TESTDATA SEEDS DICTIONARY WORK SECONDS)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "RunFuzzer.cmake needs -D${var}=...")
    endif()
endforeach()

if(NOT EXISTS "${TESTDATA}/MANIFEST.tsv")
    message(FATAL_ERROR "shortcut test data missing: ${TESTDATA}")
endif()

set(corpus "${WORK}/corpus")
set(artifacts "${WORK}/artifacts")
file(REMOVE_RECURSE "${corpus}")
file(MAKE_DIRECTORY "${corpus}" "${artifacts}")
file(GLOB shortcuts "${TESTDATA}/*.lnk" "${TESTDATA}/*.LNK")
file(GLOB seeds "${SEEDS}/*.lnk")
list(LENGTH shortcuts count)
if(count EQUAL 0)
    message(FATAL_ERROR "no shortcuts found in ${TESTDATA}")
endif()
file(COPY ${shortcuts} ${seeds} DESTINATION "${corpus}"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

execute_process(
    COMMAND "${FUZZER}" "-max_total_time=${SECONDS}" -max_len=16384 -timeout=10
        "-dict=${DICTIONARY}" "-artifact_prefix=${artifacts}/" -print_final_stats=1 "${corpus}"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the fuzzer failed (${result}); crash inputs are in ${artifacts}")
endif()
