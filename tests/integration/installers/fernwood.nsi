; Fernwood Notes: a small per-machine program installed the way NSIS installers usually do it.
; Built at test time with
;   makensis -DPAYLOAD=<folder holding fernpad.exe and fernwood.dll> -DSETUP=<output .exe>
; and installed silently with `fernwood-setup.exe /S`.

!ifndef PAYLOAD | SETUP
  !error "define PAYLOAD (the folder of the files to install) and SETUP (the installer to write)"
!endif

Target amd64-unicode
Name "Fernwood Notes"
OutFile "${SETUP}"
InstallDir "$PROGRAMFILES64\Fernwood"
RequestExecutionLevel admin

Page directory
Page instfiles
UninstPage instfiles

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Fernwood"
!define APP_PATH_KEY "Software\Microsoft\Windows\CurrentVersion\App Paths\fernpad.exe"
!define SHARED_DLLS_KEY "Software\Microsoft\Windows\CurrentVersion\SharedDLLs"
!define SHARED_DLL "$INSTDIR\fernwood.dll"

Section "Fernwood Notes"
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "${PAYLOAD}/fernpad.exe"
  File "${PAYLOAD}/fernwood.dll"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The shared library is counted, so that several programs can install it and the last one
  ; to leave removes it.
  ReadRegDWORD $0 HKLM "${SHARED_DLLS_KEY}" "${SHARED_DLL}"
  IntOp $0 $0 + 1
  WriteRegDWORD HKLM "${SHARED_DLLS_KEY}" "${SHARED_DLL}" $0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Fernwood Notes"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\fernpad.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Fernwood Software"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "2.4"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  WriteRegStr HKLM "${APP_PATH_KEY}" "" "$INSTDIR\fernpad.exe"
  WriteRegStr HKLM "${APP_PATH_KEY}" "Path" "$INSTDIR"

  WriteRegStr HKCR ".fwn" "" "Fernwood.Note"
  WriteRegStr HKCR "Fernwood.Note" "" "Fernwood note"
  WriteRegStr HKCR "Fernwood.Note\DefaultIcon" "" "$INSTDIR\fernpad.exe,1"
  WriteRegStr HKCR "Fernwood.Note\shell\open\command" "" '"$INSTDIR\fernpad.exe" "%1"'
  WriteRegStr HKCR "Fernwood.Note\shell\print\command" "" '"$INSTDIR\fernpad.exe" /p "%1"'
SectionEnd

Section "Uninstall"
  SetRegView 64
  ReadRegDWORD $0 HKLM "${SHARED_DLLS_KEY}" "${SHARED_DLL}"
  IntOp $0 $0 - 1
  IntCmp $0 0 last last still_used
  last:
    DeleteRegValue HKLM "${SHARED_DLLS_KEY}" "${SHARED_DLL}"
    Delete "${SHARED_DLL}"
    Goto counted
  still_used:
    WriteRegDWORD HKLM "${SHARED_DLLS_KEY}" "${SHARED_DLL}" $0
  counted:

  DeleteRegKey HKCR "Fernwood.Note"
  DeleteRegKey HKCR ".fwn"
  DeleteRegKey HKLM "${APP_PATH_KEY}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\fernpad.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
