# Run at install time: writes the desktop entry whose Exec names the program
# where it is being installed, so that the entry starts it whether or not its
# folder is on PATH. Expects TESSMAR_DESKTOP_IN, TESSMAR_DESKTOP_OUT and
# TESSMAR_BINDIR (absolute, or relative to the install prefix).
if(IS_ABSOLUTE "${TESSMAR_BINDIR}")
  set(program "${TESSMAR_BINDIR}/tessmar")
else()
  set(program "${CMAKE_INSTALL_PREFIX}/${TESSMAR_BINDIR}/tessmar")
endif()
# The path in quotes, escaped for the Exec key: inside the quotes a backslash,
# a double quote, a backquote and a dollar sign take a backslash; the key's
# value then doubles every backslash; a percent sign is doubled.
set(exec "${program}")
string(REPLACE [[\]] [[\\\\]] exec "${exec}")
string(REPLACE [["]] [[\\"]] exec "${exec}")
string(REPLACE [[`]] [[\\`]] exec "${exec}")
string(REPLACE [[$]] [[\\$]] exec "${exec}")
string(REPLACE [[%]] [[%%]] exec "${exec}")
set(TESSMAR_EXEC "\"${exec}\"")
configure_file("${TESSMAR_DESKTOP_IN}" "${TESSMAR_DESKTOP_OUT}" @ONLY)
