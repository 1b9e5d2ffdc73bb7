# pkg-config files of the installed libraries. The prefix is found from
# the file's own place, so an installed tree may be moved; a static
# library needs the C++ runtime and the threads library in every link.
#
# pband_install_pkgconfig(name library_type): cmake/<name>.pc.in becomes
# <name>.pc for library lib<name> of TYPE library_type (SHARED_LIBRARY or
# STATIC_LIBRARY), installed beside the other .pc files.
function(pband_install_pkgconfig name library_type)
  set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  file(RELATIVE_PATH pc_to_prefix /${pc_dir} /)
  string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
  set(pc_libs_private "-lstdc++ -lm -pthread")
  if(library_type STREQUAL "SHARED_LIBRARY")
    set(pc_libs "-l${name}")
  else()
    set(pc_libs "-l${name} ${pc_libs_private}")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${name}.pc.in
    ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc DESTINATION ${pc_dir})
endfunction()
