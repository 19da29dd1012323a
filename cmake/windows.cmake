# Windows build (mingw-w64): drvsetup.exe, statically linked, importing only
# the system's own DLLs; drvsetup-preview.exe; and the small Windows
# programs the Wine tests use.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

enable_language(RC)

# Resources (manifest, version information) and the runtime pieces that only
# the Windows executable needs: src/run/res.
set(DRVSETUP_RES ${CMAKE_SOURCE_DIR}/src/run/res)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(DRVSETUP_MANIFEST_ARCH x86)
else()
  set(DRVSETUP_MANIFEST_ARCH amd64)
endif()
set(DRVSETUP_VERSION_QUAD "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
set(DRVSETUP_MANIFEST ${CMAKE_BINARY_DIR}/res/drvsetup.manifest)
configure_file(${DRVSETUP_RES}/drvsetup.manifest ${DRVSETUP_MANIFEST} @ONLY)
configure_file(${DRVSETUP_RES}/drvsetup_version.h.in ${CMAKE_BINARY_DIR}/res/drvsetup_version.h @ONLY)

# The installer's layers on the real system. The 32-bit build runs on
# Windows 95 and NT 3.51/4.0 as well.
set(DRVSETUP_WINDOWS_DEFINITIONS "")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(DRVSETUP_WINDOWS_DEFINITIONS DRVSETUP_32BIT=1)
endif()
drvsetup_add_layers("" PLATFORM advapi32 user32 DEFINITIONS ${DRVSETUP_WINDOWS_DEFINITIONS})

# drvsetup_add_windows_program(<name> <source>...): a window-less program of
# the installer's layers (its own entry point and resources among the
# sources), statically linked, stripped, importing only the system's DLLs,
# and loadable by the oldest systems the 32-bit build supports. An entry
# point in src/run is named main.cpp or <name>_main.cpp, which keeps it out
# of the run layer.
function(drvsetup_add_windows_program name)
  add_executable(${name} WIN32 ${ARGN} ${DRVSETUP_RES}/terminate_handler.cpp)
  target_include_directories(${name} PRIVATE ${CMAKE_BINARY_DIR}/res)
  target_link_options(${name} PRIVATE -static -s)
  target_link_libraries(${name} PRIVATE drvsetup_run)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # Windows 95 and NT 3.51/4.0 load only programs that ask for at most
    # version 4.0 of the system and subsystem.
    target_link_options(${name} PRIVATE -Wl,--major-os-version,4,--minor-os-version,0
                        -Wl,--major-subsystem-version,4,--minor-subsystem-version,0)
  endif()
endfunction()

set_property(SOURCE ${DRVSETUP_RES}/drvsetup.rc APPEND PROPERTY OBJECT_DEPENDS
             ${DRVSETUP_MANIFEST} ${CMAKE_BINARY_DIR}/res/drvsetup_version.h)
drvsetup_add_windows_program(drvsetup ${CMAKE_SOURCE_DIR}/src/run/main.cpp
                             ${DRVSETUP_RES}/drvsetup.rc)

# Helper programs for the Wine tests (tests/wine/progs/NAME.cpp -> NAME.exe).
file(GLOB WINE_TEST_PROGRAMS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/progs/*.cpp)
foreach(src ${WINE_TEST_PROGRAMS})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_link_options(${name} PRIVATE -static)
  target_link_libraries(${name} PRIVATE advapi32 user32)
endforeach()

# drvsetup-preview.exe: the installer's code on the simulated machine, as on
# Linux. DRVSETUP_SIMULATED makes the platform header the simulated one, and
# every simulated call gets a Sim-prefixed name, for the installer's files,
# the machine's and the tool's alike; the entry point is the tool's own main.
find_path(DRVSETUP_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          NO_DEFAULT_PATH)
if(DRVSETUP_JSON_INCLUDE)
  # Only the JSON headers come from the build machine: a folder of their own
  # keeps its C library headers out of the Windows build.
  set(json_dir ${CMAKE_BINARY_DIR}/json-include)
  file(MAKE_DIRECTORY ${json_dir})
  file(CREATE_LINK ${DRVSETUP_JSON_INCLUDE}/nlohmann ${json_dir}/nlohmann SYMBOLIC)
  file(GLOB SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/*.cpp)
  file(GLOB PREVIEW_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/preview/*.cpp)
  # Every call of the simulated machine's table, renamed: "SIM_CALL(Name, ..."
  # rows, one a line. The definitions reach the simulated layers and all that
  # links them.
  file(STRINGS ${CMAKE_SOURCE_DIR}/sim/calls.def call_rows REGEX "^SIM_CALL\\(")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/calls.def)
  set(sim_renames "")
  foreach(row ${call_rows})
    string(REGEX REPLACE "^SIM_CALL\\(([A-Za-z0-9_]+),.*" "\\1" call_name "${row}")
    list(APPEND sim_renames ${call_name}=Sim${call_name})
  endforeach()
  drvsetup_add_layers(_simulated DEFINITIONS DRVSETUP_SIMULATED=1 ${sim_renames})
  add_executable(drvsetup-preview ${SIM_SOURCES} ${CMAKE_SOURCE_DIR}/text/text.cpp
                 ${CMAKE_SOURCE_DIR}/harness/installer_process.cpp ${PREVIEW_SOURCES})
  target_include_directories(drvsetup-preview PRIVATE ${CMAKE_SOURCE_DIR}/sim
                             ${CMAKE_SOURCE_DIR}/text ${CMAKE_SOURCE_DIR}/harness
                             ${CMAKE_SOURCE_DIR}/tools/preview ${json_dir})
  target_link_libraries(drvsetup-preview PRIVATE drvsetup_run_simulated)
  target_link_options(drvsetup-preview PRIVATE -static -s)
else()
  message(WARNING "nlohmann/json.hpp not found: drvsetup-preview.exe is not built")
endif()
