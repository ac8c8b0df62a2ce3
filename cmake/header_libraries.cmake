# The header-only libraries from Debian packages: nlohmann-json (nlohmann-json3-dev), stb
# (libstb-dev) and CLI11 (libcli11-dev), one imported INTERFACE target each:
#   quillo::nlohmann_json   #include <nlohmann/json.hpp>
#   quillo::stb             #include <stb/stb_image_write.h>
#   quillo::cli11           #include <CLI/CLI.hpp>
#
# Debian installs them straight into /usr/include. The MinGW cross compiler must not see that
# folder: it holds the Linux C library's headers, which would shadow MinGW-w64's own. So each
# library gets a folder of its own in the build tree holding nothing but a link to the
# library's header folder, and its target points there. find_path would only hand back
# /usr/include itself, and the cross build's find root (/usr/x86_64-w64-mingw32) does not
# hold these packages at all. The native build uses the same folders, so both builds compile
# the very same headers. Imported targets make the folders system includes: the libraries'
# own code is not held to this project's warning options.
set(QUILLO_HEADER_LIBRARY_ROOT "/usr/include" CACHE PATH
    "Where the Debian packages nlohmann-json3-dev, libstb-dev and libcli11-dev put their headers")

function(quillo_header_library target folder probe package)
    set(source "${QUILLO_HEADER_LIBRARY_ROOT}/${folder}")
    if(NOT EXISTS "${source}/${probe}")
        message(FATAL_ERROR "${source}/${probe} is missing: install the Debian package ${package} "
                            "(scripts/install-deps.sh)")
    endif()
    set(include_dir "${PROJECT_BINARY_DIR}/header_libraries/${folder}")
    file(MAKE_DIRECTORY "${include_dir}")
    file(CREATE_LINK "${source}" "${include_dir}/${folder}" SYMBOLIC)
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${include_dir}")
endfunction()

quillo_header_library(quillo::nlohmann_json nlohmann json.hpp nlohmann-json3-dev)
quillo_header_library(quillo::stb stb stb_image_write.h libstb-dev)
quillo_header_library(quillo::cli11 CLI CLI.hpp libcli11-dev)
