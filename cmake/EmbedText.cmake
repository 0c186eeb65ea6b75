# Writes INPUT's text into OUTPUT as a C++ raw string constant NAME
# (default kPreludeSource).
if(NOT DEFINED NAME)
  set(NAME kPreludeSource)
endif()
file(READ ${INPUT} CONTENT)
file(WRITE ${OUTPUT} "// Generated from ${INPUT}; do not edit.\n#pragma once\n\n"
  "namespace VirelantDesktop::host {\n"
  "inline constexpr const char* ${NAME} = R\"TALVEK_JS(${CONTENT})TALVEK_JS\";\n"
  "}  // namespace VirelantDesktop::host\n")
