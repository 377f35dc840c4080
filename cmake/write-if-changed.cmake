# orq_write_if_changed(FILE CONTENT): writes CONTENT to FILE only when the
# file is missing or holds something else, so an unchanged result causes no
# rebuild or relink. Used at configure time and by build-time scripts.
function(orq_write_if_changed file content)
  set(old "")
  if(EXISTS ${file})
    file(READ ${file} old)
  endif()
  if(NOT old STREQUAL content)
    file(WRITE ${file} "${content}")
  endif()
endfunction()
