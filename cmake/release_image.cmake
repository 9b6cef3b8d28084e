# What each of the three shipped images (the tray program, the driver, the
# clean-up tool) carries, set in this one place:
# - a version resource from the project's version, the one the MSI gets,
# - a PDB beside it, named by the image's CodeView debug record without any
#   folder, copied to dist/ (the installer never holds it),
# - no COFF symbol table (the PDB has the public symbols),
# - nothing of the machine or the moment it was built on: the link time is
#   the commit's, and no build folder lands in an image.
if(NOT WIN32)
  return()
endif()
enable_language(RC)

# SOURCE_DATE_EPOCH from the environment, else the time of the commit checked
# out; the HEAD log changes with every commit and checkout and reconfigures.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(PK_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE PK_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} rev-parse --path-format=absolute --git-path logs/HEAD
    OUTPUT_VARIABLE pk_head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(EXISTS "${pk_head_log}")
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${pk_head_log})
  endif()
endif()
if(NOT PK_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  # not a checkout git can read: the images then carry no time at all
  message(STATUS "no commit time found (set SOURCE_DATE_EPOCH); the images carry the time 0")
  set(PK_SOURCE_DATE_EPOCH 0)
endif()

# __FILE__ and any path the compiler writes name the tree, not where it lies
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>"
                    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>")

set(PK_VERSION_RC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/version.rc.in)

# pk_release_image(TARGET FILE_NAME DESCRIPTION FILE_TYPE FILE_SUBTYPE)
#   FILE_NAME: the name the image ships under, e.g. VELMORABEEP.sys
#   FILE_TYPE, FILE_SUBTYPE: VFT_APP and VFT2_UNKNOWN, or VFT_DRV and VFT2_DRV_SYSTEM
function(pk_release_image target file_name description file_type file_subtype)
  get_filename_component(PK_IMAGE_STEM ${file_name} NAME_WE)
  set(PK_IMAGE_NAME ${file_name})
  set(PK_IMAGE_DESCRIPTION ${description})
  set(PK_IMAGE_FILE_TYPE ${file_type})
  set(PK_IMAGE_FILE_SUBTYPE ${file_subtype})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${PK_IMAGE_STEM}_version.rc)
  configure_file(${PK_VERSION_RC_TEMPLATE} ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})

  # ld writes the PDB relative to the link's working folder, the top of the
  # build, and names it in the CodeView record exactly as given here
  set(pdb ${PK_IMAGE_STEM}.pdb)
  target_link_options(${target} PRIVATE -s -Wl,--pdb=${pdb})
  set_property(TARGET ${target} PROPERTY CXX_LINKER_LAUNCHER
               ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${PK_SOURCE_DATE_EPOCH})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PK_DIST_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_BINARY_DIR}/${pdb} ${PK_DIST_DIR}/
    BYPRODUCTS ${CMAKE_BINARY_DIR}/${pdb}
    VERBATIM)
endfunction()
