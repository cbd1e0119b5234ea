# Makes one of the two archives of a Windows build in OUT_DIR, all text with
# CR LF line ends, every entry with the same date and no recorded owner or
# mode, so that the same inputs always give the same bytes:
#   KIND=release  svclaunch-VERSION-ARCH.zip and its SHA256SUMS: the
#                 executable, a sample service.cnf, README.txt (written from
#                 README.md) and LICENSE
#   KIND=tests    svclaunch-VERSION-ARCH-tests.zip: the test kit, with the
#                 same executable, scm_tests.exe and the recording target
#                 (TESTS_DIR holds both), run-tests.cmd and its README.txt
# cmake -DKIND=... -DSOURCE_DIR=... -DEXE=... [-DTESTS_DIR=...] -DVERSION=... -DARCH=win32|win64 -DOUT_DIR=...
#       -P archive.cmake
if(KIND STREQUAL "tests")
    set(name svclaunch-${VERSION}-${ARCH}-tests)
else()
    set(name svclaunch-${VERSION}-${ARCH})
endif()
set(stage ${OUT_DIR}/stage-${KIND})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage}/${name})

if(ARCH STREQUAL "win32")
    set(WINDOWS "32-bit Windows NT 4.0 and later; it also runs on 64-bit Windows")
else()
    set(WINDOWS "64-bit Windows")
endif()

# Text files for Notepad: CR LF line ends.
function(write_windows_text source target)
    file(READ ${source} text)
    string(CONFIGURE "${text}" text @ONLY)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${target} "${text}")
endfunction()

file(COPY_FILE ${EXE} ${stage}/${name}/svclaunch.exe)
if(KIND STREQUAL "tests")
    write_windows_text(${SOURCE_DIR}/release/kit-README.txt ${stage}/${name}/README.txt)
    write_windows_text(${SOURCE_DIR}/tests/kit/run-tests.cmd ${stage}/${name}/run-tests.cmd)
    file(COPY_FILE ${TESTS_DIR}/scm_tests.exe ${stage}/${name}/scm_tests.exe)
    file(COPY_FILE ${TESTS_DIR}/recording_target.exe ${stage}/${name}/recording_target.exe)
    set(files README.txt run-tests.cmd scm_tests.exe recording_target.exe svclaunch.exe)
else()
    # The administrators' part of README.md, as plain text.
    execute_process(COMMAND python3 ${SOURCE_DIR}/scripts/readme_txt.py ${SOURCE_DIR}/README.md ${stage}/README.txt ${VERSION}
                            ${ARCH}
                    RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "could not write README.txt from README.md")
    endif()
    write_windows_text(${stage}/README.txt ${stage}/${name}/README.txt)
    write_windows_text(${SOURCE_DIR}/release/service.cnf ${stage}/${name}/service.cnf)
    write_windows_text(${SOURCE_DIR}/release/LICENSE ${stage}/${name}/LICENSE)
    set(files LICENSE README.txt service.cnf svclaunch.exe)
endif()

list(TRANSFORM files PREPEND ${name}/ OUTPUT_VARIABLE entries)
set(archive ${OUT_DIR}/${name}.zip)
file(REMOVE ${archive})
execute_process(COMMAND python3 ${SOURCE_DIR}/scripts/make_archive.py ${archive} ${stage} ${entries}
                RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "could not make ${archive}")
endif()
file(SHA256 ${archive} hash)
if(NOT KIND STREQUAL "tests")
    file(WRITE ${OUT_DIR}/SHA256SUMS "${hash}  ${name}.zip\n")
endif()
file(REMOVE_RECURSE ${stage})
message(STATUS "${archive}: ${hash}")
