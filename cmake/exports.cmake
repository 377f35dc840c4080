# Export control derived from exports/orqext.exports (one name per line).
find_package(Threads REQUIRED)

set(ORQ_EXPORT_LIST ${CMAKE_SOURCE_DIR}/exports/orqext.exports)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ORQ_EXPORT_LIST})
file(STRINGS ${ORQ_EXPORT_LIST} ORQ_EXPORT_NAMES REGEX "^ORQExt_")

function(orq_export_control target)
  if(WIN32)
    # Module-definition file, written from the list and the library's
    # objects just before the link: on 32-bit Windows with the stdcall-
    # decorated names, which --kill-at exports undecorated; on 64-bit Windows
    # (no decoration) with the plain names. The import library is then made
    # from the same file so that stdcall callers link (see
    # cmake/windows-def.cmake).
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(stdcall ON)
    else()
      set(stdcall OFF)
    endif()
    set(def ${CMAKE_BINARY_DIR}/ORQExtClient.def)
    set(script ${CMAKE_SOURCE_DIR}/cmake/windows-def.cmake)
    add_custom_command(TARGET ${target} PRE_LINK
      COMMAND ${CMAKE_COMMAND} -DMODE=def -DSTDCALL=${stdcall} -DNM=${CMAKE_NM} "-DOBJECTS=$<TARGET_OBJECTS:orq_objs>"
              -DLIST=${ORQ_EXPORT_LIST} -DDLL=$<TARGET_FILE_NAME:${target}> -DDEF=${def} -P ${script}
      VERBATIM)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DMODE=implib -DDLLTOOL=${CMAKE_DLLTOOL} -DDEF=${def}
              -DDLL=$<TARGET_FILE_NAME:${target}> -DIMPLIB=$<TARGET_LINKER_FILE:${target}> -P ${script}
      VERBATIM)
    target_link_options(${target} PRIVATE ${def} -Wl,--kill-at)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ORQ_EXPORT_LIST} ${script})
  else()
    set(vs "{\n  global:\n")
    foreach(n IN LISTS ORQ_EXPORT_NAMES)
      string(APPEND vs "    ${n};\n")
    endforeach()
    string(APPEND vs "  local: *;\n};\n")
    # Written only when its content changes: a rewrite would relink the
    # library and everything linked to it on every configure.
    file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/orqext.map CONTENT "${vs}" @ONLY)
    target_link_options(${target} PRIVATE -Wl,--version-script=${CMAKE_BINARY_DIR}/orqext.map)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_BINARY_DIR}/orqext.map)
  endif()
endfunction()
