# Third-party libraries, all from Debian's packages (scripts/setup installs them).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(glm REQUIRED)
# zlib: the icon's PNG files (packaging/) and the test that reads them back.
find_package(ZLIB REQUIRED)

pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
# PNG and TGA textures (BMP stays with SDL itself).
pkg_check_modules(SDL2_IMAGE REQUIRED IMPORTED_TARGET SDL2_image)
pkg_check_modules(EPOXY REQUIRED IMPORTED_TARGET epoxy)
pkg_check_modules(IMGUI REQUIRED IMPORTED_TARGET imgui)
pkg_check_modules(ASSIMP REQUIRED IMPORTED_TARGET assimp)
pkg_check_modules(OPENAL REQUIRED IMPORTED_TARGET openal)
pkg_check_modules(ENET REQUIRED IMPORTED_TARGET libenet)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(PUGIXML REQUIRED IMPORTED_TARGET pugixml)
pkg_check_modules(LIBARCHIVE REQUIRED IMPORTED_TARGET libarchive)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
# OpenSSL's libcrypto: salted password hashes of the companion web server.
pkg_check_modules(LIBCRYPTO REQUIRED IMPORTED_TARGET libcrypto)
# The companion web server's HTTP front (event-driven) and its PostgreSQL store.
pkg_check_modules(MICROHTTPD REQUIRED IMPORTED_TARGET libmicrohttpd)
pkg_check_modules(LIBPQ REQUIRED IMPORTED_TARGET libpq)

# Debian's cpp-httplib is a compiled library whose header must see the feature macros it was
# built with (TLS, zlib, brotli); its pkg-config file gives both.
pkg_check_modules(CPPHTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
add_library(httplib_header INTERFACE)
target_link_libraries(httplib_header INTERFACE PkgConfig::CPPHTTPLIB Threads::Threads)

# Dear ImGui's SDL2 and OpenGL 3 back ends ship as sources; they are compiled here.
set(IMGUI_BACKENDS_DIR /usr/share/doc/libimgui-dev/examples/backends)
add_library(imgui_backends STATIC
  ${IMGUI_BACKENDS_DIR}/imgui_impl_sdl.cpp
  ${IMGUI_BACKENDS_DIR}/imgui_impl_opengl3.cpp)
target_include_directories(imgui_backends PUBLIC /usr/include/imgui/backends)
target_link_libraries(imgui_backends PUBLIC PkgConfig::IMGUI PkgConfig::SDL2 PkgConfig::EPOXY)
set_target_properties(imgui_backends PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_compile_options(imgui_backends PRIVATE -w)

if(TARNHOLD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(TARNHOLD_BENCH)
  find_package(benchmark REQUIRED)
endif()
