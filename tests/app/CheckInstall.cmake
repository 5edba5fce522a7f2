# Installs the build into a fresh prefix and checks that everything lands where the freedesktop conventions
# expect it, and that the helper is where the installed application will look for it.
# -D BUILD_DIR=... -D PREFIX=... -D BUNDLE_ID=... -D HELPER_DIR_FROM_BINDIR=...
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} RESULT_VARIABLE result
                OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(expected
  bin/vornakel-transfer
  bin/${HELPER_DIR_FROM_BINDIR}/vornakel-transfer-helper
  share/applications/${BUNDLE_ID}.desktop
  share/icons/hicolor/scalable/apps/${BUNDLE_ID}.svg)
foreach(relative IN LISTS expected)
  get_filename_component(path ${PREFIX}/${relative} ABSOLUTE)
  if(NOT EXISTS ${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
get_filename_component(helper ${PREFIX}/bin/${HELPER_DIR_FROM_BINDIR}/vornakel-transfer-helper ABSOLUTE)
string(FIND "${helper}" "${PREFIX}/lib" inLib)
if(NOT inLib EQUAL 0)
  message(FATAL_ERROR "the helper is not below the prefix's lib or libexec folder: ${helper}")
endif()

file(READ ${PREFIX}/share/applications/${BUNDLE_ID}.desktop entry)
foreach(line "Exec=vornakel-transfer" "Icon=${BUNDLE_ID}" "Type=Application")
  string(FIND "${entry}" "${line}" found)
  if(found LESS 0)
    message(FATAL_ERROR "the desktop entry lacks ${line}")
  endif()
endforeach()
find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
  execute_process(COMMAND ${VALIDATE} ${PREFIX}/share/applications/${BUNDLE_ID}.desktop RESULT_VARIABLE valid)
  if(NOT valid EQUAL 0)
    message(FATAL_ERROR "desktop-file-validate rejects the entry")
  endif()
endif()
message(STATUS "installed into ${PREFIX}")
