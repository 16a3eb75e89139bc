# Modules the server loads on demand, from the package's private folder under the library folder. The
# server finds them through its run path.
include(GNUInstallDirs)
set(ORVEX_MODULE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/${ORVEX_PACKAGE_NAME})
set(ORVEX_MODULE_BUILD_DIR ${CMAKE_BINARY_DIR}/modules)

# orvex_add_module(<target> <name> <sources>...) builds OrvexKelPostJob-<name>.so.
function(orvex_add_module target name)
  add_library(${target} MODULE ${ARGN})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${PROJECT_NAME}-${name}
    LIBRARY_OUTPUT_DIRECTORY ${ORVEX_MODULE_BUILD_DIR})
  # The static libraries inside stay the module's own: only its entry is visible to the server.
  target_link_options(${target} PRIVATE LINKER:--exclude-libs,ALL)
  install(TARGETS ${target} LIBRARY DESTINATION ${ORVEX_MODULE_INSTALL_DIR})
endfunction()

# Gives an installed program its run path: build_path (the build tree's folder) and install_path. CMake
# would otherwise link the build tree's path and rewrite it in place on install, reserving the room for that
# with empty entries, which the loader reads as the working folder: a program started in a folder holding
# a library of the same name would load that one. So the program is linked with its final run path from
# the start: the installed path alone in a build made for installing (the package), the build tree's
# folder first elsewhere, so a build tree never picks up an older install's files.
function(orvex_set_run_path target build_path install_path)
  if(CMAKE_BUILD_WITH_INSTALL_RPATH)
    set(path "${install_path}")
  else()
    set(path "${build_path};${install_path}")
  endif()
  set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "${path}")
endfunction()

# Lets the executable target load the modules.
function(orvex_load_modules_from target)
  orvex_set_run_path(${target} ${ORVEX_MODULE_BUILD_DIR} ${CMAKE_INSTALL_PREFIX}/${ORVEX_MODULE_INSTALL_DIR})
endfunction()
