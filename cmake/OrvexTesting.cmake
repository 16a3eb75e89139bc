# Test registration shared by every test folder.
#
#   add_orvex_test(<name> SOURCES <files...> [LIBS <targets...>] [ENVIRONMENT <VAR=value...>] [BUS] [DISPLAY])
#
# Every test runs with its own HOME and XDG folders under the build tree, so nothing touches the
# developer's real files. BUS runs it inside a private dbus-run-session (configuration in tests/);
# DISPLAY runs it under xvfb-run. Without DISPLAY, Qt's offscreen platform is used.

find_program(ORVEX_DBUS_RUN_SESSION dbus-run-session REQUIRED)
find_program(ORVEX_XVFB_RUN xvfb-run)

set(ORVEX_TEST_SERVICE_DIR "${CMAKE_BINARY_DIR}/tests/dbus-services" CACHE INTERNAL "")
set(ORVEX_TEST_BUS_CONFIG "${CMAKE_BINARY_DIR}/tests/dbus-session.conf" CACHE INTERNAL "")
file(MAKE_DIRECTORY "${ORVEX_TEST_SERVICE_DIR}")
configure_file("${CMAKE_SOURCE_DIR}/tests/dbus-session.conf.in" "${ORVEX_TEST_BUS_CONFIG}" @ONLY)

function(add_orvex_test name)
  cmake_parse_arguments(ARG "BUS;DISPLAY" "" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})

  set(command $<TARGET_FILE:${name}>)
  if(ARG_BUS)
    set(command ${ORVEX_DBUS_RUN_SESSION} --config-file=${ORVEX_TEST_BUS_CONFIG} -- ${command})
  endif()
  if(ARG_DISPLAY)
    if(NOT ORVEX_XVFB_RUN)
      message(FATAL_ERROR "${name} needs xvfb-run (package xvfb)")
    endif()
    set(command ${ORVEX_XVFB_RUN} -a -s "-screen 0 1280x1024x24" ${command})
  endif()
  add_test(NAME ${name} COMMAND ${command})

  set(home "${CMAKE_CURRENT_BINARY_DIR}/${name}.home")
  file(MAKE_DIRECTORY "${home}/config" "${home}/data" "${home}/cache" "${home}/runtime")
  file(CHMOD "${home}/runtime" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set(environment
    "HOME=${home}"
    "XDG_CONFIG_HOME=${home}/config"
    "XDG_CONFIG_DIRS=${home}/config-dirs"
    "XDG_DATA_HOME=${home}/data"
    "XDG_CACHE_HOME=${home}/cache"
    "XDG_STATE_HOME=${home}/state"
    "XDG_RUNTIME_DIR=${home}/runtime"
    "http_proxy="
    "HTTP_PROXY="
    "https_proxy="
    "HTTPS_PROXY="
    "no_proxy="
    "CURL_CA_BUNDLE="
    "SSL_CERT_FILE="
    ${ARG_ENVIRONMENT})
  if(NOT ARG_DISPLAY)
    list(APPEND environment "QT_QPA_PLATFORM=offscreen" "DISPLAY=" "WAYLAND_DISPLAY=")
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}")
endfunction()
