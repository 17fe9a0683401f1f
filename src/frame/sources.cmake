list(APPEND QZ45_WIN32_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/connection_set.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dll_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/library_state.cpp
    ${CMAKE_CURRENT_LIST_DIR}/lifecycle.cpp
    ${CMAKE_CURRENT_LIST_DIR}/service_guard.cpp
)
