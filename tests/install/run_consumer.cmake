# Installs the built tree into a scratch prefix, then builds and runs a tiny
# consumer twice: once through find_package(zorvane), once through pkg-config.
set(prefix ${BUILD_DIR}/install-test/prefix)
set(work ${BUILD_DIR}/install-test/consumer)
file(REMOVE_RECURSE ${BUILD_DIR}/install-test)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
string(REPLACE ";" " " flags "${EXTRA_FLAGS}")
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/consumer -B ${work} -DCMAKE_PREFIX_PATH=${prefix}
    "-DCMAKE_CXX_FLAGS=${flags}" "-DCMAKE_EXE_LINKER_FLAGS=${flags}")
run(${CMAKE_COMMAND} --build ${work})
run(${work}/consumer)
run(${work}/consumer_pc)
