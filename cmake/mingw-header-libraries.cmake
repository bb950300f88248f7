# The host stand-in's libraries for the Windows cross build. Debian ships no
# mingw builds of them, so their header-only forms are used: the build
# machine's headers are linked into an include folder of the build tree (never
# /usr/include itself, whose glibc headers would shadow mingw's).
set(_headers ${CMAKE_BINARY_DIR}/mingw-headers)
file(MAKE_DIRECTORY ${_headers})

foreach(_header IN ITEMS nlohmann tiny_obj_loader.h)
  if(NOT EXISTS /usr/include/${_header})
    message(FATAL_ERROR "/usr/include/${_header} is missing: install nlohmann-json3-dev and libtinyobjloader-dev")
  endif()
  file(CREATE_LINK /usr/include/${_header} ${_headers}/${_header} SYMBOLIC)
endforeach()

add_library(ostrand_nlohmann_json INTERFACE)
target_include_directories(ostrand_nlohmann_json SYSTEM INTERFACE ${_headers})
add_library(nlohmann_json::nlohmann_json ALIAS ostrand_nlohmann_json)

# The OBJ reader's implementation is compiled into the one host file that reads OBJ.
add_library(ostrand_tinyobjloader INTERFACE)
target_include_directories(ostrand_tinyobjloader SYSTEM INTERFACE ${_headers})
target_compile_definitions(ostrand_tinyobjloader INTERFACE TINYOBJLOADER_USE_DOUBLE)
add_library(tinyobjloader::tinyobjloader_double ALIAS ostrand_tinyobjloader)
set_source_files_properties(${PROJECT_SOURCE_DIR}/host/obj_file.cpp PROPERTIES
  COMPILE_DEFINITIONS TINYOBJLOADER_IMPLEMENTATION)
