# Run by CPack between the staging install and the making of the packages,
# after the strip of CPACK_STRIP_FILES: removes from every ELF file and static
# library of the staging tree the sections Debian's own packaging strips too,
# .comment (the compiler's name and version) and .note, which nothing reads at
# run time. Archives are rewritten deterministically (no time stamps, owners).
file(GLOB_RECURSE _arquivos "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(_arquivo IN LISTS _arquivos)
  if(IS_SYMLINK "${_arquivo}")
    continue()
  endif()
  file(READ "${_arquivo}" _inicio LIMIT 8 HEX)
  # "\177ELF", or "!<arch>\n".
  if(NOT _inicio MATCHES "^7f454c46" AND NOT _inicio STREQUAL "213c617263683e0a")
    continue()
  endif()
  execute_process(COMMAND "${CPACK_PINPAD_OBJCOPY}" --enable-deterministic-archives
                          --remove-section=.comment --remove-section=.note "${_arquivo}"
                  RESULT_VARIABLE _r)
  if(NOT _r EQUAL 0)
    message(FATAL_ERROR "objcopy failed on ${_arquivo}")
  endif()
endforeach()
