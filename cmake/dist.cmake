# The test certificate every build signs with, and the signing of a built
# program into dist/.

# One certificate for the three builds: the 32-bit clean-up tool comes from
# another build than the driver, the tray program and the installer, and all
# of them carry the same signature. The private key stays here, outside
# dist/; make-test-cert keeps an existing certificate, so no build replaces
# the one another build has already signed with.
set(PK_TEST_CERT_DIR ${CMAKE_SOURCE_DIR}/build/test-cert CACHE PATH
    "the test code-signing certificate and its private key, shared by the builds")
set(PK_SIGNING_DIR ${CMAKE_SOURCE_DIR}/packaging/signing)
set(PK_TEST_CERT ${PK_TEST_CERT_DIR}/VELMORA-test.pem)
add_custom_command(OUTPUT ${PK_TEST_CERT} ${PK_TEST_CERT_DIR}/VELMORA-test.key
                          ${PK_TEST_CERT_DIR}/VELMORA-test.cer
  COMMAND ${PK_SIGNING_DIR}/make-test-cert ${PK_TEST_CERT_DIR}
  DEPENDS ${PK_SIGNING_DIR}/make-test-cert
  VERBATIM)
add_custom_target(test_cert DEPENDS ${PK_TEST_CERT})

# Signs a built program into dist/ after every build of it. A new
# certificate relinks the program, so that it is signed again.
#   NAME: the signature's description
function(pk_sign_to_dist target name)
  add_dependencies(${target} test_cert)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PK_TEST_CERT})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PK_DIST_DIR}
    COMMAND ${PK_SIGNING_DIR}/sign-file $<TARGET_FILE:${target}>
            ${PK_DIST_DIR}/$<TARGET_FILE_NAME:${target}> ${PK_TEST_CERT_DIR} ${name}
    VERBATIM)
endfunction()
