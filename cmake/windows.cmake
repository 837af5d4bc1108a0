# The component as a 64-bit Windows DLL for the host: Type8642.dll exports
# TYPE8642 alone, imports the host services from the host's kernel library and
# carries the C and C++ runtimes inside, so it needs no DLL beside Windows' own
# and the host's kernel. Included by the root CMakeLists.txt after the
# component target exists.

if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  message(FATAL_ERROR "Type8642.dll is built for the 64-bit host only; configure for x64")
endif()

set(PLUGSTORE_HOST_KERNEL_DLL "TRNDll64.dll" CACHE STRING
  "File name of the host's kernel library that provides the host services")
set(PLUGSTORE_HOST_KERNEL_IMPLIB "" CACHE FILEPATH
  "Import library of the host's kernel library (for MSVC the .lib of the host's installation); \
empty: made from the list of host services")
get_filename_component(PLUGSTORE_HOST_KERNEL_NAME "${PLUGSTORE_HOST_KERNEL_DLL}" NAME_WE)

# ---------------------------------------------------------------- host services
# Their names are read from the prototypes in the ABI header, the one place
# that lists them: every line that begins with PLUGSTORE_HOST_SERVICE declares
# one service.
set(_plugstore_abi ${CMAKE_CURRENT_SOURCE_DIR}/src/host/trnsys_abi.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_plugstore_abi})
file(STRINGS ${_plugstore_abi} _plugstore_lines REGEX "^PLUGSTORE_HOST_SERVICE[ \t]")
set(PLUGSTORE_HOST_SERVICES "")
# file(STRINGS) splits a line at its ';', so the pieces after it come as
# elements of their own; only the pieces that begin a declaration count.
foreach(_line IN LISTS _plugstore_lines)
  if(NOT _line MATCHES "^PLUGSTORE_HOST_SERVICE[ \t]")
    continue()
  endif()
  if(_line MATCHES "^PLUGSTORE_HOST_SERVICE[ \t][^(]*[ \t*]([A-Za-z_][A-Za-z0-9_]*)[ \t]*\\(")
    list(APPEND PLUGSTORE_HOST_SERVICES ${CMAKE_MATCH_1})
  else()
    message(FATAL_ERROR "${_plugstore_abi}: no routine name in \"${_line}\"")
  endif()
endforeach()
if(NOT PLUGSTORE_HOST_SERVICES)
  message(FATAL_ERROR "${_plugstore_abi}: no host services found")
endif()
list(JOIN PLUGSTORE_HOST_SERVICES "\n  " PLUGSTORE_HOST_SERVICE_EXPORTS)
string(PREPEND PLUGSTORE_HOST_SERVICE_EXPORTS "  ")
set(PLUGSTORE_HOST_KERNEL_DEF ${CMAKE_CURRENT_BINARY_DIR}/host-kernel/${PLUGSTORE_HOST_KERNEL_NAME}.def)
configure_file(${CMAKE_CURRENT_LIST_DIR}/trndll.def.in ${PLUGSTORE_HOST_KERNEL_DEF} @ONLY)

# ---------------------------------------------------------------- import library
# Given by the user, or made from the module-definition file: with dlltool for
# MinGW, with lib.exe for MSVC.
if(PLUGSTORE_HOST_KERNEL_IMPLIB)
  set(_plugstore_implib ${PLUGSTORE_HOST_KERNEL_IMPLIB})
else()
  if(MSVC)
    set(_plugstore_implib ${CMAKE_CURRENT_BINARY_DIR}/host-kernel/${PLUGSTORE_HOST_KERNEL_NAME}.lib)
    add_custom_command(OUTPUT ${_plugstore_implib}
      COMMAND ${CMAKE_AR} /nologo /machine:x64 /def:${PLUGSTORE_HOST_KERNEL_DEF}
              /out:${_plugstore_implib}
      DEPENDS ${PLUGSTORE_HOST_KERNEL_DEF} VERBATIM)
  else()
    if(NOT CMAKE_DLLTOOL)
      find_program(CMAKE_DLLTOOL NAMES x86_64-w64-mingw32-dlltool dlltool REQUIRED)
    endif()
    set(_plugstore_implib ${CMAKE_CURRENT_BINARY_DIR}/host-kernel/lib${PLUGSTORE_HOST_KERNEL_NAME}.a)
    add_custom_command(OUTPUT ${_plugstore_implib}
      COMMAND ${CMAKE_DLLTOOL} --machine i386:x86-64 --input-def ${PLUGSTORE_HOST_KERNEL_DEF}
              --dllname ${PLUGSTORE_HOST_KERNEL_DLL} --output-lib ${_plugstore_implib}
      DEPENDS ${PLUGSTORE_HOST_KERNEL_DEF} VERBATIM)
  endif()
  add_custom_target(host_kernel_implib DEPENDS ${_plugstore_implib})
  add_dependencies(type8642 host_kernel_implib)
endif()
add_library(host_kernel UNKNOWN IMPORTED)
set_target_properties(host_kernel PROPERTIES IMPORTED_LOCATION ${_plugstore_implib})

# ---------------------------------------------------------------- the DLL
set_target_properties(type8642 PROPERTIES PREFIX "" OUTPUT_NAME Type8642
  LINK_DEPENDS ${_plugstore_implib})
target_link_libraries(type8642 PRIVATE host_kernel)

# Static C and C++ runtimes. For MSVC the whole build shares one runtime, so
# the model library and everything linked with it use the static one too.
if(MSVC)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  set_target_properties(plugstore_model type8642 PROPERTIES
    MSVC_RUNTIME_LIBRARY ${CMAKE_MSVC_RUNTIME_LIBRARY})
  # The standard C file and string functions the model uses are portable;
  # MSVC's advice to replace them would stop the build under /WX.
  target_compile_definitions(plugstore_model PUBLIC _CRT_SECURE_NO_WARNINGS)
else()
  target_link_options(type8642 PRIVATE -static)
  add_link_options(-static)  # the stand-in host and kernel below
endif()

# ---------------------------------------------------------------- stand-in host
# The stand-in kernel carries the host kernel's file name, so that the DLL
# finds its host services in it as it does in the host. The stand-in targets
# are made after this file is read, hence the deferred call.
function(plugstore_windows_standin)
  if(TARGET trndll)
    set_target_properties(trndll PROPERTIES PREFIX "" OUTPUT_NAME ${PLUGSTORE_HOST_KERNEL_NAME}
      WINDOWS_EXPORT_ALL_SYMBOLS ON)
    # The driver also reaches the kernel's record through C++ functions; with
    # MinGW the marked host services would otherwise be its only exports.
    if(NOT MSVC)
      target_link_options(trndll PRIVATE -Wl,--export-all-symbols
        -Wl,--exclude-libs=libgcc_eh.a:libgcc.a)
    endif()
  endif()
endfunction()
cmake_language(DEFER CALL plugstore_windows_standin)
