; BrindleVideoSetup.exe: installs the control program with its locales and the camera "Orvik" for
; 64-bit and 32-bit capture applications, registers both camera DLLs, registers the Media
; Foundation camera on Windows 11, and writes an uninstaller.
; The build passes what it made (installer/CMakeLists.txt):
;   VERSION, VERSION_QUAD, PUBLISHER, CONTROL_EXE, LOCALES_DIR, VCAM_X64, VCAM_X86, MFCAM_X64, ICON,
;   PICTURE, OUTFILE
; A 64-bit program: the control program and its camera need 64-bit Windows, which refuses this
; installer elsewhere. It runs on hosts that cannot run 32-bit programs at all.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "Brindle Video"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\BrindleVideo"
!define CONTROL "BrindleVideoControl.exe"
!define CAMERA "BrindleVideoVCam.dll"
; The Media Foundation camera's source, which Windows 11's Frame Server loads (64-bit only).
!define MFCAMERA "BrindleVideoMFCam.dll"
; The control program's window class: while it is found, the program is running.
!define WINDOW_CLASS "BrindleVideoWindow"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"

!pragma warning disable 9100  ; no LegalCopyright in the version information
VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

; The folder of an installation found at start; an install over it upgrades it in place.
Var previous

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${PICTURE}"
!define MUI_ABORTWARNING
!define MUI_PAGE_CUSTOMFUNCTION_PRE skipDirectoryOnUpgrade
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "${PRODUCT} is installed"
!define MUI_FINISHPAGE_TEXT "Start ${PRODUCT} from the Start menu. Video applications list its camera as $\"Orvik$\"."
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Everything the installation consists of, removed by the uninstaller and by a failed install
; alike. Each DLL is unregistered by the regsvr32 of its own bitness before it goes.
!macro REMOVE_INSTALLATION un
Function ${un}removeInstallation
  SetOutPath "$TEMP"  ; a folder in use as the current one cannot be removed
  ; The virtual camera first, while the program that removes it and the source it names are
  ; still there. Logged only: removal goes on whatever it says.
  ${If} ${FileExists} "$INSTDIR\${CONTROL}"
    nsExec::ExecToLog '"$INSTDIR\${CONTROL}" --unregister-camera'
    Pop $0
  ${EndIf}
  ExecWait '"$WINDIR\System32\regsvr32.exe" /s /u "$INSTDIR\x64\${MFCAMERA}"'
  ExecWait '"$WINDIR\System32\regsvr32.exe" /s /u "$INSTDIR\x64\${CAMERA}"'
  ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" /s /u "$INSTDIR\x86\${CAMERA}"'
  ; A capture application may still hold a DLL: it goes at the next restart.
  Delete /REBOOTOK "$INSTDIR\x64\${CAMERA}"
  Delete /REBOOTOK "$INSTDIR\x64\${MFCAMERA}"
  Delete /REBOOTOK "$INSTDIR\x86\${CAMERA}"
  Delete /REBOOTOK "$INSTDIR\${CONTROL}"
  Delete "$INSTDIR\locales\*.json"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR\x64"
  RMDir "$INSTDIR\x86"
  RMDir "$INSTDIR\locales"
  ${If} ${RebootFlag}
    RMDir /REBOOTOK "$INSTDIR"
  ${Else}
    RMDir "$INSTDIR"
  ${EndIf}
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
FunctionEnd
!macroend
!insertmacro REMOVE_INSTALLATION ""
!insertmacro REMOVE_INSTALLATION "un."

; Files of a running control program cannot be replaced or removed: the user closes it first.
; A silent run cannot ask, so it fails instead.
!macro WAIT_FOR_CLOSED_PROGRAM un
Function ${un}waitForClosedProgram
  ${Do}
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 == 0
      Return
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} is running. Close it, then choose Retry." \
      /SD IDCANCEL IDRETRY retry
    SetErrorLevel 4
    Abort "${PRODUCT} is running."
    retry:
  ${Loop}
FunctionEnd
!macroend
!insertmacro WAIT_FOR_CLOSED_PROGRAM ""
!insertmacro WAIT_FOR_CLOSED_PROGRAM "un."

Function .onInit
  SetShellVarContext all
  SetRegView 64
  ReadRegStr $previous HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $previous != ""
  ${AndIf} ${FileExists} "$previous\Uninstall.exe"
    StrCpy $INSTDIR $previous
  ${Else}
    StrCpy $previous ""
  ${EndIf}
FunctionEnd

Function skipDirectoryOnUpgrade
  ${If} $previous != ""
    Abort
  ${EndIf}
FunctionEnd

; Reports a failed step, takes back what this run made and ends with a failure code.
!macro FAIL message
  DetailPrint "${message}"
  MessageBox MB_ICONSTOP "${message}" /SD IDOK
  Call removeInstallation
  SetErrorLevel 5
  Abort "${message}"
!macroend

Section "Install"
  SetShellVarContext all
  SetRegView 64
  Call waitForClosedProgram

  ${If} $previous != ""
    ; The earlier version's own uninstaller removes what it made. "_?=" runs it in place, so
    ; that it is really finished when ExecWait returns; it cannot delete itself then.
    DetailPrint "Removing the earlier version in $previous"
    ExecWait '"$previous\Uninstall.exe" /S _?=$previous' $0
    ${If} $0 != 0
      !insertmacro FAIL "The earlier version of ${PRODUCT} could not be removed."
    ${EndIf}
    Delete "$previous\Uninstall.exe"
    RMDir "$previous"
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "/oname=${CONTROL}" "${CONTROL_EXE}"
  SetOutPath "$INSTDIR\locales"
  File "${LOCALES_DIR}/*.json"
  SetOutPath "$INSTDIR\x64"
  File "${VCAM_X64}"
  File "${MFCAM_X64}"
  SetOutPath "$INSTDIR\x86"
  File "${VCAM_X86}"
  SetOutPath "$INSTDIR"

  ; A 64-bit installer sees the real System32 (64-bit regsvr32); the 32-bit one is in SysWOW64.
  DetailPrint "Registering the camera for 64-bit applications"
  ExecWait '"$WINDIR\System32\regsvr32.exe" /s "$INSTDIR\x64\${CAMERA}"' $0
  ${If} $0 != 0
    !insertmacro FAIL "The camera could not be registered for 64-bit applications (regsvr32: $0)."
  ${EndIf}
  ; Windows without its 32-bit subsystem (WoW64) cannot start the 32-bit regsvr32, nor any 32-bit
  ; application that would use that camera.
  DetailPrint "Registering the camera for 32-bit applications"
  ClearErrors
  ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" /s "$INSTDIR\x86\${CAMERA}"' $0
  ${If} ${Errors}
    DetailPrint "This Windows runs no 32-bit programs: the camera is for 64-bit applications only."
  ${ElseIf} $0 != 0
    !insertmacro FAIL "The camera could not be registered for 32-bit applications (regsvr32: $0)."
  ${EndIf}

  ; Windows 11 runs the Media Foundation camera's source in its Frame Server; the class must be
  ; registered before the virtual camera that names it. Windows 10 has no virtual cameras: the
  ; program says so and succeeds. A failure here leaves the DirectShow camera working, so the
  ; user is told and the installation stays.
  DetailPrint "Registering the camera for Windows 11 applications"
  ExecWait '"$WINDIR\System32\regsvr32.exe" /s "$INSTDIR\x64\${MFCAMERA}"' $0
  ${If} $0 == 0
    nsExec::ExecToLog '"$INSTDIR\${CONTROL}" --register-camera'
    Pop $0
  ${EndIf}
  ; String comparison: nsExec gives "error" when the program did not start.
  ${If} $0 S!= "0"
    MessageBox MB_ICONEXCLAMATION "The camera could not be registered for Windows 11 applications ($0). \
      Applications that use DirectShow cameras still list $\"Orvik$\"." /SD IDOK
  ${EndIf}

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${CONTROL}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${CONTROL},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Section "Uninstall"
  Call un.waitForClosedProgram
  Call un.removeInstallation
  ${If} ${RebootFlag}
    MessageBox MB_ICONINFORMATION \
      "A video application still uses the camera. Its files are removed when Windows restarts." /SD IDOK
  ${EndIf}
SectionEnd
