# Profile-guided optimisation of the kernel and the compiled net.
#
# The same sources are first built with instrumentation in
# <build>/pgo/build, the instrumented program runs a short training workload
# on the bundled marking (scripts/pgo_train.sh: profiling, stationary and
# transient runs), and the kernel, the generated net and the program of this
# build are then compiled with the recorded profile. The profile changes only
# which code paths the compiler favours: results are the same with and
# without it. The training is repeated only when the instrumented program
# has changed; every compiled file depends on the profile's stamp, so a new
# profile recompiles them.
#
# The profile-guided build compiles with -O3 (the instrumented build too,
# so that the profile matches the code it guides): with the profile, the
# extra inlining and loop work goes to the hot paths only.
#
# The profile-guided build also optimises across files at link time: with
# the profile, the compiler inlines the hot calls between the kernel's files
# (a token's notice of its holders, the marking lists, the engine's tree of
# first events). The objects keep their ordinary code besides (fat
# objects), so the test programs, which link the same libraries, link as
# usual; only the program itself is linked with the optimisation. (Without
# the profile the same optimisation inlines by size alone and makes the
# program slower.)
#
# On for optimised builds with GCC; -DSIM_PROFILE_GUIDED=OFF turns it off
# (quicker builds while developing, no training run).
option(SIM_PROFILE_GUIDED "Compile the kernel and the net with the profile of a training run" ON)

function(sim_enable_profile_guided)
  if(NOT SIM_PROFILE_GUIDED OR SIM_SANITIZE OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
     OR NOT CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo)$")
    return()
  endif()
  include(ExternalProject)
  string(TOUPPER "${CMAKE_BUILD_TYPE}" config)
  set(pgo_dir ${CMAKE_BINARY_DIR}/pgo)
  set(train_build ${pgo_dir}/build)
  set(profile_data ${pgo_dir}/data)
  set(stamp ${pgo_dir}/profile.stamp)

  ExternalProject_Add(pgo_instrumented
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${train_build}
    CMAKE_ARGS
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
      -DSIM_PROFILE_GUIDED=OFF
      -DSIM_BUILD_TESTS=OFF
      -DSIM_BUILD_BENCHMARKS=OFF
      "-DCMAKE_CXX_FLAGS_${config}=${CMAKE_CXX_FLAGS_${config}} -O3"
      "-DCMAKE_CXX_FLAGS=-fprofile-generate=${profile_data} -fprofile-update=single -fprofile-prefix-path=${train_build}"
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)

  add_custom_target(pgo_profile
    COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/pgo_train.sh ${train_build}/workflow ${profile_data} ${stamp}
            ${CMAKE_SOURCE_DIR}/model/marking.xml
    BYPRODUCTS ${stamp}
    COMMENT "Training run for the profile-guided build"
    VERBATIM)
  add_dependencies(pgo_profile pgo_instrumented)

  # The object files name their profile by their path below the build
  # directory, which is the same in both builds.
  set(use_flags -fprofile-use=${profile_data} -fprofile-prefix-path=${CMAKE_BINARY_DIR}
                -fprofile-partial-training -Wno-missing-profile -Wno-coverage-mismatch)
  foreach(target IN LISTS ARGN)
    target_compile_options(${target} PRIVATE -O3 ${use_flags} -flto=auto -ffat-lto-objects)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      target_link_options(${target} PRIVATE -O3 -flto=auto)
    endif()
    add_dependencies(${target} pgo_profile)
    get_target_property(sources ${target} SOURCES)
    get_target_property(source_dir ${target} SOURCE_DIR)
    foreach(source IN LISTS sources)
      if(NOT IS_ABSOLUTE ${source})
        set(source ${source_dir}/${source})
      endif()
      if(source MATCHES "/buildnet\\.cpp$")
        # The net's construction runs once per build of the net: nothing to
        # gain, and its file-local helpers cannot be matched to their counts
        # across the two build directories.
        set_property(SOURCE ${source} TARGET_DIRECTORY ${target} APPEND PROPERTY COMPILE_OPTIONS -fno-profile-use)
      else()
        set_property(SOURCE ${source} TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS ${stamp})
      endif()
    endforeach()
  endforeach()
endfunction()
