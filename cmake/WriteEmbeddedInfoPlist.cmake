# cmake -DKEY_FILE=<public key file> -DIDENTIFIER=<id> -DVERSION=<version>
#       -DOUTPUT=<plist> -P WriteEmbeddedInfoPlist.cmake
# The information list embedded into an executable (see EmbedInfoPlist.cmake).
file(READ "${KEY_FILE}" QVT_INFO_PUBLIC_KEY)
string(STRIP "${QVT_INFO_PUBLIC_KEY}" QVT_INFO_PUBLIC_KEY)
if(NOT QVT_INFO_PUBLIC_KEY MATCHES "^[0-9a-f]+$")
  message(FATAL_ERROR "${KEY_FILE} is not a public key in hex")
endif()
file(CONFIGURE OUTPUT "${OUTPUT}" @ONLY CONTENT [=[<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key>
	<string>@IDENTIFIER@</string>
	<key>CFBundleVersion</key>
	<string>@VERSION@</string>
	<key>QVTSigningPublicKey</key>
	<string>@QVT_INFO_PUBLIC_KEY@</string>
</dict>
</plist>
]=])
