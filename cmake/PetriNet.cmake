# add_petri_net(<name> DESCRIPTION <file> [OUTPUT_DIRECTORY <dir>] [OUTPUT_NAME <program>]
#               [EXCLUDE_FROM_ALL])
#
# Generates the C++ classes of a net from its declarative description with
# scripts/generate_net.py and builds:
#   <name>_model  a static library with the generated classes (ImplementedNetClass,
#                 Transition_*, MeasureObj_*, Token_* colour classes),
#   <name>        the console program: the program frame (MainClass, Server)
#                 compiled against that net, plus the generated main; its file
#                 is named <program> when OUTPUT_NAME is given.
# With EXCLUDE_FROM_ALL both are built only when asked for by name.
# The generated sources live in ${CMAKE_BINARY_DIR}/generated/<name>.
set(SIM_GENERATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/generate_net.py)

function(add_petri_net name)
  cmake_parse_arguments(NET "EXCLUDE_FROM_ALL" "DESCRIPTION;OUTPUT_DIRECTORY;OUTPUT_NAME" "" ${ARGN})
  if(NOT NET_DESCRIPTION)
    message(FATAL_ERROR "add_petri_net(${name}): DESCRIPTION is required")
  endif()
  get_filename_component(description ${NET_DESCRIPTION} ABSOLUTE)
  set(outdir ${CMAKE_BINARY_DIR}/generated/${name})

  # The file list is known at configure time; re-run CMake when the
  # description changes so that added or removed elements are picked up.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${description} ${SIM_GENERATOR})
  execute_process(
    COMMAND ${Python3_EXECUTABLE} ${SIM_GENERATOR} --description ${description} --output-dir ${outdir} --list
    OUTPUT_VARIABLE generated_list
    RESULT_VARIABLE list_result
    ERROR_VARIABLE list_error)
  if(NOT list_result EQUAL 0)
    message(FATAL_ERROR "Net generator failed for ${description}:\n${list_error}")
  endif()
  string(REPLACE "\n" ";" generated_list "${generated_list}")
  list(FILTER generated_list EXCLUDE REGEX "^$")
  set(generated_files "")
  foreach(f IN LISTS generated_list)
    list(APPEND generated_files ${outdir}/${f})
  endforeach()

  add_custom_command(
    OUTPUT ${generated_files}
    COMMAND ${Python3_EXECUTABLE} ${SIM_GENERATOR} --description ${description} --output-dir ${outdir}
    DEPENDS ${description} ${SIM_GENERATOR}
    COMMENT "Generating the classes of net ${name}"
    VERBATIM)

  set(model_sources ${generated_files})
  list(FILTER model_sources INCLUDE REGEX "\\.cpp$")
  list(FILTER model_sources EXCLUDE REGEX "/main\\.cpp$")
  add_library(${name}_model STATIC ${model_sources})
  target_include_directories(${name}_model PUBLIC ${outdir})
  target_link_libraries(${name}_model PUBLIC kernel)

  add_executable(${name} ${outdir}/main.cpp ${SIM_FRAME_SOURCES})
  target_link_libraries(${name} PRIVATE ${name}_model kernel)
  target_include_directories(${name} PRIVATE ${TCLAP_INCLUDE_DIR})
  if(NET_OUTPUT_DIRECTORY)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${NET_OUTPUT_DIRECTORY})
  endif()
  if(NET_OUTPUT_NAME)
    set_target_properties(${name} PROPERTIES OUTPUT_NAME ${NET_OUTPUT_NAME})
  endif()
  if(NET_EXCLUDE_FROM_ALL)
    set_target_properties(${name} ${name}_model PROPERTIES EXCLUDE_FROM_ALL TRUE)
  endif()
endfunction()
