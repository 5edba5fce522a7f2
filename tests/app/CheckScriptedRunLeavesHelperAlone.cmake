# Runs the application's smoke test in fresh folders, where automatic launching is on (its registered default),
# and checks that the run switched no login item on: a scripted run must not start the Wi-Fi watcher helper,
# which would outlive it.
# -D APP=... -D HOME_DIR=... -D HELPER_ID=... -D LSAN_SUPPRESSIONS=...
file(REMOVE_RECURSE ${HOME_DIR})
file(MAKE_DIRECTORY ${HOME_DIR}/config ${HOME_DIR}/cache ${HOME_DIR}/data ${HOME_DIR}/runtime)
file(CHMOD ${HOME_DIR}/runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen VORNAKEL_SSDP_ADDRESS=off VORNAKEL_DNSSD=off XDG_CONFIG_HOME=${HOME_DIR}/config
          XDG_CACHE_HOME=${HOME_DIR}/cache XDG_DATA_HOME=${HOME_DIR}/data XDG_RUNTIME_DIR=${HOME_DIR}/runtime
          LSAN_OPTIONS=suppressions=${LSAN_SUPPRESSIONS}
          ${APP} --smoke-test
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the smoke test failed (${result}):\n${output}")
endif()
if(EXISTS ${HOME_DIR}/config/autostart/${HELPER_ID}.desktop)
  message(FATAL_ERROR "the smoke test switched the Wi-Fi watcher's login item on and started the watcher")
endif()
