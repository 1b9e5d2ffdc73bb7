# libpband exports its C interface and nothing else, under its SONAME:
# exactly the functions pband.h (and the headers it includes) declares.
# Run as: cmake -DLIBRARY=<path> -DSONAME=<name> -DHEADER=<pband.h>
#         -P check_exports.cmake
# With -DONLY=ON the functions of HEADER alone, under the symbol version
# VERSION: libpband_mpi and pband_mpi.h.
find_program(NM nm REQUIRED)
find_program(READELF readelf REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
# pband.h and the headers beside it that it includes.
get_filename_component(header_dir ${HEADER} DIRECTORY)
file(GLOB headers ${header_dir}/pband*.h)
# pband_mpi.h belongs to libpband_mpi.
list(FILTER headers EXCLUDE REGEX "pband_mpi\\.h$")
if(ONLY)
  set(headers ${HEADER})
endif()
if(NOT VERSION)
  set(VERSION PBAND_0.1)
endif()
string(REPLACE "." "\\." version_re "${VERSION}")
set(header "")
foreach(h IN LISTS headers)
  file(READ ${h} text)
  string(APPEND header "${text}")
endforeach()
string(REGEX MATCHALL "PBAND_API[^;(]* \\**(pband_[a-z0-9_]+)\\(" decls
  "${header}")
set(declared "")
foreach(decl IN LISTS decls)
  string(REGEX REPLACE ".*(pband_[a-z0-9_]+)\\($" "\\1" name "${decl}")
  list(APPEND declared ${name})
endforeach()
list(LENGTH declared expected)
set(count 0)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-f]* *[A-Za-z] " "" name "${line}")
  if(name MATCHES "^(pband_[a-z0-9_]+)@@${version_re}$")
    set(found ${CMAKE_MATCH_1})
    list(FIND declared ${found} at)
    if(at EQUAL -1)
      message(FATAL_ERROR "exported but not in pband.h: ${found}")
    endif()
    math(EXPR count "${count} + 1")
  elseif(NOT name STREQUAL "${VERSION}")
    message(FATAL_ERROR "exported beyond the C interface: ${name}")
  endif()
endforeach()
if(expected EQUAL 0 OR NOT count EQUAL expected)
  message(FATAL_ERROR
    "expected the ${expected} functions of the header, found ${count}")
endif()
execute_process(COMMAND ${READELF} -d ${LIBRARY}
  OUTPUT_VARIABLE dynamic COMMAND_ERROR_IS_FATAL ANY)
if(NOT dynamic MATCHES "Library soname: \\[${SONAME}\\]")
  message(FATAL_ERROR "SONAME is not ${SONAME}")
endif()
message(STATUS "${count} functions exported, SONAME ${SONAME}")
