; The Windows installer. makensis -DVERSION=… -DPORTABLE=<folder> -DOUTFILE=<file>
Unicode true
!include "MUI2.nsh"

Name "Parvault 2"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Parvault 2"
InstallDirRegKey HKLM "Software\Parvault 2" "InstallDir"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Parvault 2"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"
!insertmacro MUI_LANGUAGE "English"

Section "Parvault 2"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${PORTABLE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; The menu entry starts the launcher: it opens the window in the user's own
  ; working folder (Documents\Parvault2), made with the demo main database on
  ; the first start. Program Files itself is never a working folder.
  CreateDirectory "$SMPROGRAMS\Parvault 2"
  CreateShortCut "$SMPROGRAMS\Parvault 2\Parvault 2.lnk" "$INSTDIR\parvault2-launch.exe" "" "$INSTDIR\parvault2.exe" 0
  CreateShortCut "$SMPROGRAMS\Parvault 2\Uninstall Parvault 2.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "Software\Parvault 2" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Parvault 2"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Parvault 2 developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\parvault2.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what was installed and nothing else: the users' working folders,
; with their lists and settings, stay where they are.
Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\parvault2.exe"
  Delete "$INSTDIR\parvault2-cli.exe"
  Delete "$INSTDIR\parvault2-devsim.exe"
  Delete "$INSTDIR\parvault2-jetread.exe"
  Delete "$INSTDIR\parvault2-launch.exe"
  Delete "$INSTDIR\PARVLT2.mdb"
  Delete "$INSTDIR\demo-params.txt"
  RMDir /r "$INSTDIR\help"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Parvault 2\Parvault 2.lnk"
  Delete "$SMPROGRAMS\Parvault 2\Uninstall Parvault 2.lnk"
  RMDir "$SMPROGRAMS\Parvault 2"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Parvault 2"
SectionEnd
