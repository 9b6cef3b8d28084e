# Copies a built deliverable into dist/ after every build of it.
function(pk_copy_to_dist target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PK_DIST_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}> ${PK_DIST_DIR}/
    VERBATIM)
endfunction()
