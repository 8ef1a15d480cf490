# Debian package: `cpack -G DEB` in the build directory writes vantor_<version>_<arch>.deb.
# Its library dependencies come from dpkg-shlibdeps; the ones no ELF file names are listed here.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantor)
set(CPACK_PACKAGE_VENDOR PELORIN)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "PELORIN <vantor@vantor.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL ${VANTOR_HOMEPAGE})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live SCSS to CSS converter")
set(CPACK_PACKAGE_DESCRIPTION [[
Vantor turns SCSS into CSS while you type: the text of the SCSS editor is
compiled with libsass on every change and the CSS appears beside it, with
the compile time and the compiler's error message. Output style, indentation
and source-map embedding are chosen from the editor's context menu; the CSS
can be copied or exported to a file.
.
The package also carries the Vantor.Compiler library and its header.]])
set(CPACK_STRIP_FILES ON)

execute_process(COMMAND dpkg --print-architecture
  OUTPUT_VARIABLE _deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE _deb_arch_failed)
if(_deb_arch_failed OR NOT _deb_arch)
  set(_deb_arch amd64)
endif()

set(CPACK_DEBIAN_PACKAGE_NAME vantor)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${_deb_arch})
set(CPACK_DEBIAN_FILE_NAME vantor_${PROJECT_VERSION}_${_deb_arch}.deb)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "PELORIN <vantor@vantor.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# shlibs for the packaged library and the ldconfig trigger that goes with it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Qt loads its platform plugin at run time, so no ELF file names it: without one no window opens.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Wayland sessions, and the file browser and web links through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, xdg-utils")
# The installed header includes <sass.h>.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libsass-dev")

include(CPack)
