# Fails when the shipped executable grows past its budget: cmake -DFILE=<exe> -DLIMIT=<bytes> -P
file(SIZE "${FILE}" size)
math(EXPR kb "${size} / 1024")
message(STATUS "${FILE}: ${kb} KB (budget ${LIMIT} bytes)")
if(size GREATER LIMIT)
  message(FATAL_ERROR "${FILE} is ${size} bytes, over its budget of ${LIMIT}")
endif()
