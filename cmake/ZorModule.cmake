# zor_add_module(<target> ID <n> [NAME <name>] [OUTPUT_DIR <dir>]
#                [RESOURCES <dir>] [MESSAGES <dir>] [GENERATOR <exe target>]
#                [SOURCES <file>...])
#
# Builds a module library <OUTPUT_DIR>/<name>/<name>.so (the layout the
# registry loads: <modules root>/<name>/<name>.so) that links libzorvane.so
# and carries its own resource table:
#   - RESOURCES: loose resource files "<id><ext>", packed as they are;
#   - MESSAGES: a message directory (group<G>_<name>.txt files) compiled into
#     one string-list resource per group;
#   - GENERATOR: a program of the build run as `<program> DIR` before the
#     packing, which writes loose resource files into the empty folder DIR
#     (descriptions built through the library rather than kept as binaries).
# NAME defaults to the target, OUTPUT_DIR to <build>/modules. The module's
# sources get ZOR_MODULE_ID=<n>. Unparsed arguments are sources too.
set(ZOR_PACK_RESOURCES ${CMAKE_CURRENT_LIST_DIR}/../resources/pack_resources.py)
set(ZOR_COMPILE_MESSAGES ${CMAKE_CURRENT_LIST_DIR}/../resources/messages/compile_messages.py)

function(zor_add_module target)
  cmake_parse_arguments(MOD "" "ID;NAME;OUTPUT_DIR;RESOURCES;MESSAGES;GENERATOR" "SOURCES" ${ARGN})
  if(NOT DEFINED MOD_ID)
    message(FATAL_ERROR "zor_add_module(${target}): ID is required")
  endif()
  if(NOT MOD_NAME)
    set(MOD_NAME ${target})
  endif()
  if(NOT MOD_OUTPUT_DIR)
    set(MOD_OUTPUT_DIR ${CMAKE_BINARY_DIR}/modules)
  endif()

  set(gen_dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_rsrc)
  set(table_cpp ${gen_dir}/rsrc_table.cpp)
  set(pack_dirs)
  set(depends ${ZOR_PACK_RESOURCES})
  set(commands)
  if(MOD_RESOURCES)
    file(GLOB rsrc_files CONFIGURE_DEPENDS ${MOD_RESOURCES}/*)
    list(APPEND depends ${rsrc_files})
    list(APPEND pack_dirs ${MOD_RESOURCES})
  endif()
  if(MOD_MESSAGES)
    file(GLOB msg_files CONFIGURE_DEPENDS ${MOD_MESSAGES}/*.txt)
    list(APPEND depends ${msg_files} ${ZOR_COMPILE_MESSAGES})
    set(strlist_dir ${gen_dir}/strlist)
    list(APPEND commands
      COMMAND ${Python3_EXECUTABLE} ${ZOR_COMPILE_MESSAGES} --strlist-dir ${strlist_dir} ${MOD_MESSAGES})
    list(APPEND pack_dirs ${strlist_dir})
  endif()
  if(MOD_GENERATOR)
    set(generated_dir ${gen_dir}/generated)
    list(APPEND depends ${MOD_GENERATOR})
    list(APPEND commands
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${generated_dir}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${generated_dir}
      COMMAND $<TARGET_FILE:${MOD_GENERATOR}> ${generated_dir})
    list(APPEND pack_dirs ${generated_dir})
  endif()
  add_custom_command(
    OUTPUT ${table_cpp}
    ${commands}
    COMMAND ${Python3_EXECUTABLE} ${ZOR_PACK_RESOURCES} ${table_cpp} ${pack_dirs}
    DEPENDS ${depends}
    COMMENT "Packing the resources of module ${MOD_NAME}")

  add_library(${target} MODULE ${MOD_SOURCES} ${MOD_UNPARSED_ARGUMENTS} ${table_cpp})
  target_link_libraries(${target} PRIVATE zorvane::zorvane)
  target_compile_definitions(${target} PRIVATE ZOR_MODULE_ID=${MOD_ID})
  set_target_properties(${target} PROPERTIES
    PREFIX "" OUTPUT_NAME ${MOD_NAME} SUFFIX ".so"
    LIBRARY_OUTPUT_DIRECTORY ${MOD_OUTPUT_DIR}/${MOD_NAME}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()
