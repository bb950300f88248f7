# Installation (cmake --install) and the Debian package (cpack -G DEB) of what
# ships: the ostrand command, the module in lib/ostrand/ (where the command
# looks for it first, cli/installed_files.h), the Python package, the bundled
# example and the documentation. Tests, benchmarks and the host stand-in's
# other programs stay in the build tree. Included at the end of the top-level
# CMakeLists.txt, once every target is known.

# The module. The Windows build ships it alone (without its import library).
if(WIN32)
  install(FILES $<TARGET_FILE:Ostrand64> DESTINATION lib/ostrand)
else()
  install(TARGETS Ostrand64 LIBRARY DESTINATION lib/ostrand)
endif()

install(DIRECTORY examples/ DESTINATION share/ostrand/examples PATTERN __pycache__ EXCLUDE)
install(FILES README.md DESTINATION share/doc/ostrand)
if(EXISTS ${PROJECT_SOURCE_DIR}/docs)
  install(DIRECTORY docs/ DESTINATION share/doc/ostrand)
endif()

if(TARGET ostrand)
  install(TARGETS ostrand RUNTIME DESTINATION bin)
endif()

# The Python package folder goes into the site-packages folder of the prefix
# it is installed under, chosen when it is installed (cmake --install
# --prefix names the prefix then): lib/python3/dist-packages for /usr (Debian's
# python3 reads it), lib/python3.X/dist-packages for /usr/local (Debian's
# python3 reads that too), lib/python3.X/site-packages for any other prefix
# (a virtual environment's layout; else name it in PYTHONPATH).
set(OSTRAND_INSTALL_PYTHONDIR "" CACHE STRING
  "Folder under the install prefix for the Python package; empty: by the prefix (/usr: lib/python3/dist-packages, /usr/local: lib/python3.X/dist-packages, any other: lib/python3.X/site-packages)")
if(TARGET ostrand_python)
  if(NOT OSTRAND_PYTHON_PACKAGE_DIR)
    set(OSTRAND_PYTHON_PACKAGE_DIR ${CMAKE_BINARY_DIR}/python/ostrand)
  endif()
  install(CODE "set(OSTRAND_PYTHON_PACKAGE_DIR \"${OSTRAND_PYTHON_PACKAGE_DIR}\")
set(OSTRAND_INSTALL_PYTHONDIR \"${OSTRAND_INSTALL_PYTHONDIR}\")
set(OSTRAND_PYTHON_VERSION \"${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}\")
set(OSTRAND_STRIP \"${CMAKE_STRIP}\")")
  install(SCRIPT cmake/install-python-package.cmake)
endif()

# The Debian package: everything above under /usr. The installation runs with
# the prefix /usr itself (into a staging folder through DESTDIR), so that the
# Python package lands where Debian's python3 looks.
if(TARGET ostrand AND NOT WIN32)
  set(OSTRAND_PACKAGE_MAINTAINER "Ostrand developers <ostrand@example.org>" CACHE STRING
    "The Debian package's maintainer, as \"Name <address>\"")
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME ostrand)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_CONTACT "${OSTRAND_PACKAGE_MAINTAINER}")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cage deformer: binds a mesh to a cage and deforms it with posed cages")
  set(CPACK_PACKAGE_DESCRIPTION
    "The libOstrand64 module binds every point of a detailed target mesh to a
coarse cage with ray-sampled mean value coordinates; the target then follows
the posed or animated cage. The package holds the module, the ostrand command
(OBJ meshes, numbered OBJ frames, PC2 and MDD point caches), the Python module
ostrand and the bundled example.")
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_INSTALL_PREFIX /usr)
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_STRIP_FILES ON)
  if(TARGET ostrand_python)
    # The Python extension is built for one Python version.
    math(EXPR python_next_minor "${Python_VERSION_MINOR} + 1")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}), \
python3 (<< ${Python_VERSION_MAJOR}.${python_next_minor}), python3-numpy, python3-scipy")
  endif()
  find_program(OSTRAND_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(OSTRAND_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # adds the C and C++ runtimes
  endif()
  # Removing the package also removes what the module and Python wrote beside
  # the installed files: the module's log and settings file, bytecode.
  if(OSTRAND_INSTALL_PYTHONDIR STREQUAL "")
    set(OSTRAND_DEBIAN_PYTHONDIR lib/python3/dist-packages)
  else()
    set(OSTRAND_DEBIAN_PYTHONDIR ${OSTRAND_INSTALL_PYTHONDIR})
  endif()
  configure_file(cmake/debian/postrm.in ${CMAKE_BINARY_DIR}/debian/postrm @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  include(CPack)
endif()
