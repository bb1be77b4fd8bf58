# Run by CPack between the staging install and the making of the packages:
# compresses every man page of the staging tree with gzip -9n (no name, no
# time stamp, so the packages come out the same from the same sources).
file(GLOB_RECURSE _arquivos "${CPACK_TEMPORARY_DIRECTORY}/*")
list(FILTER _arquivos INCLUDE REGEX "/share/man/man[1-9]/[^/]+$")
list(FILTER _arquivos EXCLUDE REGEX "\\.gz$")
foreach(_pagina IN LISTS _arquivos)
  execute_process(COMMAND gzip -9nf "${_pagina}" RESULT_VARIABLE _r)
  if(NOT _r EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${_pagina}")
  endif()
endforeach()
