# Run by CPack on its staging directory before it builds the Debian package: drops the sections
# a Debian build's dh_strip drops too (the compiler's .comment), which CPack's strip keeps.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program IN LISTS programs)
  execute_process(COMMAND objcopy --remove-section=.comment --remove-section=.note "${program}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
