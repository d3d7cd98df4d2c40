# What `cmake --install` puts where, and so what the Debian package holds: the two programs,
# the desktop entry with the program's icon, the manual pages, the AppStream metadata, and
# the copyright and changelog where Debian looks for them.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(TALVO_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(TALVO_GENERATED_DIR ${PROJECT_BINARY_DIR}/packaging)
set(TALVO_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/talvo-ftp)
set(TALVO_MAN1DIR ${CMAKE_INSTALL_MANDIR}/man1)

install(TARGETS TalvoFTP talvoftp-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ui/talvo-ftp.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TALVO_PACKAGING_DIR}/org.example.talvoftp.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${TALVO_PACKAGING_DIR}/icons/talvo-ftp.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 256)
  install(FILES ${TALVO_PACKAGING_DIR}/icons/talvo-ftp-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME talvo-ftp.png)
endforeach()
install(FILES ${TALVO_PACKAGING_DIR}/copyright DESTINATION ${TALVO_DOCDIR})

# Debian wants manual pages and changelogs compressed, without a time stamp in the gzip
# header (-n) so that two builds give the same bytes.
find_program(TALVO_GZIP gzip REQUIRED)
find_program(TALVO_HELP2MAN help2man)

function(talvo_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${TALVO_GZIP} -9 -n -c ${source} > ${output}
    DEPENDS ${source}
    VERBATIM)
endfunction()

file(MAKE_DIRECTORY ${TALVO_GENERATED_DIR})
talvo_gzip(${TALVO_PACKAGING_DIR}/changelog ${TALVO_GENERATED_DIR}/changelog.gz)
configure_file(${TALVO_PACKAGING_DIR}/TalvoFTP.1.in ${TALVO_GENERATED_DIR}/TalvoFTP.1 @ONLY)
talvo_gzip(${TALVO_GENERATED_DIR}/TalvoFTP.1 ${TALVO_GENERATED_DIR}/TalvoFTP.1.gz)
set(TALVO_PACKAGING_FILES ${TALVO_GENERATED_DIR}/changelog.gz ${TALVO_GENERATED_DIR}/TalvoFTP.1.gz)
install(FILES ${TALVO_GENERATED_DIR}/changelog.gz DESTINATION ${TALVO_DOCDIR})
install(FILES ${TALVO_GENERATED_DIR}/TalvoFTP.1.gz DESTINATION ${TALVO_MAN1DIR})

# The console tool's page is made from its own --help and --version, so that it always
# tells what the program does.
if(TALVO_HELP2MAN)
  add_custom_command(OUTPUT ${TALVO_GENERATED_DIR}/talvoftp-cli.1
    COMMAND ${TALVO_HELP2MAN} --no-info --section=1
            "--name=console FTP client on the Talvo FTP engine"
            --include=${TALVO_PACKAGING_DIR}/talvoftp-cli.h2m
            --output=${TALVO_GENERATED_DIR}/talvoftp-cli.1 $<TARGET_FILE:talvoftp-cli>
    DEPENDS talvoftp-cli ${TALVO_PACKAGING_DIR}/talvoftp-cli.h2m
    VERBATIM)
  talvo_gzip(${TALVO_GENERATED_DIR}/talvoftp-cli.1 ${TALVO_GENERATED_DIR}/talvoftp-cli.1.gz)
  list(APPEND TALVO_PACKAGING_FILES ${TALVO_GENERATED_DIR}/talvoftp-cli.1.gz)
  install(FILES ${TALVO_GENERATED_DIR}/talvoftp-cli.1.gz DESTINATION ${TALVO_MAN1DIR})
else()
  message(STATUS "help2man not found: the manual page of talvoftp-cli is not built "
                 "(apt-get install help2man)")
endif()
add_custom_target(talvo_packaging_files ALL DEPENDS ${TALVO_PACKAGING_FILES})
