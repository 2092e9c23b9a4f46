# Installs the build into a fresh prefix and checks that everything the panel agent needs
# is in place and names the installed binary.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(binary "${PREFIX}/bin/brimwell-ticker")
foreach(path
        bin/brimwell-ticker
        libexec/brimwell-ticker/brimwell-ticker-panel
        share/icons/hicolor/scalable/apps/brimwell-ticker.svg
        share/icons/hicolor/22x22/apps/brimwell-ticker.png
        share/icons/hicolor/22x22/apps/brimwell-ticker-stale.png
        share/applications/org.brimwell.Ticker.desktop
        etc/xdg/autostart/org.brimwell.Ticker.desktop
        share/systemd/user/brimwell-ticker.service
        share/man/man1/brimwell-ticker.1
        share/bash-completion/completions/brimwell-ticker
        share/zsh/site-functions/_brimwell-ticker
        share/fish/vendor_completions.d/brimwell-ticker.fish
        share/metainfo/org.brimwell.Ticker.metainfo.xml)
    if(NOT EXISTS "${PREFIX}/${path}")
        message(FATAL_ERROR "not installed: ${path}")
    endif()
endforeach()

file(READ "${PREFIX}/share/systemd/user/brimwell-ticker.service" unit)
foreach(line "ExecStart=${binary}\n" "Restart=on-failure\n" "WantedBy=graphical-session.target\n"
        "After=graphical-session.target\n" "PartOf=graphical-session.target\n")
    string(FIND "${unit}" "${line}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "the unit lacks ${line}")
    endif()
endforeach()
foreach(entry share/applications/org.brimwell.Ticker.desktop
              etc/xdg/autostart/org.brimwell.Ticker.desktop)
    file(READ "${PREFIX}/${entry}" desktop)
    string(FIND "${desktop}" "Exec=${binary}\n" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "${entry} does not start ${binary}")
    endif()
endforeach()
execute_process(COMMAND "${binary}" --version OUTPUT_VARIABLE version RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT version MATCHES "^brimwell-ticker ")
    message(FATAL_ERROR "the installed binary does not run: ${result} ${version}")
endif()

# The GUI program draws and never asks a price service: it must not load the TLS stack.
file(GET_RUNTIME_DEPENDENCIES
     EXECUTABLES "${PREFIX}/libexec/brimwell-ticker/brimwell-ticker-panel"
     RESOLVED_DEPENDENCIES_VAR gui_libraries)
list(FILTER gui_libraries INCLUDE REGEX "/lib(curl|ssl|crypto)\\.")
if(gui_libraries)
    message(FATAL_ERROR "the GUI program loads ${gui_libraries}")
endif()
