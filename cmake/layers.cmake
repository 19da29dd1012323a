# The installer's three layers, one static library each, built from the same
# source for Windows and for the simulated machine:
#
#   drvsetup_sysaccess  src/sysaccess  sees include/ and src/sysaccess
#   drvsetup_packages   src/packages   sees those and src/packages
#   drvsetup_run        src/run        sees all three (not main.cpp nor
#                                      <name>_main.cpp: an entry point
#                                      belongs to its program)
#
# Nothing else is on a layer's include path, so an include that goes up a
# layer does not compile. Whatever links a layer sees the folders of that
# layer and the layers below it.
#
# drvsetup_add_layers(<suffix> [PLATFORM <library>...] [DEFINITIONS <def>...])
#   PLATFORM: what implements platform.h (the simulated machine, or the
#   system's import libraries); it is linked below sysaccess, but its include
#   folders stay off the layers' path. DEFINITIONS reach the layers and
#   everything that links them. <suffix> tells apart two sets of layers of
#   one build tree (the Windows build has the real and the simulated one).

function(drvsetup_add_layers suffix)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "PLATFORM;DEFINITIONS")
  set(below "")
  foreach(layer sysaccess packages run)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${layer}/*.cpp)
    list(FILTER sources EXCLUDE REGEX "/src/run/([A-Za-z0-9]+_)?main\\.cpp$")
    set(target drvsetup_${layer}${suffix})
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/src/${layer})
    if(below)
      target_link_libraries(${target} PUBLIC ${below})
    else()
      target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/include)
      target_compile_definitions(${target} PUBLIC ${arg_DEFINITIONS})
      # Only for linking, and only for what links the layers: the platform's
      # include folders must not reach a layer's own sources.
      foreach(platform ${arg_PLATFORM})
        target_link_libraries(${target} INTERFACE $<LINK_ONLY:${platform}>)
      endforeach()
    endif()
    set(below ${target})
  endforeach()
endfunction()
