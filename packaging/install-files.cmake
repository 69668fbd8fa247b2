# Run by cmake --install: writes the systemd unit and the example files with the paths of
# this installation, and makes the empty plug-in folder.
function(tn_full out path)
  if(IS_ABSOLUTE "${path}")
    set(${out} "${path}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${path}" PARENT_SCOPE)
  endif()
endfunction()
tn_full(TRAWLNEST_FULL_DEPLOYDIR "${TRAWLNEST_DEPLOYDIR}")
tn_full(TRAWLNEST_FULL_BINDIR "${TRAWLNEST_BINDIR}")
tn_full(TRAWLNEST_FULL_DATADIR "${TRAWLNEST_DATADIR}")
set(TRAWLNEST_ENV_STORE "${TRAWLNEST_SYSCONFDIR}/lumbrake/trawlnest/environment")
set(TRAWLNEST_CONF_FILE "${TRAWLNEST_SYSCONFDIR}/lumbrake/trawlnest/trawlnest.conf")

configure_file("${TRAWLNEST_SOURCE_DIR}/trawlnest.conf.in" "${TRAWLNEST_WORK_DIR}/trawlnest.conf" @ONLY)
configure_file("${TRAWLNEST_SOURCE_DIR}/environment.in" "${TRAWLNEST_WORK_DIR}/environment" @ONLY)
file(READ "${TRAWLNEST_SOURCE_DIR}/trawlnest.service" unit)
string(REPLACE "\"/usr/bin/trawlnestd\"" "\"${TRAWLNEST_FULL_BINDIR}/trawlnestd\"" unit "${unit}")
file(WRITE "${TRAWLNEST_WORK_DIR}/trawlnest.service" "${unit}")

file(INSTALL "${TRAWLNEST_WORK_DIR}/trawlnest.service"
  DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
file(INSTALL "${TRAWLNEST_WORK_DIR}/trawlnest.conf" "${TRAWLNEST_WORK_DIR}/environment"
  DESTINATION "${TRAWLNEST_FULL_DATADIR}/trawlnest/examples")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${TRAWLNEST_FULL_DEPLOYDIR}/plugins")
