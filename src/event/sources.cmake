list(APPEND QZ45_PORTABLE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/event_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/event_types.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ole_date.cpp
    ${CMAKE_CURRENT_LIST_DIR}/population.cpp
    ${CMAKE_CURRENT_LIST_DIR}/value_decoding.cpp
)
