# The API reference: Doxygen over the comments of include/KvSDKEng.h, into <build>/docs/api/html.
# 'cmake --build <build> --target docs' makes it; every warning (an export, constant or type
# without its comment) fails it. Where doxygen is missing, the target says so and fails; the
# CTest api_reference runs the same step and says SKIPPED.
find_program(KVSDK_DOXYGEN doxygen)
set(KVSDK_DOCS_OUTPUT ${CMAKE_BINARY_DIR}/docs/api)
configure_file(${CMAKE_SOURCE_DIR}/docs/Doxyfile.in ${CMAKE_BINARY_DIR}/docs/Doxyfile @ONLY)
set(KVSDK_API_REFERENCE_COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/api-reference.sh
  "${KVSDK_DOXYGEN}" ${CMAKE_BINARY_DIR}/docs/Doxyfile)
add_custom_target(docs COMMAND ${KVSDK_API_REFERENCE_COMMAND}
  COMMENT "API reference of include/KvSDKEng.h (Doxygen) in ${KVSDK_DOCS_OUTPUT}/html" VERBATIM)
