# Run by cmake --install and cpack: copies the Python package folder of the
# build tree into the site-packages folder that goes with the prefix being
# installed under (see cmake/packaging.cmake). In: OSTRAND_PYTHON_PACKAGE_DIR,
# OSTRAND_INSTALL_PYTHONDIR (empty: by the prefix), OSTRAND_PYTHON_VERSION,
# OSTRAND_STRIP (the strip program, for an installation that strips).
if(NOT OSTRAND_INSTALL_PYTHONDIR STREQUAL "")
  set(site_packages ${OSTRAND_INSTALL_PYTHONDIR})
elseif(CMAKE_INSTALL_PREFIX MATCHES "^/usr/?$")
  set(site_packages lib/python3/dist-packages)
elseif(CMAKE_INSTALL_PREFIX MATCHES "^/usr/local/?$")
  set(site_packages lib/python${OSTRAND_PYTHON_VERSION}/dist-packages)
else()
  set(site_packages lib/python${OSTRAND_PYTHON_VERSION}/site-packages)
endif()
if(NOT EXISTS ${OSTRAND_PYTHON_PACKAGE_DIR}/__init__.py)
  message(FATAL_ERROR "${OSTRAND_PYTHON_PACKAGE_DIR} holds no Python package: build the target ostrand_python first")
endif()
file(INSTALL ${OSTRAND_PYTHON_PACKAGE_DIR} DESTINATION ${CMAKE_INSTALL_PREFIX}/${site_packages}
  PATTERN __pycache__ EXCLUDE PATTERN ostrand.log EXCLUDE PATTERN Ostrand.ini EXCLUDE)
if(CMAKE_INSTALL_DO_STRIP AND OSTRAND_STRIP)
  file(GLOB libraries "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${site_packages}/ostrand/*.so")
  foreach(library IN LISTS libraries)
    execute_process(COMMAND ${OSTRAND_STRIP} --strip-unneeded ${library} COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
endif()
