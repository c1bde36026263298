# `zorvane checksum --no-name --no-size FILE` is the plain MD5 of the file's
# bytes: compare it with md5sum, an independent implementation.
execute_process(COMMAND ${TOOL} checksum --no-name --no-size ${FILE}
  RESULT_VARIABLE rc OUTPUT_VARIABLE ours OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "zorvane checksum failed with ${rc}")
endif()
execute_process(COMMAND md5sum ${FILE} OUTPUT_VARIABLE peer)
string(SUBSTRING "${peer}" 0 32 peer)
if(NOT ours STREQUAL peer)
  message(FATAL_ERROR "digest ${ours} differs from md5sum ${peer}")
endif()
execute_process(COMMAND ${TOOL} checksum ${FILE}.missing RESULT_VARIABLE rc ERROR_VARIABLE err)
if(rc EQUAL 0 OR err STREQUAL "")
  message(FATAL_ERROR "a missing path must fail with a message on stderr")
endif()
