# kef_install_configured(TEMPLATE DESTINATION [RENAME NAME])
#
# Installs TEMPLATE (a file ending in .in) into DESTINATION (relative to the
# prefix) after replacing @VAR@ references, at install time rather than at
# configure time: files that name installed paths (the systemd unit, the
# pkg-config file) must name the prefix actually installed into, and that is
# only known then (`cmake --install --prefix`, `make install PREFIX=...`, the
# Debian package's /usr). Besides the project's variables the template sees:
#   KEF_PREFIX      the install prefix
#   KEF_BINDIR      KEF_PREFIX/<bindir>
#   KEF_LIBDIR      KEF_PREFIX/<libdir>
#   KEF_INCLUDEDIR  KEF_PREFIX/<includedir>
#   KEF_DATADIR     KEF_PREFIX/<datadir>/kef
function(kef_install_configured template destination)
  cmake_parse_arguments(ARG "" "RENAME" "" ${ARGN})
  get_filename_component(name "${template}" NAME)
  string(REGEX REPLACE "\\.in$" "" name "${name}")
  if(ARG_RENAME)
    set(name "${ARG_RENAME}")
  endif()
  # Installs into different prefixes may run side by side (a test installs
  # into a scratch prefix while another packages): each prefix gets its own
  # staging file.
  set(stage_root "${CMAKE_CURRENT_BINARY_DIR}/install-configured")
  install(CODE "
    set(KEF_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(KEF_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(KEF_LIBDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}\")
    set(KEF_INCLUDEDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_INCLUDEDIR}\")
    set(KEF_DATADIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/kef\")
    set(PROJECT_VERSION \"${PROJECT_VERSION}\")
    string(MD5 kef_stage_key \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    set(kef_staged \"${stage_root}/\${kef_stage_key}/${name}\")
    configure_file(\"${template}\" \"\${kef_staged}\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${destination}\" TYPE FILE FILES \"\${kef_staged}\")
  ")
endfunction()
