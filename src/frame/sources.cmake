list(APPEND QZ45_WIN32_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/connection_set.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dll_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/library_state.cpp
    ${CMAKE_CURRENT_LIST_DIR}/lifecycle.cpp
    ${CMAKE_CURRENT_LIST_DIR}/service_guard.cpp
)
# The guard's structured-exception frame is built per architecture.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    list(APPEND QZ45_WIN32_SOURCES ${CMAKE_CURRENT_LIST_DIR}/service_guard_x64.cpp)
else()
    list(APPEND QZ45_WIN32_SOURCES ${CMAKE_CURRENT_LIST_DIR}/service_guard_i686.cpp)
endif()
