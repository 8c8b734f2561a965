# The Windows installer (64-bit NSIS) and the portable ZIP, made from the
# cross build: cpack in build/windows.

set(CPACK_GENERATOR "NSIS;ZIP")
set(CPACK_PACKAGE_NAME Roraridov)
set(CPACK_PACKAGE_VENDOR "the Roraridov developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MIDI thru router for three inputs and three outputs")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Roraridov)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Roraridov)
set(CPACK_PACKAGE_FILE_NAME Roraridov-${PROJECT_VERSION}-win64)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/packaging/copyright)
set(CPACK_STRIP_FILES ON)
# One program, one package: the test build's component stays out of it.
set(CPACK_MONOLITHIC_INSTALL ON)

# A 64-bit installer stub, and the program under "Program Files", not its
# 32-bit sibling.
set(CPACK_NSIS_DEFINES "  Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME Roraridov)
set(CPACK_NSIS_PACKAGE_NAME Roraridov)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/resources/roraridov.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/resources/roraridov.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\\\Roraridov.exe")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)

# The options file lives in the current directory, and "Program Files" is
# not the user's to write: the Start-menu entry starts the program in the
# user's own %APPDATA%\Roraridov. Made in the installing user's menu (the
# installer's context is all users when it runs as administrator, and is
# set back after); the uninstaller removes the entry, the folder and the
# program's two files in it. CPack's configuration file keeps these texts in
# double quotes: NSIS's single ones are used, and backslashes are doubled.
set(CPACK_NSIS_CREATE_ICONS_EXTRA [=[
  SetShellVarContext current
  CreateDirectory '$APPDATA\\Roraridov'
  CreateDirectory '$SMPROGRAMS\\$STARTMENU_FOLDER'
  SetOutPath '$APPDATA\\Roraridov'
  CreateShortCut '$SMPROGRAMS\\$STARTMENU_FOLDER\\Roraridov.lnk' '$INSTDIR\\bin\\Roraridov.exe'
  SetOutPath '$INSTDIR'
  StrCmp $SV_ALLUSERS 'AllUsers' 0 +2
    SetShellVarContext all
]=])
set(CPACK_NSIS_DELETE_ICONS_EXTRA [=[
  SetShellVarContext current
  Delete '$SMPROGRAMS\\$MUI_TEMP\\Roraridov.lnk'
  RMDir '$SMPROGRAMS\\$MUI_TEMP'
  Delete '$APPDATA\\Roraridov\\Roraridov.opt'
  Delete '$APPDATA\\Roraridov\\Roraridov.devices'
  RMDir '$APPDATA\\Roraridov'
  UserInfo::GetAccountType
  Pop $0
  StrCmp $0 'Admin' 0 +2
    SetShellVarContext all
  StrCmp $0 'Power' 0 +2
    SetShellVarContext all
]=])
include(CPack)
