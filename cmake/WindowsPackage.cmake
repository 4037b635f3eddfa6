# The Windows zip, kestrel-loader-<version>-win64.zip: the programs, the demo
# firmware, the licence and a short read-me, all in one folder.
set(KESTREL_WINDOWS_ZIP_NAME kestrel-loader-${PROJECT_VERSION}-win64)
set(KESTREL_WINDOWS_STAGE ${CMAKE_BINARY_DIR}/package/${KESTREL_WINDOWS_ZIP_NAME})

set(zipPrograms $<TARGET_FILE:kestrel-flash>)
set(zipDepends kestrel-flash)
foreach(program IN ITEMS kestrel-loader kestrel-station)
  if(TARGET ${program})
    list(APPEND zipPrograms $<TARGET_FILE:${program}>)
    list(APPEND zipDepends ${program})
  endif()
endforeach()
set(zipFiles
  ${CMAKE_SOURCE_DIR}/samples/kestrel-demo.mot
  ${CMAKE_SOURCE_DIR}/samples/kestrel-demo.bin)
# The licence as LICENSE.txt, which Windows opens with a double-click.
if(EXISTS ${CMAKE_SOURCE_DIR}/LICENSE)
  configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/package/LICENSE.txt COPYONLY)
  list(APPEND zipFiles ${CMAKE_BINARY_DIR}/package/LICENSE.txt)
endif()

find_program(KESTREL_ZIP zip REQUIRED)
set(readme ${CMAKE_BINARY_DIR}/package/README.txt)
configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/README.txt ${readme} @ONLY NEWLINE_STYLE CRLF)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/${KESTREL_WINDOWS_ZIP_NAME}.zip
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${KESTREL_WINDOWS_STAGE} ${CMAKE_BINARY_DIR}/${KESTREL_WINDOWS_ZIP_NAME}.zip
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTREL_WINDOWS_STAGE}
  COMMAND ${CMAKE_COMMAND} -E copy ${zipPrograms} ${zipFiles} ${readme} ${KESTREL_WINDOWS_STAGE}
  COMMAND ${KESTREL_ZIP} -q -r -X ${CMAKE_BINARY_DIR}/${KESTREL_WINDOWS_ZIP_NAME}.zip ${KESTREL_WINDOWS_ZIP_NAME}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/package
  DEPENDS ${zipDepends} ${zipFiles} ${readme}
  COMMENT "Packing ${KESTREL_WINDOWS_ZIP_NAME}.zip"
  VERBATIM)
add_custom_target(windows-zip ALL DEPENDS ${CMAKE_BINARY_DIR}/${KESTREL_WINDOWS_ZIP_NAME}.zip)

# The installer, kestrel-loader-<version>-win64.msi, made with wixl: the same
# files as the zip, installed into Program Files\Kestrel Loader with Start-menu
# entries (see packaging/windows/kestrel-loader.wxs.in); signed as the
# programs are when a certificate is given.
if(TARGET kestrel-loader)
  find_program(KESTREL_WIXL wixl REQUIRED)
  # wixl takes the files by names relative to the folder it runs in: a folder of their own.
  set(msiStage ${CMAKE_BINARY_DIR}/package/msi)
  set(wxs ${msiStage}/kestrel-loader.wxs)
  math(EXPR nextPatch "${PROJECT_VERSION_PATCH} + 1")
  set(KESTREL_NEXT_PATCH_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${nextPatch})
  configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/kestrel-loader.wxs.in ${wxs} @ONLY)
  set(msi ${CMAKE_BINARY_DIR}/${KESTREL_WINDOWS_ZIP_NAME}.msi)
  set(icon ${CMAKE_SOURCE_DIR}/app/images/kestrel-loader.ico)
  add_custom_command(
    OUTPUT ${msi}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${msi} ${msi}.new
    COMMAND ${CMAKE_COMMAND} -E copy ${zipPrograms} ${zipFiles} ${readme} ${icon} ${msiStage}
    COMMAND ${KESTREL_WIXL} --arch x64 --output ${msi}.new ${wxs}
    COMMAND ${CMAKE_COMMAND} -DFILE=${msi}.new -P ${CMAKE_SOURCE_DIR}/cmake/SignWindows.cmake
    COMMAND ${CMAKE_COMMAND} -E rename ${msi}.new ${msi}
    WORKING_DIRECTORY ${msiStage}
    DEPENDS ${zipDepends} ${wxs} ${readme} ${zipFiles} ${icon}
    COMMENT "Building ${KESTREL_WINDOWS_ZIP_NAME}.msi"
    VERBATIM)
  add_custom_target(windows-msi ALL DEPENDS ${msi})
endif()
