# What a Windows program of ours carries: the oldest Windows it runs on (stated here only),
# version information and a manifest.

# Windows 7: what the programs import needs Vista (GetFinalPathNameByHandleW, CancelIoEx,
# SHGetKnownFolderPath, ...), and listing a folder asks FindFirstFileExW for FindExInfoBasic
# with FIND_FIRST_EX_LARGE_FETCH, which Vista refuses.
set(OSTRAPEL_WINDOWS_MINIMUM_NAME "Windows 7")
set(OSTRAPEL_WINDOWS_MINIMUM_MAJOR 6)
set(OSTRAPEL_WINDOWS_MINIMUM_MINOR 1)

# The manifest's supportedOS entries: the minimum and every later system.
set(OSTRAPEL_SUPPORTED_OS "")
foreach(entry "6.1;35138b9a-5d96-4fbd-8e2d-a2440225f93a;Windows 7"
              "6.2;4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38;Windows 8"
              "6.3;1f676c76-80e1-4239-95bb-83d0f6d0da78;Windows 8.1"
              "10.0;8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a;Windows 10 and 11")
    list(GET entry 0 system)
    list(GET entry 1 id)
    list(GET entry 2 name)
    if(NOT system VERSION_LESS "${OSTRAPEL_WINDOWS_MINIMUM_MAJOR}.${OSTRAPEL_WINDOWS_MINIMUM_MINOR}")
        string(APPEND OSTRAPEL_SUPPORTED_OS
               "      <supportedOS Id=\"{${id}}\"/><!-- ${name} -->\n")
    endif()
endforeach()
string(STRIP "${OSTRAPEL_SUPPORTED_OS}" OSTRAPEL_SUPPORTED_OS)
set(OSTRAPEL_FILE_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")

# The manifest source with its version and supportedOS entries filled in, as NAME.manifest in
# the current build folder (for a resource script to name).
function(ostrapel_windows_manifest source name)
    configure_file(${source} ${CMAKE_CURRENT_BINARY_DIR}/${name}.manifest @ONLY)
endfunction()

# Gives a program its version information and the subsystem version of the minimum Windows.
function(ostrapel_windows_program target description)
    set(OSTRAPEL_FILE_DESCRIPTION "${description}")
    get_target_property(output_name ${target} OUTPUT_NAME)
    if(NOT output_name)
        set(output_name ${target})
    endif()
    set(OSTRAPEL_ORIGINAL_FILENAME "${output_name}.exe")
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${script} @ONLY)
    target_sources(${target} PRIVATE ${script})
    set(major ${OSTRAPEL_WINDOWS_MINIMUM_MAJOR})
    set(minor ${OSTRAPEL_WINDOWS_MINIMUM_MINOR})
    target_link_options(${target} PRIVATE
        -Wl,--major-subsystem-version,${major},--minor-subsystem-version,${minor}
        -Wl,--major-os-version,${major},--minor-os-version,${minor})
endfunction()
