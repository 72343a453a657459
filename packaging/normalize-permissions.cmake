# Run by cpack between the staging install and the archive (CPACK_PRE_BUILD_SCRIPTS). The install
# creates the parent folders of each destination with the packager's umask, so a umask of 077
# would ship 0700 folders; a package's folders are 0755 whoever builds it.
# Never a glob of "/*": without the staging folder there is nothing to do here.
if(NOT CPACK_TEMPORARY_INSTALL_DIRECTORY OR NOT IS_DIRECTORY "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
  message(FATAL_ERROR "normalize-permissions: no staging folder ('${CPACK_TEMPORARY_INSTALL_DIRECTORY}')")
endif()
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
    file(CHMOD "${entry}" DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
