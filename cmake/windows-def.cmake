cmake_minimum_required(VERSION 3.20)
# Windows export control for ORQExtClient.dll, run as a script by the build.
#
# MODE=def (before the link): writes DEF, the module-definition file of the
#   DLL, from LIST (exports/orqext.exports). Each listed name is looked up in
#   the symbols that OBJECTS define. With STDCALL (32-bit Windows) it is
#   written with its stdcall decoration (ORQExt_Connect@20) and the link with
#   --kill-at exports it undecorated; a listed name that is not defined, or
#   not defined as stdcall, stops the build. Without STDCALL (64-bit Windows,
#   one calling convention, no decoration) it is written as it is; a listed
#   name that is not defined stops the build.
# MODE=implib (after the link): writes IMPLIB from DEF with dlltool -k, so the
#   import library maps the decorated symbols that stdcall callers reference
#   (_ORQExt_Connect@20, __imp__ORQExt_Connect@20) to the undecorated names in
#   the DLL. The linker's own import library keeps only undecorated symbols,
#   which stdcall callers cannot link against.
if(MODE STREQUAL "def")
  file(STRINGS ${LIST} names REGEX "^ORQExt_")
  execute_process(COMMAND ${NM} -g --defined-only ${OBJECTS}
                  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed")
  endif()
  string(REPLACE "\n" ";" lines "${out}")
  # 32-bit Windows symbols carry a leading underscore, 64-bit ones do not.
  if(STDCALL)
    set(symbol_re " T _(ORQExt_[A-Za-z0-9_]+(@[0-9]+)?)$")
  else()
    set(symbol_re " T (ORQExt_[A-Za-z0-9_]+(@[0-9]+)?)$")
  endif()
  set(defined "")
  foreach(l IN LISTS lines)
    if(l MATCHES "${symbol_re}")
      list(APPEND defined "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(def "LIBRARY \"${DLL}\"\nEXPORTS\n")
  set(problems "")
  foreach(n IN LISTS names)
    set(found "")
    foreach(d IN LISTS defined)
      if(NOT STDCALL)
        if(d STREQUAL n)
          set(found "${d}")
          break()
        endif()
      elseif(d MATCHES "^${n}@[0-9]+$")
        set(found "${d}")
        break()
      elseif(d STREQUAL n)
        string(APPEND problems "\n  ${n} is not stdcall (ORQEXT_CALL missing?)")
      endif()
    endforeach()
    if(found STREQUAL "")
      if(NOT "${n}" IN_LIST defined)
        string(APPEND problems "\n  ${n} is listed but not defined")
      endif()
    else()
      string(APPEND def "    ${found}\n")
    endif()
  endforeach()
  if(NOT problems STREQUAL "")
    message(FATAL_ERROR "export list and library do not agree:${problems}")
  endif()
  # Rewritten only when it changes, so an unchanged list causes no relink.
  include(${CMAKE_CURRENT_LIST_DIR}/write-if-changed.cmake)
  orq_write_if_changed(${DEF} "${def}")
elseif(MODE STREQUAL "implib")
  execute_process(COMMAND ${DLLTOOL} --input-def ${DEF} --dllname ${DLL} --kill-at
                          --output-lib ${IMPLIB}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${DLLTOOL} failed")
  endif()
else()
  message(FATAL_ERROR "MODE must be def or implib")
endif()
