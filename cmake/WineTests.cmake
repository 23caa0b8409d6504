# Running the Windows test executables under Wine.
#
# Every Windows test runs through cmake/wine-run.sh in a private prefix inside the build folder,
# from the build's bin/ folder (the DLLs sit beside the executables), with WINEDEBUG=-all and no
# display. A CTest fixture creates the prefix when it is missing and keeps one Wine server up for
# the whole run; its cleanup stops the server.
#
#   kvsdk_wine_test_properties(<test>)   call once for every Windows test (the test name is also
#                                        the name of its executable target)
include_guard(GLOBAL)

find_program(KVSDK_WINE_EXECUTABLE NAMES wine wine64)
find_program(KVSDK_WINESERVER_EXECUTABLE NAMES wineserver)
if(NOT KVSDK_WINE_EXECUTABLE OR NOT KVSDK_WINESERVER_EXECUTABLE)
  message(WARNING "Wine was not found: the Windows tests are built but cannot run")
endif()

set(KVSDK_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Private Wine prefix of the test run")
set(KVSDK_WINE_RUNNER ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
set(KVSDK_WINE_FIXTURE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/wine-fixture.sh)
set(KVSDK_WINE_ENVIRONMENT WINEPREFIX=${KVSDK_WINEPREFIX} WINEDEBUG=-all)
set(KVSDK_WINE_ENVIRONMENT_CHANGES DISPLAY=unset: WAYLAND_DISPLAY=unset:)

add_test(NAME kvsdk_wine_prefix_setup
  COMMAND sh ${KVSDK_WINE_FIXTURE_SCRIPT} setup ${KVSDK_WINEPREFIX})
add_test(NAME kvsdk_wine_prefix_cleanup
  COMMAND sh ${KVSDK_WINE_FIXTURE_SCRIPT} cleanup ${KVSDK_WINEPREFIX})
set_tests_properties(kvsdk_wine_prefix_setup PROPERTIES
  FIXTURES_SETUP kvsdk_wine TIMEOUT 180 LABELS wine
  ENVIRONMENT "${KVSDK_WINE_ENVIRONMENT}"
  ENVIRONMENT_MODIFICATION "${KVSDK_WINE_ENVIRONMENT_CHANGES}")
set_tests_properties(kvsdk_wine_prefix_cleanup PROPERTIES
  FIXTURES_CLEANUP kvsdk_wine TIMEOUT 60 LABELS wine
  ENVIRONMENT "${KVSDK_WINE_ENVIRONMENT}"
  ENVIRONMENT_MODIFICATION "${KVSDK_WINE_ENVIRONMENT_CHANGES}")

function(kvsdk_wine_test_properties test)
  # The runner replaces the plain emulator: it checks that the tests really ran and passed.
  if(TARGET ${test})
    set_target_properties(${test} PROPERTIES CROSSCOMPILING_EMULATOR "sh;${KVSDK_WINE_RUNNER}")
  endif()
  set_tests_properties(${test} PROPERTIES
    FIXTURES_REQUIRED kvsdk_wine
    # Label 'wine': what run.sh leaves out when this Wine cannot run the target's executables.
    LABELS wine
    # Suites share the prefix's registry (switch values, fake interfaces): one at a time.
    RESOURCE_LOCK kvsdk_wine_registry
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    TIMEOUT 600
    ENVIRONMENT "${KVSDK_WINE_ENVIRONMENT}"
    ENVIRONMENT_MODIFICATION "${KVSDK_WINE_ENVIRONMENT_CHANGES}")
endfunction()
