# Writes the manual page as text a Windows user can open: UTF-8 with a byte
# order mark, which Notepad takes as UTF-8, and CR LF line ends.
#   cmake -DGROFF=groff -DPAGE=kerfline.1 -DTEXT=kerfline-manual.txt -P manual_text.cmake
execute_process(COMMAND "${GROFF}" -k -man -Tutf8 -P-cbou -rLL=78n "${PAGE}"
  OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${GROFF} could not format ${PAGE}: ${errors}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
string(ASCII 239 187 191 byte_order_mark)
file(WRITE "${TEXT}" "${byte_order_mark}${text}")
