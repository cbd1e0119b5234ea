# Makes the release archive svclaunch-VERSION-ARCH.zip and its SHA256SUMS in
# OUT_DIR: the executable, a sample service.cnf, README.txt and LICENSE, all
# text with CR LF line ends, every entry with the same date and no recorded owner or mode, so that
# the same inputs always give the same bytes.
# cmake -DSOURCE_DIR=... -DEXE=... -DVERSION=... -DARCH=win32|win64 -DOUT_DIR=... -P archive.cmake
set(name svclaunch-${VERSION}-${ARCH})
set(stage ${OUT_DIR}/stage)
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

write_windows_text(${SOURCE_DIR}/release/README.txt ${stage}/${name}/README.txt)
write_windows_text(${SOURCE_DIR}/release/service.cnf ${stage}/${name}/service.cnf)
write_windows_text(${SOURCE_DIR}/release/LICENSE ${stage}/${name}/LICENSE)
file(COPY_FILE ${EXE} ${stage}/${name}/svclaunch.exe)

set(entries ${name}/LICENSE ${name}/README.txt ${name}/service.cnf ${name}/svclaunch.exe)
set(archive ${OUT_DIR}/${name}.zip)
file(REMOVE ${archive})
execute_process(COMMAND python3 ${SOURCE_DIR}/scripts/make_archive.py ${archive} ${stage} ${entries}
                RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "could not make ${archive}")
endif()
file(SHA256 ${archive} hash)
file(WRITE ${OUT_DIR}/SHA256SUMS "${hash}  ${name}.zip\n")
file(REMOVE_RECURSE ${stage})
message(STATUS "${archive}: ${hash}")
