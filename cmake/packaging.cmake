# Install tree and release archive of one tier: the DLL, both headers, an
# import library for mingw-w64 and one for MSVC, a CMake package, the two
# commands, the reference audit service, an example caller, the plant
# database's SQL set-up and a text on setting them up.
# `cmake --install <build> --prefix <dir>` lays out the tree; `cpack` in the
# build folder zips it as qz45alarmevent_api-<version>-<tier>.zip.
include(CMakePackageConfigHelpers)

if(QZ45_TIER STREQUAL "win64")
    set(QZ45_ARCH_TEXT "64-bit (x86-64)")
    set(QZ45_BITS 64)
    # The name the PostgreSQL ODBC driver of this bitness registers under.
    set(QZ45_ODBC_DRIVER "PostgreSQL Unicode(x64)")
else()
    set(QZ45_ARCH_TEXT "32-bit (i686)")
    set(QZ45_BITS 32)
    set(QZ45_ODBC_DRIVER "PostgreSQL Unicode")
endif()

# MSVC links against an import library made from the same export list, in
# the short import format MSVC's own tools write. LLVM's dlltool writes it;
# the binutils one writes objects without the SEH-safe mark, which an i686
# link with /SAFESEH (MSVC's default for x86 projects) refuses.
find_program(QZ45_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 PATHS /usr/lib/llvm-14/bin)
if(NOT QZ45_LLVM_DLLTOOL)
    message(FATAL_ERROR "llvm-dlltool not found (Debian package llvm-14); it makes the MSVC "
                        "import library qz45alarmevent_api.lib")
endif()
set(QZ45_MSVC_IMPLIB ${CMAKE_BINARY_DIR}/lib/qz45alarmevent_api.lib)
add_custom_command(
    OUTPUT ${QZ45_MSVC_IMPLIB}
    COMMAND ${QZ45_LLVM_DLLTOOL} -m ${QZ45_DLLTOOL_MACHINE} -d ${CMAKE_SOURCE_DIR}/src/qz45alarmevent_api.def
            -D qz45alarmevent_api.dll -l ${QZ45_MSVC_IMPLIB}
    DEPENDS ${CMAKE_SOURCE_DIR}/src/qz45alarmevent_api.def)
add_custom_target(qz45_msvc_implib ALL DEPENDS ${QZ45_MSVC_IMPLIB})

set(QZ45_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qz45alarmevent_api)
install(TARGETS qz45alarmevent_api EXPORT qz45alarmevent_apiTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/qz45alarmevent_api.h
              ${CMAKE_SOURCE_DIR}/include/qz45audit_service.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${QZ45_MSVC_IMPLIB} DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT qz45alarmevent_apiTargets NAMESPACE qz45alarmevent_api::
        DESTINATION ${QZ45_PACKAGE_DIR})

# The package accepts any consumer by version alone; its config file then
# turns away a consumer of the other architecture with a message that says so.
configure_package_config_file(cmake/qz45alarmevent_apiConfig.cmake.in
    ${CMAKE_BINARY_DIR}/qz45alarmevent_apiConfig.cmake
    INSTALL_DESTINATION ${QZ45_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/qz45alarmevent_apiConfigVersion.cmake
    COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_BINARY_DIR}/qz45alarmevent_apiConfig.cmake
              ${CMAKE_BINARY_DIR}/qz45alarmevent_apiConfigVersion.cmake
        DESTINATION ${QZ45_PACKAGE_DIR})

# The example caller, to be built against the unpacked archive.
install(FILES ${CMAKE_SOURCE_DIR}/examples/consumer/CMakeLists.txt
              ${CMAKE_SOURCE_DIR}/examples/consumer/main.c
        DESTINATION examples/consumer)

configure_file(packaging/README.txt.in ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
# The plant database's set-up, for psql (README.txt says how).
install(FILES packaging/audit_trail_setup.sql packaging/audit_trail_upgrade.sql packaging/audit_trail_company.sql
        DESTINATION ${CMAKE_INSTALL_DATADIR}/qz45)
# The unattended shipper as a scheduled task, for schtasks /XML.
install(FILES packaging/shipper-task.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/qz45)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME qz45alarmevent_api)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME qz45alarmevent_api-${PROJECT_VERSION}-${QZ45_TIER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Audit-trail events to the audit service, ${QZ45_ARCH_TEXT}")
include(CPack)
