list(APPEND QZ45_PORTABLE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/event_completion.cpp
    ${CMAKE_CURRENT_LIST_DIR}/delivery_report.cpp
)
list(APPEND QZ45_WIN32_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/value_conversion.cpp
    ${CMAKE_CURRENT_LIST_DIR}/submission.cpp
    ${CMAKE_CURRENT_LIST_DIR}/complete_and_route.cpp
    ${CMAKE_CURRENT_LIST_DIR}/send_entry.cpp
)
