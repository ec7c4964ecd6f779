# The pictures come from Debian packages at build time and are compiled into
# the program with the Qt resource system, so it runs from any folder.
#   famfamfam-flag-png  (public domain)  country flags
#   famfamfam-silk      (CC-BY-3.0)      padlocks, speech bubble
#   tango-icon-theme    (public domain)  creature's head, application icon
# The rest (chevrons, star, cup, badges, background) is drawn in code.

# Flag pictures 1 to 51, in the order the picker shows them.
set(TAVIMERE_FLAG_CODES
  us gb ca au nz ie de fr it es pt nl be lu ch at dk se no fi is pl cz sk hu
  ro bg gr tr ru ua ee lv lt hr si rs br ar mx cl co pe jp kr cn in sg za eg il)

set(_pics "${CMAKE_BINARY_DIR}/pictures")
set(_qrc "<RCC>\n  <qresource prefix=\"/pictures\">\n")
set(_i 1)
foreach(cc IN LISTS TAVIMERE_FLAG_CODES)
  configure_file(/usr/share/flags/countries/16x11/${cc}.png ${_pics}/flag${_i}.png COPYONLY)
  string(APPEND _qrc "    <file>flag${_i}.png</file>\n")
  math(EXPR _i "${_i} + 1")
endforeach()
foreach(pair
    "/usr/share/icons/silk/16x16/lock_open.png|lock_open.png"
    "/usr/share/icons/silk/16x16/lock.png|lock.png"
    "/usr/share/icons/silk/16x16/comment.png|comment.png"
    "/usr/share/icons/Tango/16x16/emotes/face-monkey.png|face-monkey.png"
    "/usr/share/icons/Tango/32x32/emotes/face-monkey.png|face-monkey-32.png")
  string(REPLACE "|" ";" parts "${pair}")
  list(GET parts 0 src)
  list(GET parts 1 dst)
  configure_file(${src} ${_pics}/${dst} COPYONLY)
  string(APPEND _qrc "    <file>${dst}</file>\n")
endforeach()
# The application icon in every size the theme draws it: the windows take
# the PNGs, the desktop install (packaging/) all of them.
set(TAVIMERE_APP_ICON_SIZES 16 22 24 32)
foreach(size IN LISTS TAVIMERE_APP_ICON_SIZES)
  configure_file(/usr/share/icons/Tango/${size}x${size}/apps/internet-group-chat.png
    ${_pics}/app-icon-${size}.png COPYONLY)
  string(APPEND _qrc "    <file>app-icon-${size}.png</file>\n")
endforeach()
configure_file(/usr/share/icons/Tango/scalable/apps/internet-group-chat.svg ${_pics}/app-icon.svg COPYONLY)
set(TAVIMERE_PICTURES_DIR ${_pics})
string(APPEND _qrc "  </qresource>\n</RCC>\n")
file(WRITE ${_pics}/pictures.qrc.in "${_qrc}")
configure_file(${_pics}/pictures.qrc.in ${_pics}/pictures.qrc COPYONLY)
set(TAVIMERE_PICTURES_QRC ${_pics}/pictures.qrc)
