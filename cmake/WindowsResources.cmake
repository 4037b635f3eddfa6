# What every Windows program carries: a version resource and a manifest made
# from the one version of the project, an icon; and what is done to it once
# linked: the debug data moved into NAME.exe.debug beside it (found through a
# debug link), then an Authenticode signature when a certificate is given.
find_program(KESTREL_OBJCOPY NAMES ${KESTREL_MINGW_PREFIX}-objcopy objcopy REQUIRED)

# kestrel_windows_identity(TARGET DESCRIPTION ASSEMBLY [ICON path] [COMMON_CONTROLS])
function(kestrel_windows_identity target description assembly)
  cmake_parse_arguments(PARSE_ARGV 3 arg "COMMON_CONTROLS" "ICON" "")
  set(KESTREL_RC_NAME ${target})
  set(KESTREL_RC_DESCRIPTION "${description}")
  set(KESTREL_RC_ASSEMBLY ${assembly})
  set(KESTREL_RC_DEPENDENCY "")
  if(arg_COMMON_CONTROLS)
    # Version 6 of the common controls: the system's current look, not that of Windows 95.
    string(CONCAT KESTREL_RC_DEPENDENCY
      "  <dependency>\n    <dependentAssembly>\n"
      "      <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"\n"
      "                        processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>\n"
      "    </dependentAssembly>\n  </dependency>\n")
  endif()
  set(KESTREL_RC_ICON "")
  if(arg_ICON)
    set(KESTREL_RC_ICON "1 ICON \"${arg_ICON}\"")
  endif()
  set(KESTREL_RC_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/program.manifest.in ${KESTREL_RC_MANIFEST} @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/program.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}-identity.rc
                 @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}-identity.rc)
  set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/${target}-identity.rc APPEND PROPERTY OBJECT_DEPENDS
               ${KESTREL_RC_MANIFEST} ${arg_ICON})

  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${KESTREL_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
    COMMAND ${KESTREL_OBJCOPY} --strip-debug --strip-unneeded
            --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:${target}> -P ${CMAKE_SOURCE_DIR}/cmake/SignWindows.cmake
    COMMENT "Debug data of ${target} into ${target}.exe.debug; signing it if a certificate is given"
    VERBATIM)
endfunction()
