# Modules the server loads on demand, from the package's private folder under the library folder. The
# server finds them through its run path, which CMake points at the build tree's folder and rewrites on
# install.
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

# Lets the executable target load the modules. Where the installed run path is the longer, CMake pads the
# build tree's with empty entries, which the loader reads as the working folder; the package preset builds
# with the installed run path from the start.
function(orvex_load_modules_from target)
  set_target_properties(${target} PROPERTIES BUILD_RPATH ${ORVEX_MODULE_BUILD_DIR}
    INSTALL_RPATH ${CMAKE_INSTALL_PREFIX}/${ORVEX_MODULE_INSTALL_DIR})
endfunction()
