# CPack runs this after its ZIP generator, so that two builds of one commit give the same archive.
# CPack adds the entries in the order the file system lists them (on ext4, the order of a hash seeded
# per file system) and with their build times, atime and ctime included: the archive is written again
# by Info-ZIP's zip with its files in sorted order, each dated SOURCE_DATE_EPOCH (the commit's time),
# and no extra attributes (-X: no owners, no Unix times).

find_program(zip_program zip REQUIRED)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    set(work "${package}.entries")
    file(REMOVE_RECURSE "${work}")
    file(MAKE_DIRECTORY "${work}")
    execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xf "${package}" WORKING_DIRECTORY "${work}"
                    COMMAND_ERROR_IS_FATAL ANY)
    file(GLOB_RECURSE entries RELATIVE "${work}" "${work}/*")
    list(SORT entries)
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
        execute_process(COMMAND touch -d "@$ENV{SOURCE_DATE_EPOCH}" ${entries} WORKING_DIRECTORY "${work}"
                        COMMAND_ERROR_IS_FATAL ANY)
    endif()
    string(REPLACE ";" "\n" listing "${entries}")
    file(WRITE "${work}.list" "${listing}\n")
    file(REMOVE "${package}")
    execute_process(COMMAND "${CMAKE_COMMAND}" -E env TZ=UTC "${zip_program}" -X -D -q -9 "${package}" -@
                    INPUT_FILE "${work}.list" WORKING_DIRECTORY "${work}" COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE "${work}" "${work}.list")
endforeach()
