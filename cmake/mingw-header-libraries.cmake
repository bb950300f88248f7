# The host stand-in's JSON library for the Windows cross build. Debian ships
# no mingw build of it, so its header-only form is used: the build machine's
# headers are linked into an include folder of the build tree (never
# /usr/include itself, whose glibc headers would shadow mingw's).
set(_headers ${CMAKE_BINARY_DIR}/mingw-headers)
file(MAKE_DIRECTORY ${_headers})

foreach(_header IN ITEMS nlohmann)
  if(NOT EXISTS /usr/include/${_header})
    message(FATAL_ERROR "/usr/include/${_header} is missing: install nlohmann-json3-dev")
  endif()
  file(CREATE_LINK /usr/include/${_header} ${_headers}/${_header} SYMBOLIC)
endforeach()

add_library(ostrand_nlohmann_json INTERFACE)
target_include_directories(ostrand_nlohmann_json SYSTEM INTERFACE ${_headers})
add_library(nlohmann_json::nlohmann_json ALIAS ostrand_nlohmann_json)

