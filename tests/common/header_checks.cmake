# The public header at each language level it claims, -pedantic with every
# warning an error; a header that does not compile so fails the build.
foreach(level 90 99 11)
    add_library(header_check_c${level} OBJECT ${CMAKE_CURRENT_LIST_DIR}/header_check.c)
    set_target_properties(header_check_c${level} PROPERTIES C_STANDARD ${level}
                          C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
endforeach()
foreach(level 98 11)
    add_library(header_check_cxx${level} OBJECT ${CMAKE_CURRENT_LIST_DIR}/header_check.cpp)
    set_target_properties(header_check_cxx${level} PROPERTIES CXX_STANDARD ${level}
                          CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
endforeach()
foreach(t header_check_c90 header_check_c99 header_check_c11 header_check_cxx98 header_check_cxx11)
    target_include_directories(${t} PRIVATE ${CMAKE_SOURCE_DIR}/include)
    target_compile_options(${t} PRIVATE -Wall -Wextra -pedantic-errors -Werror)
endforeach()
