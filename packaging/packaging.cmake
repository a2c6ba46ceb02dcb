# The Debian package, `make deb` (cpack -G DEB in the build folder). It installs
# what the install rules install, under /usr, with the binaries stripped. Its
# library dependencies come from dpkg-shlibdeps; the Python modules robosim and
# robosim-sweep import are declared by hand. Menus, the MIME database and the
# icon cache are refreshed by Debian's own triggers, so the package needs no
# maintainer scripts.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME robot-simulator)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Robot Simulator developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "simulator of a small mobile robot that plans its way to a target")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "One small mobile robot in a flat, walled 10 x 10 world: it senses the walls\n"
  "with six touch probes and six vision rays, records impacts, plans a path over\n"
  "a wavefront grid and steers along a potential field to its target.\n"
  "\n"
  "The package holds the Qt window robot-simulator, the batch runner\n"
  "robot-simulator-headless (traces, pictures, animated GIFs, JSON summaries),\n"
  "the Python module robosim and the parameter-sweep tool robosim-sweep on\n"
  "dask.distributed, with example worlds and occupancy maps.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
  "Robot Simulator maintainers <maintainers@users.noreply.c-seed-58eaf18c.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The extension is built for this Python's minor version.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
math(EXPR next_minor "${Python3_VERSION_MINOR} + 1")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~)")
string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
  ", python3 (<< ${Python3_VERSION_MAJOR}.${next_minor}), python3-numpy")
string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
  ", python3-distributed, python3-matplotlib, python3-scipy, python3-tqdm")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# Installing with DESTDIR keeps CMAKE_INSTALL_PREFIX at /usr while the install
# rules run, which the prefix-dependent ones (the Python package) need.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/deb)
include(CPack)
