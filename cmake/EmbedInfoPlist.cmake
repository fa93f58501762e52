# qvt_embed_info_plist(<target> IDENTIFIER <id> VERSION <version>)
#
# Embeds an information list (an XML property list with CFBundleIdentifier and
# CFBundleVersion) into the executable <target>, in the ELF section
# "__info_plist", where platform::ExecutableInfo reads it. The section is not
# loaded at run time; it only travels with the file.
function(qvt_embed_info_plist target)
  cmake_parse_arguments(ARG "" "IDENTIFIER;VERSION" "" ${ARGN})
  if(NOT ARG_IDENTIFIER OR NOT ARG_VERSION)
    message(FATAL_ERROR "qvt_embed_info_plist(${target}) needs IDENTIFIER and VERSION")
  endif()

  set(plist "${CMAKE_CURRENT_BINARY_DIR}/${target}.info.plist")
  set(QVT_INFO_IDENTIFIER "${ARG_IDENTIFIER}")
  set(QVT_INFO_VERSION "${ARG_VERSION}")
  # file(CONFIGURE) rewrites the file only when its content changes, so the
  # executable is relinked only then.
  file(CONFIGURE OUTPUT "${plist}" @ONLY CONTENT [=[<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key>
	<string>@QVT_INFO_IDENTIFIER@</string>
	<key>CFBundleVersion</key>
	<string>@QVT_INFO_VERSION@</string>
</dict>
</plist>
]=])

  # A C file whose top-level assembly puts the list's bytes into the section.
  set(QVT_INFO_PLIST_PATH "${plist}")
  set(source "${CMAKE_CURRENT_BINARY_DIR}/${target}.info_plist.c")
  file(CONFIGURE OUTPUT "${source}" @ONLY CONTENT [=[/* Generated: the information list of this executable. */
__asm__(".pushsection __info_plist,\"\",@progbits\n"
        ".incbin \"@QVT_INFO_PLIST_PATH@\"\n"
        ".popsection\n");
]=])
  set_source_files_properties("${source}" PROPERTIES OBJECT_DEPENDS "${plist}")
  target_sources(${target} PRIVATE "${source}")
endfunction()
