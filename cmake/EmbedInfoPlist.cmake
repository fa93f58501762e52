# qvt_embed_info_plist(<target> IDENTIFIER <id> VERSION <version>)
#
# Embeds an information list (an XML property list with CFBundleIdentifier and
# CFBundleVersion) into the executable <target>, in the ELF section
# "__info_plist", where platform::ExecutableInfo reads it, with the build's
# public signing key (QVTSigningPublicKey, hex; see tools/CMakeLists.txt). The section is not
# loaded at run time; it only travels with the file.
set(QVT_EMBED_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR})

function(qvt_embed_info_plist target)
  cmake_parse_arguments(ARG "" "IDENTIFIER;VERSION" "" ${ARGN})
  if(NOT ARG_IDENTIFIER OR NOT ARG_VERSION)
    message(FATAL_ERROR "qvt_embed_info_plist(${target}) needs IDENTIFIER and VERSION")
  endif()

  set(plist "${CMAKE_CURRENT_BINARY_DIR}/${target}.info.plist")
  # Written at build time, when the build's public signing key exists; the
  # script rewrites the list only when its content changes, so the executable
  # is relinked only then.
  add_custom_command(OUTPUT "${plist}"
    COMMAND ${CMAKE_COMMAND} -DKEY_FILE=${QVT_PUBLIC_KEY_FILE} -DIDENTIFIER=${ARG_IDENTIFIER}
            -DVERSION=${ARG_VERSION} -DOUTPUT=${plist} -P ${QVT_EMBED_CMAKE_DIR}/WriteEmbeddedInfoPlist.cmake
    DEPENDS ${QVT_PUBLIC_KEY_FILE} ${QVT_EMBED_CMAKE_DIR}/WriteEmbeddedInfoPlist.cmake
    VERBATIM)
  add_dependencies(${target} qvt_signing_key)

  # A C file whose top-level assembly puts the list's bytes into the section.
  set(QVT_INFO_PLIST_PATH "${plist}")
  set(source "${CMAKE_CURRENT_BINARY_DIR}/${target}.info_plist.c")
  file(CONFIGURE OUTPUT "${source}" @ONLY CONTENT [=[/* Generated: the information list of this executable. */
__asm__(".pushsection __info_plist,\"\",@progbits\n"
        ".incbin \"@QVT_INFO_PLIST_PATH@\"\n"
        ".popsection\n");
]=])
  set_source_files_properties("${source}" PROPERTIES OBJECT_DEPENDS "${plist}")
  target_sources(${target} PRIVATE "${source}" "${plist}")
endfunction()
