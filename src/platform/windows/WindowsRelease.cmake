# The Windows release: `cmake --install` puts the program, the DLLs it imports (found by CMake from
# the PE import tables), the Qt plugins it loads, the examiner's README.txt and the licences into one
# folder vigilor-<version>/, signs the program when a certificate is given, and CPack zips that folder
# into vigilor-<version>-win64.zip.

set(VIGILOR_RELEASE_FOLDER "vigilor-${PROJECT_VERSION}")

install(TARGETS vigilor RUNTIME DESTINATION ${VIGILOR_RELEASE_FOLDER})

# The plugins the program loads, and nothing else: the platform, SVG and ICO images, SVG icons and the
# native style. It reads no database through Qt, so no SQL driver.
set(VIGILOR_QT_PLUGINS
    platforms Qt5::QWindowsIntegrationPlugin
    imageformats Qt5::QSvgPlugin
    imageformats Qt5::QICOPlugin
    iconengines Qt5::QSvgIconPlugin
    styles Qt5::QWindowsVistaStylePlugin)
set(plugin_files "")
while(VIGILOR_QT_PLUGINS)
    list(POP_FRONT VIGILOR_QT_PLUGINS folder plugin)
    install(FILES $<TARGET_FILE:${plugin}> DESTINATION ${VIGILOR_RELEASE_FOLDER}/${folder})
    list(APPEND plugin_files "$<TARGET_FILE:${plugin}>")
endwhile()

# The DLLs come from the Qt toolchain's own bin folder, which holds Qt, OpenSSL and the compiler's
# run-time libraries; what is not found there is a DLL of Windows itself.
get_target_property(qt_core Qt5::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(VIGILOR_DLL_FOLDER "${qt_core}" DIRECTORY)
# CMake looks DLLs up by their names in lower case, as Windows compares them; on a build machine
# that tells the case, a folder of lower-case links to them stands between.
set(VIGILOR_DLL_NAMES "${CMAKE_BINARY_DIR}/dll-names")
file(GLOB toolchain_dlls "${VIGILOR_DLL_FOLDER}/*.dll")
file(MAKE_DIRECTORY "${VIGILOR_DLL_NAMES}")
foreach(dll IN LISTS toolchain_dlls)
    get_filename_component(name "${dll}" NAME)
    string(TOLOWER "${name}" lower)
    file(CREATE_LINK "${dll}" "${VIGILOR_DLL_NAMES}/${lower}" SYMBOLIC)
endforeach()
find_program(VIGILOR_OBJDUMP NAMES ${CMAKE_OBJDUMP} x86_64-w64-mingw32-objdump objdump REQUIRED)
find_program(VIGILOR_STRIP NAMES ${CMAKE_STRIP} x86_64-w64-mingw32-strip strip REQUIRED)
set(VIGILOR_SYSTEM_DLLS
    advapi32 bcrypt comdlg32 crypt32 d3d11 d3d9 dwmapi dwrite dxgi gdi32 imm32 iphlpapi kernel32 mpr msvcrt
    netapi32 ntdll ole32 oleaut32 opengl32 rpcrt4 secur32 setupapi shell32 shlwapi user32 userenv uxtheme
    version winmm winspool ws2_32 wtsapi32 dnsapi psapi wintrust)
# The list is handed to the install script as a variable of its own (a list inside a quoted CODE
# block would need escaping of its separators).
install(CODE "set(VIGILOR_SYSTEM_DLLS_AT_INSTALL ${VIGILOR_SYSTEM_DLLS})" )
install(CODE "
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND \"${VIGILOR_OBJDUMP}\")
    file(GET_RUNTIME_DEPENDENCIES
        EXECUTABLES \"$<TARGET_FILE:vigilor>\"
        MODULES ${plugin_files}
        DIRECTORIES \"${VIGILOR_DLL_NAMES}\"
        PRE_EXCLUDE_REGEXES \"^api-ms-\" \"^ext-ms-\"
        RESOLVED_DEPENDENCIES_VAR resolved
        UNRESOLVED_DEPENDENCIES_VAR unresolved)
    foreach(name IN LISTS unresolved)
        string(TOLOWER \"\${name}\" lower)
        string(REGEX REPLACE \"\\\\.dll$\" \"\" lower \"\${lower}\")
        list(FIND VIGILOR_SYSTEM_DLLS_AT_INSTALL \"\${lower}\" known)
        if(known EQUAL -1)
            message(FATAL_ERROR \"\${name} is imported but is neither in ${VIGILOR_DLL_FOLDER} nor a DLL of Windows\")
        endif()
    endforeach()
    list(SORT resolved)
    foreach(link IN LISTS resolved)
        file(REAL_PATH \"\${link}\" dll)
        file(INSTALL \"\${dll}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${VIGILOR_RELEASE_FOLDER}\")
    endforeach()
    # The compiler's run-time libraries come with their symbols, which nothing here needs.
    foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll)
        set(copy \"\${CMAKE_INSTALL_PREFIX}/${VIGILOR_RELEASE_FOLDER}/\${runtime}\")
        if(EXISTS \"\${copy}\")
            execute_process(COMMAND \"${VIGILOR_STRIP}\" --strip-unneeded \"\${copy}\" COMMAND_ERROR_IS_FATAL ANY)
        endif()
    endforeach()
" )

# What the examiner reads, and the notices the libraries' licences ask for.
get_filename_component(VIGILOR_TOOLCHAIN_PREFIX "${VIGILOR_DLL_FOLDER}" DIRECTORY)
set(VIGILOR_LICENSES "${VIGILOR_TOOLCHAIN_PREFIX}/share/licenses")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/release/README.txt DESTINATION ${VIGILOR_RELEASE_FOLDER})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${VIGILOR_RELEASE_FOLDER}/licenses RENAME vigilor.txt)
install(FILES ${VIGILOR_LICENSES}/common/LGPL-3 DESTINATION ${VIGILOR_RELEASE_FOLDER}/licenses RENAME Qt-LGPL-3.0.txt)
install(FILES ${VIGILOR_LICENSES}/common/GPL-3 DESTINATION ${VIGILOR_RELEASE_FOLDER}/licenses RENAME GPL-3.0.txt)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/release/Qt-source-offer.txt DESTINATION ${VIGILOR_RELEASE_FOLDER}/licenses)
foreach(component qtbase qtsvg openssl sqlite gcc-runtime mingw-w64)
    install(FILES ${VIGILOR_LICENSES}/${component}/copyright DESTINATION ${VIGILOR_RELEASE_FOLDER}/licenses
            RENAME ${component}.txt)
endforeach()
install(FILES ${VIGILOR_LICENSES}/yara/COPYING DESTINATION ${VIGILOR_RELEASE_FOLDER}/licenses RENAME yara.txt)

# Signed before the archive is made, so that the checksum covers the signed program. The certificate,
# key and passphrase file come from the environment of the install (or of CPack); without them the
# program stays unsigned. No time-stamp unless VIGILOR_SIGN_TIMESTAMP_URL names one; the signing time
# is SOURCE_DATE_EPOCH, so that the same certificate gives the same bytes.
find_program(VIGILOR_OSSLSIGNCODE osslsigncode)
install(CODE "
    if(DEFINED ENV{VIGILOR_SIGN_CERT} OR DEFINED ENV{VIGILOR_SIGN_KEY})
        if(NOT EXISTS \"${VIGILOR_OSSLSIGNCODE}\" OR NOT EXISTS \"\$ENV{VIGILOR_SIGN_CERT}\" OR NOT EXISTS \"\$ENV{VIGILOR_SIGN_KEY}\")
            message(FATAL_ERROR \"signing needs osslsigncode and both VIGILOR_SIGN_CERT and VIGILOR_SIGN_KEY\")
        endif()
        set(options -certs \"\$ENV{VIGILOR_SIGN_CERT}\" -key \"\$ENV{VIGILOR_SIGN_KEY}\" -h sha256 -n \"CS:GO Vigilor\")
        if(DEFINED ENV{VIGILOR_SIGN_PASS_FILE})
            list(APPEND options -readpass \"\$ENV{VIGILOR_SIGN_PASS_FILE}\")
        endif()
        if(DEFINED ENV{VIGILOR_SIGN_TIMESTAMP_URL})
            list(APPEND options -ts \"\$ENV{VIGILOR_SIGN_TIMESTAMP_URL}\")
        endif()
        if(DEFINED ENV{SOURCE_DATE_EPOCH})
            list(APPEND options -time \"\$ENV{SOURCE_DATE_EPOCH}\")
        endif()
        set(program \"\${CMAKE_INSTALL_PREFIX}/${VIGILOR_RELEASE_FOLDER}/vigilor.exe\")
        execute_process(COMMAND \"${VIGILOR_OSSLSIGNCODE}\" sign \${options} -in \"\${program}\" -out \"\${program}.signed\"
                        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
        file(RENAME \"\${program}.signed\" \"\${program}\")
        message(STATUS \"Signed: \${program}\")
    endif()
")

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME vigilor)
set(CPACK_PACKAGE_VENDOR "CS:GO Vigilor")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME "vigilor-${PROJECT_VERSION}-win64")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES OFF)
# Sorted entries and the commit's times, so that two builds give the same archive.
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/ReproducibleArchive.cmake)
include(CPack)
