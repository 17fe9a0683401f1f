# Host tier: the platform-free code, built natively with the sanitizers.
include(cmake/warnings.cmake)

add_library(qz45_portable STATIC ${QZ45_PORTABLE_SOURCES})
target_include_directories(qz45_portable PUBLIC include src)
qz45_warnings(qz45_portable)

add_subdirectory(trail)
add_subdirectory(tools/qz45event)
add_subdirectory(tools/qz45trail)

if(QZ45_BUILD_TESTS)
    add_subdirectory(tests/host)
endif()
if(QZ45_FUZZ)
    add_subdirectory(tests/fuzz)
endif()
