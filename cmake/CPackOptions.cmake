# Read by cpack for each generator.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_CUSTOM_INSTALL_VARIABLES "TARNWICK_DEB=TRUE")
endif()
