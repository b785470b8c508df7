# wixl takes only folders and component groups from a Fragment: the fragment's
# content goes into the product through an include file instead, the same
# elements under an Include element.
#   cmake -DFRAGMENT=InstallHelper.wxs -DINCLUDE=InstallHelper.wxi -P fragment-include.cmake
file(READ ${FRAGMENT} text)
string(REPLACE "<Wix " "<Include " text "${text}")
string(REPLACE "</Wix>" "</Include>" text "${text}")
string(REGEX REPLACE "[ \t]*</?Fragment>[ \t]*\n" "" text "${text}")
file(WRITE ${INCLUDE} "${text}")
