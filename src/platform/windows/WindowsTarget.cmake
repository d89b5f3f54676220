# Windows-only target settings: a GUI-subsystem program whose embedded manifest asks for the invoking
# user's rights and common controls version 6.
function(vigilor_windows_target target)
    set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/vigilor.rc)
    if(MSVC)
        # The manifest comes from vigilor.rc; the linker must not add a second one.
        target_link_options(${target} PRIVATE /MANIFEST:NO)
    endif()
endfunction()
