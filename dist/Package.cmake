# The .deb: `cpack -G DEB` in the build folder (tools/deb builds and checks it).
set(CPACK_PACKAGE_NAME velmar-fennick)
set(CPACK_PACKAGE_VENDOR "Velmar Systems, Inc.")
# No comma in the name: Debian reads one as a second contact.
set(CPACK_PACKAGE_CONTACT "Velmar Systems Inc. <supporto@velmarsystems.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convertitore da Audio Wave, AIFF e FLAC a Ogg Vorbis")
set(CPACK_PACKAGE_DESCRIPTION
    "Velmar Fennick converte file Audio Wave (.wav), AIFF e FLAC in file Ogg Vorbis, molti
alla volta: con una procedura guidata in italiano, in tre passi (fennick),
o dalla riga di comando (fennick-cli), che codifica più file insieme.
.
Legge il PCM, i campioni in virgola mobile e i Wave compressi (IMA e MS
ADPCM, mu-law, A-law, GSM 6.10); cambia la velocità del campione con
libsoxr. I file prodotti stanno nella cartella Musica dei documenti e
portano il commento “Codificato con Velmar Fennick”.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.velmarsystems.example/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The linked libraries come from dpkg-shlibdeps; packages.txt's [run]
# section adds what is loaded by soname or read at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(section "")
set(run "")
file(STRINGS ${CMAKE_SOURCE_DIR}/packages.txt lines)
foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line MATCHES "^\\[(.*)\\]$")
        set(section ${CMAKE_MATCH_1})
    elseif(line AND section STREQUAL "run")
        list(APPEND run ${line})
    endif()
endforeach()
list(JOIN run ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/packages.txt)
include(CPack)
