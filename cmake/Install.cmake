# Install.cmake: what `cmake --install` puts under the prefix: the neatxm library (static and
# shared), its headers, a pkg-config file and a CMake package, and the programs `demo` and
# `xmrender` with the demo's data. Included last by the top folder, when every target exists.
#
#   lib/libneatxm.a, lib/libneatxm.so*          include/neatxm.h, include/neatxm.hpp
#   lib/pkgconfig/neatxm.pc                      lib/cmake/neatxm/neatxm{Config,ConfigVersion,Targets}*.cmake
#   bin/demo, bin/xmrender, bin/playxm           share/demo/Zarq-Neat.xm, share/demo/Data/Particle.bmp
#
# Every path written into the package files is relative to where they end up, so the tree can be
# installed under any prefix (`cmake --install build/release --prefix DIR`) and moved afterwards.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(NEATXM_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/neatxm")

# ---- the library -----------------------------------------------------------------------------
set(_neatxm_targets music)
if(TARGET neatxm_shared)
  list(APPEND _neatxm_targets neatxm_shared)
endif()
install(TARGETS ${_neatxm_targets} EXPORT neatxmTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
file(GLOB _neatxm_headers CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/include/neatxm*.h"
     "${CMAKE_SOURCE_DIR}/include/neatxm*.hpp")
install(FILES ${_neatxm_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT neatxmTargets NAMESPACE neatxm:: DESTINATION ${NEATXM_CMAKE_DIR})
configure_package_config_file("${CMAKE_SOURCE_DIR}/cmake/neatxmConfig.cmake.in"
                              "${CMAKE_BINARY_DIR}/package/neatxmConfig.cmake"
                              INSTALL_DESTINATION ${NEATXM_CMAKE_DIR})
write_basic_package_version_file("${CMAKE_BINARY_DIR}/package/neatxmConfigVersion.cmake"
                                 VERSION ${NEATXM_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_BINARY_DIR}/package/neatxmConfig.cmake"
              "${CMAKE_BINARY_DIR}/package/neatxmConfigVersion.cmake"
        DESTINATION ${NEATXM_CMAKE_DIR})

# pkg-config: the prefix is found from the .pc file's own folder (${pcfiledir}).
file(RELATIVE_PATH NEATXM_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" NEATXM_PC_TO_PREFIX "${NEATXM_PC_TO_PREFIX}")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(NEATXM_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  set(NEATXM_PC_PREFIX "\${pcfiledir}/${NEATXM_PC_TO_PREFIX}")
endif()
# What a static link needs besides the library: the C++ run time, the maths library, threads.
set(NEATXM_PC_LIBS_PRIVATE "-lstdc++ -lm ${CMAKE_THREAD_LIBS_INIT}")
string(STRIP "${NEATXM_PC_LIBS_PRIVATE}" NEATXM_PC_LIBS_PRIVATE)
configure_file("${CMAKE_SOURCE_DIR}/cmake/neatxm.pc.in" "${CMAKE_BINARY_DIR}/package/neatxm.pc"
               @ONLY)
install(FILES "${CMAKE_BINARY_DIR}/package/neatxm.pc"
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# ---- the programs and the demo's data ---------------------------------------------------------
foreach(_program demo xmrender playxm)
  if(TARGET ${_program})
    install(TARGETS ${_program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
# The demo looks for these beside itself and then in ../share/demo (src/shell/data_folder.cpp).
if(TARGET demo)
  install(FILES "${DEMO_DATA_DIR}/Zarq-Neat.xm" DESTINATION ${CMAKE_INSTALL_DATADIR}/demo)
  install(FILES "${DEMO_DATA_DIR}/Data/Particle.bmp" DESTINATION ${CMAKE_INSTALL_DATADIR}/demo/Data)
endif()
