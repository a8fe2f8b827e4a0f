# Installing Vantor the way a Debian system expects it, and the .deb that CPack makes of that:
# the programs, the srvsvc helper and the help page, the desktop launcher, icons and AppStream
# data, the systemd unit, the man pages, a commented sample configuration.
include(GNUInstallDirs)

set(VANTOR_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(VANTOR_SERVICE_DIR ${PROJECT_SOURCE_DIR}/src/service)
set(VANTOR_GENERATED_DIR ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${VANTOR_GENERATED_DIR})

# The unit names the program where it is installed, and the configuration lies in /etc for a
# system install (/usr) or under the prefix otherwise: both known only when installing (CPack
# installs under /usr whatever the build was configured with).
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  file(READ \"${VANTOR_SERVICE_DIR}/vantord.service\" unit)
  string(REPLACE \"/usr/sbin/vantord\" \"\${prefix}/sbin/vantord\" unit \"\${unit}\")
  file(WRITE \"${VANTOR_GENERATED_DIR}/unit/vantord.service\" \"\${unit}\")
  file(INSTALL \"${VANTOR_GENERATED_DIR}/unit/vantord.service\" DESTINATION \"\${prefix}/lib/systemd/system\")
  if(prefix STREQUAL \"/usr\")
    set(etc /etc)
  else()
    set(etc \"\${prefix}/etc\")
  endif()
  file(INSTALL \"${VANTOR_SERVICE_DIR}/vantor.conf\" DESTINATION \"\${etc}/vantor\")
")

# vantord's face on the system bus: who may own and call its name, and the polkit actions every
# call is checked against (with a commented rule that lets a group in), and the interface itself as
# documented introspection data, where D-Bus tools look for it. No activation file: any
# caller on the bus, polkit's refusal notwithstanding, could start a stopped service through it.
install(FILES ${VANTOR_PACKAGING_DIR}/dbus/org.vantor.Monitor1.conf DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/system.d)
install(FILES ${VANTOR_PACKAGING_DIR}/dbus/org.vantor.Monitor1.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/interfaces)
install(FILES ${VANTOR_PACKAGING_DIR}/polkit/org.vantor.monitor.policy DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)
install(FILES ${VANTOR_PACKAGING_DIR}/polkit/49-vantor.rules.example DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vantor)

# Man pages and the changelog go compressed, reproducibly (no name, no time in the gzip header).
find_program(GZIP_PROGRAM gzip REQUIRED)
set(compressed)
foreach(pair "vantord.8:${VANTOR_SERVICE_DIR}/vantord.8" "vantor-console.1:${VANTOR_SERVICE_DIR}/vantor-console.1"
             "vantor.1:${VANTOR_PACKAGING_DIR}/vantor.1" "vantor-poll.1:${VANTOR_PACKAGING_DIR}/vantor-poll.1"
             "changelog:${VANTOR_PACKAGING_DIR}/changelog")
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 name)
  list(GET pair 1 source)
  add_custom_command(OUTPUT ${VANTOR_GENERATED_DIR}/${name}.gz
    COMMAND ${GZIP_PROGRAM} -9nc ${source} > ${VANTOR_GENERATED_DIR}/${name}.gz
    DEPENDS ${source} VERBATIM)
  list(APPEND compressed ${VANTOR_GENERATED_DIR}/${name}.gz)
endforeach()
add_custom_target(vantor_compressed_docs ALL DEPENDS ${compressed})
install(FILES ${VANTOR_GENERATED_DIR}/vantord.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${VANTOR_GENERATED_DIR}/vantor-console.1.gz ${VANTOR_GENERATED_DIR}/vantor-poll.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(VANTOR_BUILD_GUI)
  install(FILES ${VANTOR_GENERATED_DIR}/vantor.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${VANTOR_GENERATED_DIR}/changelog.gz ${VANTOR_PACKAGING_DIR}/copyright
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantor)
# For the administrator's own monitoring: a Grafana dashboard and Prometheus alert rules.
install(FILES ${PROJECT_SOURCE_DIR}/contrib/grafana/vantor.json ${PROJECT_SOURCE_DIR}/contrib/prometheus/vantor.rules.yml
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantor/examples)

if(VANTOR_BUILD_GUI)
  install(FILES ${VANTOR_PACKAGING_DIR}/vantor.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${VANTOR_PACKAGING_DIR}/org.vantor.Vantor.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${PROJECT_SOURCE_DIR}/src/app/icons/vantor.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  add_executable(vantor-render-icon ${PROJECT_SOURCE_DIR}/src/app/render_icon.cpp)
  target_link_libraries(vantor-render-icon PRIVATE vantor_common Qt6::Gui Qt6::Svg)
  add_custom_command(OUTPUT ${VANTOR_GENERATED_DIR}/vantor.png
    COMMAND vantor-render-icon ${PROJECT_SOURCE_DIR}/src/app/icons/vantor.svg ${VANTOR_GENERATED_DIR}/vantor.png 48
    DEPENDS vantor-render-icon ${PROJECT_SOURCE_DIR}/src/app/icons/vantor.svg VERBATIM)
  add_custom_target(vantor_png_icon ALL DEPENDS ${VANTOR_GENERATED_DIR}/vantor.png)
  install(FILES ${VANTOR_GENERATED_DIR}/vantor.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps)
endif()

# --- the .deb ------------------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vantor Developer <dev@vantor.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor and police the sessions on Samba shares")
set(CPACK_PACKAGE_DESCRIPTION "Vantor shows who is connected to this computer's Samba shares and which files
they hold open, closes the sessions its black or white list condemns, mails
the administrator about new users and once a day, and keeps a history with a
web-based report. The vantord service does this on a headless file server;
the vantor window does it on a desktop; vantor-console works either over the
network.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# smbstatus, smbcontrol and pdbedit are the service's eyes and hands; the srvsvc helper (remote
# servers, closing one file) speaks through Samba's Python bindings.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "samba")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3, python3-samba, smbclient, polkitd, dbus")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
file(WRITE ${VANTOR_GENERATED_DIR}/conffiles "/etc/vantor/vantor.conf\n")
# The maintainer scripts are those debhelper's dh_installsystemd --no-enable would write, by hand
# as the package is built without debhelper: stopped on remove, cleaned up on purge.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${VANTOR_GENERATED_DIR}/conffiles ${VANTOR_PACKAGING_DIR}/maintainer/postinst
  ${VANTOR_PACKAGING_DIR}/maintainer/prerm ${VANTOR_PACKAGING_DIR}/maintainer/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
