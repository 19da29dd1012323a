# Windows build (mingw-w64): drvsetup.exe, statically linked, importing only
# the system's own DLLs; and the small Windows programs the Wine tests use.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

add_executable(drvsetup WIN32 ${DRVSETUP_SOURCES})
target_include_directories(drvsetup PRIVATE ${DRVSETUP_INCLUDES})
target_link_options(drvsetup PRIVATE -static -s)
target_link_libraries(drvsetup PRIVATE advapi32 user32)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_definitions(drvsetup PRIVATE DRVSETUP_32BIT=1)
endif()

# Helper programs for the Wine tests (tests/wine/progs/NAME.cpp -> NAME.exe).
file(GLOB WINE_TEST_PROGRAMS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/progs/*.cpp)
foreach(src ${WINE_TEST_PROGRAMS})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_include_directories(${name} PRIVATE ${DRVSETUP_INCLUDES})
  target_link_options(${name} PRIVATE -static)
  target_link_libraries(${name} PRIVATE advapi32 user32)
endforeach()
