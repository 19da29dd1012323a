# Linux build: the installer's code linked against the simulated Windows
# machine, its tests, the tools and the benchmarks.
option(DRVSETUP_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
if(DRVSETUP_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

file(GLOB SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/*.cpp)
# Text helpers (text/: case, hex, escapes, lines): the simulator's, and
# shared with the Wine host, the tools and the tests.
add_library(text_helpers STATIC ${CMAKE_SOURCE_DIR}/text/text.cpp)
target_include_directories(text_helpers PUBLIC ${CMAKE_SOURCE_DIR}/text)
add_library(winsim STATIC ${SIM_SOURCES})
target_link_libraries(winsim PUBLIC text_helpers)
target_include_directories(winsim PUBLIC ${CMAKE_SOURCE_DIR}/sim ${CMAKE_SOURCE_DIR}/include)

# The installer's layers on the simulated machine.
drvsetup_add_layers("" PLATFORM winsim)

# The harness (harness/): the installer started as a process on the
# simulated machine, shared by the tests, the tools and the benchmarks (no
# test framework in it). It sits above both the installer and the machine.
add_library(installer_process STATIC ${CMAKE_SOURCE_DIR}/harness/installer_process.cpp)
target_include_directories(installer_process PUBLIC ${CMAKE_SOURCE_DIR}/harness)
target_link_libraries(installer_process PUBLIC drvsetup_run winsim)

enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)

add_subdirectory(winehost)
add_subdirectory(tests)
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
