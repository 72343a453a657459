# The about box's tests; included from the ui tests' list file.
add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/about)
