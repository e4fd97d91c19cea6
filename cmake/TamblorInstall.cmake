# What `cmake --install` puts under the prefix, and the check that every
# public header compiles on its own.
#
#   lib/libTamblorRuntime.so.1     shared: run-time library, COM layer, dataset framework
#   lib/libQuenby_Tamblor.so.1     shared: the component package (TMoneyTable and the
#                                  engine's interface units); hosts load it from here
#   lib/libTamblorEngine.a         static: the table engine
#   lib/libTamblorControls.a       static: the Qt data-aware controls
#   lib/cmake/Tamblor/             the CMake package: Tamblor::Tamblor, Tamblor::Controls
#   lib/pkgconfig/tamblor.pc       the same as Tamblor::Tamblor for pkg-config
#   include/tamblor/<layer>/*.h    the public headers, in the folders the code uses
#   bin/                           tamblor, tamblorview, tamblor-palette
#   share/applications, share/mime/packages, share/icons/hicolor
#                                  the browser's desktop entry, the table file type, icons
#
# A program gets rtl, ole and framework only from libTamblorRuntime.so, never
# as a static copy: the process then has one COM class registry, into which
# the program registers the engine and from which TMoneyTable creates it, and
# one component registry, which a loaded package shares (package/Package.h).
# So the installed link interfaces of the static libraries name the shared
# library wherever the build tree names a static layer library.
include(CMakePackageConfigHelpers)

set(TAMBLOR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tamblor)
set(TAMBLOR_INSTALL_INCLUDE ${CMAKE_INSTALL_INCLUDEDIR}/tamblor)

# Rewrites the link interface of a static library for installation: the
# layer libraries rtl, ole and framework become Tamblor::Runtime, moneytable
# becomes Tamblor::Package; the build tree still links the static ones.
function(tamblor_install_link_interface target)
  get_target_property(libs ${target} INTERFACE_LINK_LIBRARIES)
  set(result)
  foreach(lib IN LISTS libs)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" name "${lib}")
    if(name MATCHES "^(rtl|ole|framework)$")
      list(APPEND result "$<BUILD_INTERFACE:${lib}>" "$<INSTALL_INTERFACE:Tamblor::Runtime>")
    elseif(name STREQUAL "moneytable")
      list(APPEND result "$<BUILD_INTERFACE:${lib}>" "$<INSTALL_INTERFACE:Tamblor::Package>")
    else()
      list(APPEND result "${lib}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES result)
  set_target_properties(${target} PROPERTIES INTERFACE_LINK_LIBRARIES "${result}")
endfunction()

# ---------------------------------------------------------------- public headers

# Layer folder -> its public headers (every header of the folder, except in
# engine/ and package/, whose other headers are the layer's own).
set(TAMBLOR_PUBLIC_HEADERS)
foreach(layer rtl rtl/ole framework moneytable controls)
  get_filename_component(layer_target ${layer} NAME)
  if(TARGET ${layer_target})
    file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/${layer}/*.h)
    list(APPEND TAMBLOR_PUBLIC_HEADERS ${headers})
  endif()
endforeach()
if(TARGET engine)
  list(APPEND TAMBLOR_PUBLIC_HEADERS engine/Engine.h engine/Errors.h)
endif()
if(TARGET TamblorRuntime)
  list(APPEND TAMBLOR_PUBLIC_HEADERS package/Package.h)
endif()

# Each public header compiled alone, as the only include of a source file:
# a header that leans on an earlier include of its user fails the build.
set(header_check_sources)
set(header_check_qt_sources)
foreach(header IN LISTS TAMBLOR_PUBLIC_HEADERS)
  string(REGEX REPLACE "[/.]" "_" stem ${header})
  set(source ${PROJECT_BINARY_DIR}/header_check/${stem}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT "#include \"${header}\"\n")
  if(header MATCHES "^controls/")
    list(APPEND header_check_qt_sources ${source})
  else()
    list(APPEND header_check_sources ${source})
  endif()
endforeach()
if(header_check_sources)
  add_library(header_check OBJECT ${header_check_sources})
  target_include_directories(header_check PRIVATE ${PROJECT_SOURCE_DIR})
endif()
if(header_check_qt_sources)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  add_library(header_check_qt OBJECT ${header_check_qt_sources})
  target_include_directories(header_check_qt PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(header_check_qt PRIVATE Qt6::Widgets)
endif()

foreach(header IN LISTS TAMBLOR_PUBLIC_HEADERS)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${TAMBLOR_INSTALL_INCLUDE}/${folder})
endforeach()

# ---------------------------------------------------------------- libraries and programs

if(TARGET TamblorRuntime AND TARGET Quenby_Tamblor AND TARGET engine)
  set_target_properties(TamblorRuntime PROPERTIES EXPORT_NAME Runtime)
  set_target_properties(Quenby_Tamblor PROPERTIES EXPORT_NAME Package)
  set_target_properties(engine PROPERTIES EXPORT_NAME Engine OUTPUT_NAME TamblorEngine)
  tamblor_install_link_interface(engine)

  # Tamblor::Tamblor: all a program needs to open and edit tables through
  # TMoneyTable, the engine included.
  add_library(TamblorLibraries INTERFACE)
  target_link_libraries(TamblorLibraries INTERFACE Quenby_Tamblor engine TamblorRuntime)
  set_target_properties(TamblorLibraries PROPERTIES EXPORT_NAME Tamblor)

  install(TARGETS TamblorRuntime Quenby_Tamblor engine TamblorLibraries EXPORT TamblorTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(EXPORT TamblorTargets NAMESPACE Tamblor:: DESTINATION ${TAMBLOR_CMAKE_DIR})

  if(TARGET controls)
    set_target_properties(controls PROPERTIES EXPORT_NAME Controls OUTPUT_NAME TamblorControls)
    tamblor_install_link_interface(controls)
    install(TARGETS controls EXPORT TamblorControlsTargets
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
    install(EXPORT TamblorControlsTargets NAMESPACE Tamblor:: DESTINATION ${TAMBLOR_CMAKE_DIR})
  endif()

  configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TamblorConfig.cmake.in
                                ${PROJECT_BINARY_DIR}/TamblorConfig.cmake
                                INSTALL_DESTINATION ${TAMBLOR_CMAKE_DIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/TamblorConfigVersion.cmake
                                   COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/TamblorConfig.cmake ${PROJECT_BINARY_DIR}/TamblorConfigVersion.cmake
          DESTINATION ${TAMBLOR_CMAKE_DIR})

  # pkg-config: paths relative to the .pc file, so that the installed tree
  # may be moved or installed with --prefix.
  file(RELATIVE_PATH TAMBLOR_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/tamblor.pc.in ${PROJECT_BINARY_DIR}/tamblor.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/tamblor.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

foreach(program tamblor tamblorview tamblor-palette)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# ---------------------------------------------------------------- desktop

if(TARGET tamblorview)
  set(desktop ${PROJECT_SOURCE_DIR}/desktop)
  install(FILES ${desktop}/tamblorview.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${desktop}/tamblor-table.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
  install(DIRECTORY ${desktop}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
endif()
