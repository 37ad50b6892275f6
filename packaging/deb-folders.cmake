# Run by cpack once the files are installed into its staging folder, before
# it archives them. An installation makes the folders it needs with the
# umask's modes, whatever CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS says:
# under umask 027 every folder of the package was 0750, and dpkg installed
# them so. Every folder is 0755, as a package's are.
file(CHMOD_RECURSE "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" DIRECTORY_PERMISSIONS
     OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
