# The product fonts: eight files in Fonts/ beside the executable, and a
# generated table of their sizes and hashes (known_fonts.inc, one initializer
# line per file: {older face name, file, size, FNV-1a 32 hex}).
#
# A release copies the real files from TALVEK_FONT_DIR. Any other build
# without it makes stand-ins from Debian fonts (DejaVu Sans, IPAGothic) under
# the product's family, style and weight names; they are byte-for-byte
# reproducible, so the table stays stable from one build to the next.
#
# Sets TALVEK_KNOWN_FONTS_INC (the table) and the target talvek_product_fonts.
set(TALVEK_FONT_DIR "" CACHE PATH "Folder holding the eight product font files (empty: stand-ins from Debian fonts)")

if(NOT CMAKE_RUNTIME_OUTPUT_DIRECTORY)
  message(FATAL_ERROR "TalvekFonts.cmake needs CMAKE_RUNTIME_OUTPUT_DIRECTORY: the fonts go beside the executable")
endif()

# In the order of the generated table.
set(TALVEK_FONT_FILES
  SUIT-Variable.ttf
  SUIT-Variable_medium.ttf
  SUIT-Variable_semibold.ttf
  SUIT-Variable_bold.ttf
  SUIT-Variable_extrabold.ttf
  SUIT-Variable_black.ttf
  NotoSansJP-VF.ttf
  NotoSansJP-VF_bold.ttf)

set(_fonts_tools ${CMAKE_CURRENT_LIST_DIR}/../tools/font_standins)
cmake_path(NORMAL_PATH _fonts_tools)
set(_fonts_out ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/Fonts)
set(_fonts_outputs "")
foreach(_font IN LISTS TALVEK_FONT_FILES)
  list(APPEND _fonts_outputs ${_fonts_out}/${_font})
endforeach()

find_package(Python3 REQUIRED COMPONENTS Interpreter)

if(TALVEK_FONT_DIR)
  set(_fonts_inputs "")
  foreach(_font IN LISTS TALVEK_FONT_FILES)
    if(NOT EXISTS ${TALVEK_FONT_DIR}/${_font})
      message(FATAL_ERROR "TALVEK_FONT_DIR (${TALVEK_FONT_DIR}) has no ${_font}")
    endif()
    list(APPEND _fonts_inputs ${TALVEK_FONT_DIR}/${_font})
  endforeach()
  add_custom_command(
    OUTPUT ${_fonts_outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_fonts_out}
    COMMAND ${CMAKE_COMMAND} -E copy ${_fonts_inputs} ${_fonts_out}/
    DEPENDS ${_fonts_inputs}
    COMMENT "Copying the product fonts from ${TALVEK_FONT_DIR}"
    VERBATIM)
else()
  if(TALVEK_RELEASE)
    message(FATAL_ERROR "a release build needs TALVEK_FONT_DIR: the stand-in fonts are refused")
  endif()

  find_file(TALVEK_FONT_SANS_SOURCE DejaVuSans.ttf
            PATHS /usr/share/fonts/truetype/dejavu NO_DEFAULT_PATH
            DOC "Regular source of the sans stand-ins")
  find_file(TALVEK_FONT_SANS_BOLD_SOURCE DejaVuSans-Bold.ttf
            PATHS /usr/share/fonts/truetype/dejavu NO_DEFAULT_PATH
            DOC "Bold source of the sans stand-ins")
  find_file(TALVEK_FONT_JP_SOURCE ipag.ttf
            PATHS /usr/share/fonts/opentype/ipafont-gothic /usr/share/fonts/truetype/ipafont-gothic NO_DEFAULT_PATH
            DOC "Source of the Japanese stand-ins")
  if(NOT TALVEK_FONT_SANS_SOURCE OR NOT TALVEK_FONT_SANS_BOLD_SOURCE)
    message(FATAL_ERROR "DejaVu Sans not found: install fonts-dejavu-core (scripts/install-deps.sh)")
  endif()
  if(NOT TALVEK_FONT_JP_SOURCE)
    message(FATAL_ERROR "IPAGothic (ipag.ttf) not found: install fonts-ipafont-gothic (scripts/install-deps.sh)")
  endif()

  # Debian's fontTools lives in the system interpreter's packages, which a
  # python3 found earlier on PATH (pyenv, a virtualenv) may not see.
  set(TALVEK_FONTTOOLS_PYTHON "" CACHE FILEPATH "A python3 that imports fontTools (empty: found at configure time)")
  if(TALVEK_FONTTOOLS_PYTHON)
    set(_fonts_candidates ${TALVEK_FONTTOOLS_PYTHON})
  else()
    set(_fonts_candidates ${Python3_EXECUTABLE} /usr/bin/python3)
  endif()
  set(_fonts_python "")
  foreach(_candidate IN LISTS _fonts_candidates)
    if(EXISTS ${_candidate})
      execute_process(COMMAND ${_candidate} -c "import fontTools.ttLib"
                      RESULT_VARIABLE _fonts_import OUTPUT_QUIET ERROR_QUIET)
      if(_fonts_import EQUAL 0)
        set(_fonts_python ${_candidate})
        break()
      endif()
    endif()
  endforeach()
  if(NOT _fonts_python)
    message(FATAL_ERROR "no python3 here imports fontTools: install python3-fonttools (scripts/install-deps.sh)")
  endif()

  set(_fonts_script ${_fonts_tools}/make_font_standins.py)
  add_custom_command(
    OUTPUT ${_fonts_outputs}
    COMMAND ${_fonts_python} ${_fonts_script}
            --sans ${TALVEK_FONT_SANS_SOURCE}
            --sans-bold ${TALVEK_FONT_SANS_BOLD_SOURCE}
            --jp ${TALVEK_FONT_JP_SOURCE}
            --out ${_fonts_out}
    DEPENDS ${_fonts_script} ${TALVEK_FONT_SANS_SOURCE} ${TALVEK_FONT_SANS_BOLD_SOURCE} ${TALVEK_FONT_JP_SOURCE}
    COMMENT "Making the stand-in product fonts"
    VERBATIM)
endif()

set(TALVEK_KNOWN_FONTS_INC ${CMAKE_BINARY_DIR}/generated/talvek/known_fonts.inc)
set(_fonts_table_script ${_fonts_tools}/known_fonts_table.py)
add_custom_command(
  OUTPUT ${TALVEK_KNOWN_FONTS_INC}
  COMMAND ${Python3_EXECUTABLE} ${_fonts_table_script} --fonts ${_fonts_out} --out ${TALVEK_KNOWN_FONTS_INC}
  DEPENDS ${_fonts_table_script} ${_fonts_outputs}
  COMMENT "Writing the known-fonts table"
  VERBATIM)

add_custom_target(talvek_product_fonts ALL DEPENDS ${_fonts_outputs} ${TALVEK_KNOWN_FONTS_INC})
