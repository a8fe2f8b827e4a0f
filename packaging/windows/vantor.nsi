; vantor-setup.exe: installs Vantor for every user of the machine, with a Start menu entry and an
; uninstaller. Whether Vantor starts with Windows stays the choice of its Options window.
;   makensis -DVERSION=0.1.0 -DBIN_DIR=<folder of vantor.exe> -DOUT_FILE=<vantor-setup.exe> vantor.nsi
; A 64-bit installer for the 64-bit program (and for Wine without its 32-bit half).
Target amd64-unicode
!include "x64.nsh"

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef BIN_DIR
  !error "BIN_DIR is not defined"
!endif
!ifndef OUT_FILE
  !define OUT_FILE "vantor-setup.exe"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantor"

Name "Vantor ${VERSION}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\Vantor"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Section "Vantor"
  SetOutPath "$INSTDIR"
  File "${BIN_DIR}\vantor.exe"
  File "${BIN_DIR}\vantor_help.html"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Vantor"
  CreateShortcut "$SMPROGRAMS\Vantor\Vantor.lnk" "$INSTDIR\vantor.exe"
  CreateShortcut "$SMPROGRAMS\Vantor\Vantor help.lnk" "$INSTDIR\vantor_help.html"
  CreateShortcut "$SMPROGRAMS\Vantor\Uninstall Vantor.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vantor"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vantor.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\vantor.exe"
  Delete "$INSTDIR\vantor_help.html"
  Delete "$INSTDIR\uninstall.exe"
  ; The history, lists and settings a user kept beside the program stay: they are the user's.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Vantor\Vantor.lnk"
  Delete "$SMPROGRAMS\Vantor\Vantor help.lnk"
  Delete "$SMPROGRAMS\Vantor\Uninstall Vantor.lnk"
  RMDir "$SMPROGRAMS\Vantor"
  ; An autostart entry left behind would start a program that is gone at every log-on.
  DeleteRegValue HKLM "Software\Microsoft\Windows\CurrentVersion\Run" "Vantor"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
