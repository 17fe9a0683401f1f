# Windows tier: the DLL, its internal static library, and the Wine tests.
# One tier per architecture, from the same sources: win32 (i686) and win64
# (x86-64); QZ45_TIER names it and prefixes its test names.
include(cmake/warnings.cmake)
enable_language(RC)
include(GNUInstallDirs)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QZ45_TIER win64)
    set(QZ45_DLLTOOL_MACHINE i386:x86-64)
else()
    set(QZ45_TIER win32)
    set(QZ45_DLLTOOL_MACHINE i386)
endif()

# The tier's Wine runner: its architecture and its private prefix inside the
# build tree. ctest runs every Windows program through it.
set(QZ45_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
find_program(QZ45_WINE64_LOADER wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT QZ45_WINE64_LOADER)
    set(QZ45_WINE64_LOADER "")
endif()
configure_file(cmake/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

# One object library feeds both the DLL and the static library the internal
# tests link against, so they test the very same code.
add_library(qz45_objects OBJECT ${QZ45_PORTABLE_SOURCES} ${QZ45_WIN32_SOURCES})
target_include_directories(qz45_objects PUBLIC include src)
target_compile_definitions(qz45_objects PUBLIC QZ45_BUILDING_LIBRARY WIN32_LEAN_AND_MEAN
                                               _WIN32_WINNT=0x0601)
qz45_warnings(qz45_objects)

set(QZ45_SYSTEM_LIBS ole32 oleaut32 uuid advapi32)

# Resources: the version information and the message table of the event-log
# entries the library writes.
set(QZ45_RES_DIR ${CMAKE_BINARY_DIR}/resources)
find_program(QZ45_WINDMC NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-windmc windmc REQUIRED)
add_custom_command(
    OUTPUT ${QZ45_RES_DIR}/delivery_messages.rc ${QZ45_RES_DIR}/delivery_messages.h
           ${QZ45_RES_DIR}/MSG00409.bin
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QZ45_RES_DIR}
    COMMAND ${QZ45_WINDMC} -h ${QZ45_RES_DIR} -r ${QZ45_RES_DIR}
            ${CMAKE_SOURCE_DIR}/src/delivery/delivery_messages.mc
    DEPENDS ${CMAKE_SOURCE_DIR}/src/delivery/delivery_messages.mc)
configure_file(${CMAKE_SOURCE_DIR}/src/qz45alarmevent_api.rc.in ${QZ45_RES_DIR}/qz45alarmevent_api.rc
               @ONLY)
set_source_files_properties(${QZ45_RES_DIR}/qz45alarmevent_api.rc PROPERTIES
    OBJECT_DEPENDS "${QZ45_RES_DIR}/delivery_messages.rc;${QZ45_RES_DIR}/MSG00409.bin")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I ${QZ45_RES_DIR}")

add_library(qz45alarmevent_api SHARED $<TARGET_OBJECTS:qz45_objects>
            ${CMAKE_SOURCE_DIR}/src/qz45alarmevent_api.def
            ${QZ45_RES_DIR}/qz45alarmevent_api.rc)
target_include_directories(qz45alarmevent_api INTERFACE $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>)
target_link_libraries(qz45alarmevent_api PRIVATE ${QZ45_SYSTEM_LIBS})
set_target_properties(qz45alarmevent_api PROPERTIES PREFIX "" IMPORT_PREFIX "lib")

add_library(qz45_static STATIC $<TARGET_OBJECTS:qz45_objects>)
target_include_directories(qz45_static PUBLIC include src)
target_compile_definitions(qz45_static PUBLIC QZ45_BUILDING_LIBRARY WIN32_LEAN_AND_MEAN
                                              _WIN32_WINNT=0x0601)
target_link_libraries(qz45_static PUBLIC ${QZ45_SYSTEM_LIBS})

add_subdirectory(trail)
add_subdirectory(services/common)
add_subdirectory(services/reference)

# The commands run with UTF-8 as their process code page: their manifest.
set(QZ45_UTF8_MANIFEST_RC ${CMAKE_SOURCE_DIR}/tools/utf8_code_page.rc)
add_subdirectory(tools/qz45event)
add_subdirectory(tools/qz45trail)
set_source_files_properties(${QZ45_UTF8_MANIFEST_RC} DIRECTORY tools/qz45event tools/qz45trail
    PROPERTIES OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/tools/utf8_code_page.manifest)

if(QZ45_BUILD_TESTS)
    # GoogleTest's Notification is made of std::mutex, which this tier's C++
    # runtime lacks: its port hook here gives one on Windows' own lock.
    foreach(target gtest gtest_main)
        target_include_directories(${target} BEFORE PUBLIC ${CMAKE_SOURCE_DIR}/tests/win32/gtest_port)
    endforeach()
    add_subdirectory(tests/double)
    add_subdirectory(tests/win32)
    add_subdirectory(tests/soak)
    add_subdirectory(tests/odbc)
    add_subdirectory(bench)
endif()

include(cmake/packaging.cmake)
