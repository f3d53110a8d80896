# The registration file of libkvext's OID functions, made from the one table that
# `kvext register` reads too (tools/kvext/registrations.txt): one line per function set and
# OID, as libkvcapi reads and writes them, under the encoding type 1 (ASN.1).
set(KV_REGISTRATION_TABLE ${PROJECT_SOURCE_DIR}/tools/kvext/registrations.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KV_REGISTRATION_TABLE})

# kv_registration_file(<out-var> <library path>): the file's text for the library at that path.
function(kv_registration_file out library)
    set(text "# OID functions: <function set> <encoding type> <OID or #type> <library> <entry point>\n")
    file(STRINGS ${KV_REGISTRATION_TABLE} rows REGEX "^[^#]")
    foreach(row IN LISTS rows)
        string(REGEX REPLACE "[ \t]+" ";" fields "${row}")
        list(GET fields 0 set)
        list(GET fields 1 entry)
        list(GET fields 2 oids)
        string(REPLACE "," ";" oids "${oids}")
        foreach(oid IN LISTS oids)
            string(APPEND text "${set} 1 ${oid} ${library} ${entry}\n")
        endforeach()
    endforeach()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Installed: the library at its installed path, the file at the location libkvcapi looks at
# by default.
set(KV_INSTALLED_LIBRARY "${CMAKE_INSTALL_FULL_LIBDIR}/libkvext.so.${PROJECT_VERSION_MAJOR}")
kv_registration_file(installed "${KV_INSTALLED_LIBRARY}")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/oidfunc.conf CONTENT "${installed}")
# Relative when it lies under the prefix (so `cmake --install --prefix` never writes outside
# it), absolute otherwise (/etc for the prefix /usr).
string(FIND "${CMAKE_INSTALL_FULL_SYSCONFDIR}/" "${CMAKE_INSTALL_PREFIX}/" at)
if(at EQUAL 0)
    set(KV_REGISTRATION_DIR ${CMAKE_INSTALL_SYSCONFDIR}/kvext)
else()
    set(KV_REGISTRATION_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/kvext)
endif()
install(FILES ${PROJECT_BINARY_DIR}/oidfunc.conf DESTINATION ${KV_REGISTRATION_DIR}
        COMPONENT runtime)

# For developers: the same registrations for the library in this build tree, to be used with
# KV_OIDFUNC_REGISTRY=<build>/oidfunc-build.conf.
kv_registration_file(built "$<TARGET_FILE_DIR:kvext>/$<TARGET_SONAME_FILE_NAME:kvext>")
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/oidfunc-build.conf CONTENT "${built}")
