# Assembly of the application bundles:
#
#   <name>.app/Contents/Info.plist                       generated on every build
#   <name>.app/Contents/MacOS/<executable>
#   <name>.app/Contents/Resources/translations/*.qm
#   <name>.app/Contents/Library/LaunchServices/com.quorvantis.remote.RInstallerAgent
#   <name>.app/Contents/InstallerPackage/                 the package the agent installs
#
# The agent (its detached signature beside it, "<file>.sig") and the package
# (its Manifest and Manifest.sig) are signed with the build's signing key.

set(QVT_BUNDLE_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR})

# qvt_add_bundle(<bundle folder name> EXECUTABLE <target> TEMPLATE <Info.plist.in>
#                [QM_FILES <files...>] [PACKAGE_DIR <folder>])
function(qvt_add_bundle bundle_name)
  cmake_parse_arguments(arg "" "EXECUTABLE;TEMPLATE;PACKAGE_DIR" "QM_FILES" ${ARGN})
  string(REGEX REPLACE "\\.app$" "" short_name "${bundle_name}")
  set(contents ${CMAKE_BINARY_DIR}/${bundle_name}/Contents)
  set(commands
    COMMAND ${CMAKE_COMMAND} -E make_directory
            ${contents}/MacOS ${contents}/Resources/translations
            ${contents}/Library/LaunchServices ${contents}/InstallerPackage
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${arg_EXECUTABLE}> ${contents}/MacOS/
    COMMAND ${CMAKE_COMMAND}
            -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
            -DTEMPLATE=${arg_TEMPLATE}
            -DOUTPUT=${contents}/Info.plist
            -DBUNDLE_EXECUTABLE=$<TARGET_FILE_NAME:${arg_EXECUTABLE}>
            -DBUNDLE_NAME=${short_name}
            -DBUNDLE_SHORT_VERSION=${PROJECT_VERSION}
            -P ${QVT_BUNDLE_CMAKE_DIR}/GenerateInfoPlist.cmake)
  set(depends ${arg_EXECUTABLE})
  if(arg_QM_FILES)
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${arg_QM_FILES}
                                 ${contents}/Resources/translations/)
    list(APPEND depends ${arg_EXECUTABLE}_lrelease)
  endif()
  if(TARGET RInstallerAgent)
    # The application reads, verifies and compares the whole helper on every
    # run, so the bundle ships it without its debug information (about 20 MB
    # of 22 in an optimized build); the build tree's own RInstallerAgent keeps
    # it for the debugger. Debug and sanitizer builds ship it whole, for their
    # reports' line numbers.
    set(agent_in_bundle ${contents}/Library/LaunchServices/com.quorvantis.remote.RInstallerAgent)
    if(CMAKE_OBJCOPY AND SANITIZE STREQUAL "" AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
      list(APPEND commands COMMAND ${CMAKE_OBJCOPY} --strip-debug $<TARGET_FILE:RInstallerAgent> ${agent_in_bundle})
    else()
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:RInstallerAgent>
                                   ${agent_in_bundle})
    endif()
    list(APPEND commands COMMAND qvt-sign file ${agent_in_bundle} ${QVT_SECRET_KEY_FILE})
    list(APPEND depends RInstallerAgent qvt-sign qvt_signing_key)
  endif()
  if(arg_PACKAGE_DIR AND EXISTS ${arg_PACKAGE_DIR})
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_directory ${arg_PACKAGE_DIR} ${contents}/InstallerPackage
                         COMMAND qvt-sign package ${contents}/InstallerPackage ${QVT_SECRET_KEY_FILE})
    list(APPEND depends qvt-sign qvt_signing_key)
  endif()
  string(MAKE_C_IDENTIFIER "bundle_${short_name}" target_name)
  add_custom_target(${target_name} ALL ${commands}
    DEPENDS ${depends}
    COMMENT "Assembling ${bundle_name}"
    VERBATIM)
endfunction()
