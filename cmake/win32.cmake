# Windows tier: the DLL, its internal static library, and the Wine tests.
include(cmake/warnings.cmake)

set(QZ45_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)

# One object library feeds both the DLL and the static library the internal
# tests link against, so they test the very same code.
add_library(qz45_objects OBJECT ${QZ45_PORTABLE_SOURCES} ${QZ45_WIN32_SOURCES})
target_include_directories(qz45_objects PUBLIC include src)
target_compile_definitions(qz45_objects PUBLIC QZ45_BUILDING_LIBRARY WIN32_LEAN_AND_MEAN
                                               _WIN32_WINNT=0x0601)
qz45_warnings(qz45_objects)

set(QZ45_SYSTEM_LIBS ole32 oleaut32 uuid advapi32)

add_library(qz45alarmevent_api SHARED $<TARGET_OBJECTS:qz45_objects>
            ${CMAKE_SOURCE_DIR}/src/qz45alarmevent_api.def)
target_include_directories(qz45alarmevent_api INTERFACE include)
target_link_libraries(qz45alarmevent_api PRIVATE ${QZ45_SYSTEM_LIBS})
set_target_properties(qz45alarmevent_api PROPERTIES PREFIX "" IMPORT_PREFIX "lib")

add_library(qz45_static STATIC $<TARGET_OBJECTS:qz45_objects>)
target_include_directories(qz45_static PUBLIC include src)
target_compile_definitions(qz45_static PUBLIC QZ45_BUILDING_LIBRARY WIN32_LEAN_AND_MEAN
                                              _WIN32_WINNT=0x0601)
target_link_libraries(qz45_static PUBLIC ${QZ45_SYSTEM_LIBS})

add_subdirectory(services/common)

if(QZ45_BUILD_TESTS)
    add_subdirectory(tests/double)
    add_subdirectory(tests/win32)
endif()
