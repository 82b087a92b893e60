# Writes the gzipped man page of one program with help2man (run at build time):
#   cmake -DHELP2MAN=... -DPROGRAM=... -DNAME=... -DVERSION=... -DOUTPUT=page.1.gz -P ManPage.cmake
#
# help2man runs `PROGRAM --help` and `PROGRAM --version`. A program that does
# not answer --version (it exits with an error or prints nothing) gets the
# project's version instead, so the page can always be made. Usage text that
# a program prints on its error output counts as well.
foreach(var HELP2MAN PROGRAM NAME VERSION OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "ManPage.cmake needs -D${var}=...")
  endif()
endforeach()

execute_process(COMMAND ${PROGRAM} --version
  RESULT_VARIABLE version_status
  OUTPUT_VARIABLE version_text
  ERROR_QUIET)
set(version_option)
if(NOT version_status EQUAL 0 OR version_text STREQUAL "")
  set(version_option "--version-string=${VERSION}")
endif()

get_filename_component(page_dir ${OUTPUT} DIRECTORY)
string(REGEX REPLACE "\\.gz$" "" page ${OUTPUT})
file(MAKE_DIRECTORY ${page_dir})
execute_process(
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr "--name=${NAME}" ${version_option}
          --output=${page} ${PROGRAM}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man could not write the man page of ${PROGRAM}")
endif()
# Debian keeps man pages compressed with gzip -9, without a name or time stamp.
execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip could not compress ${page}")
endif()
