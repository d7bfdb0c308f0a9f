; korvane-setup.exe: installs korvane.dll and the daemon KorvaneBkgProc.exe
; side by side (the library starts the daemon from its own folder), makes
; the DLL the shell's context-menu handler, starts the daemon at login, and
; writes uninstall.exe beside them. 64-bit Windows only.
;
; The build passes (makensis -D): KORVANE_VERSION (x.y.z), KORVANE_CLSID,
; KORVANE_DLL and KORVANE_DAEMON (the files to install), KORVANE_ICON and
; KORVANE_OUTFILE.
;
; Command line: /S silent; /D=FOLDER the install folder (last, unquoted);
; /NOSTART leaves the daemon stopped at the end (it starts at the next login,
; or when the shell's menu first needs it); /STOPWAIT=MS how long to wait
; for a running daemon to stop (30000 by default). The uninstaller takes /S
; and /STOPWAIT=MS.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!define KORVANE_PRODUCT "Korvane"
!define KORVANE_DAEMON_EXE "KorvaneBkgProc.exe"
!define KORVANE_UNINSTALLER "uninstall.exe"
!define KORVANE_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane"

!include LogicLib.nsh
!include FileFunc.nsh
!include MUI2.nsh
!include "registration.nsh"
!include "daemon_control.nsh"
!include "daemon_files.nsh"

Name "${KORVANE_PRODUCT} ${KORVANE_VERSION}"
OutFile "${KORVANE_OUTFILE}"
InstallDir "$PROGRAMFILES64\${KORVANE_PRODUCT}"
; A second install goes where the first one went.
InstallDirRegKey HKLM "${KORVANE_UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${KORVANE_VERSION}.0"
VIAddVersionKey ProductName "${KORVANE_PRODUCT}"
VIAddVersionKey ProductVersion "${KORVANE_VERSION}"
VIAddVersionKey FileVersion "${KORVANE_VERSION}"
VIAddVersionKey FileDescription "${KORVANE_PRODUCT} setup"
VIAddVersionKey LegalCopyright "${KORVANE_PRODUCT}"

!define MUI_ICON "${KORVANE_ICON}"
!define MUI_UNICON "${KORVANE_ICON}"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "Korvane is installed. Right-click a folder in Explorer and open the Korvane menu to share it.$\r$\n$\r$\nThe daemon starts when you sign in."
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "Korvane's program files, its shell menu and its start at login will be removed, with the daemon's log, job list and activated folders.$\r$\nYour shared folders are not touched. Your spaces' repositories (%LOCALAPPDATA%\Korvane\data), folders you put aside (%LOCALAPPDATA%\Korvane\state\removed) and your settings (%APPDATA%\Korvane) are kept."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Var StartDaemon

Function .onInit
  SetRegView 64
  StrCpy $StartDaemon 1
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOSTART" $1
  ${IfNot} ${Errors}
    StrCpy $StartDaemon 0
  ${EndIf}
  Call KorvaneReadStopWait
FunctionEnd

Function un.onInit
  SetRegView 64
  Call un.KorvaneReadStopWait
FunctionEnd

; Replaces FILE in $INSTDIR with the built one. A korvane.dll that a shell
; still has loaded cannot be overwritten but can be renamed: it is moved
; aside and goes at the next restart.
!macro KorvaneInstallFile SOURCE NAME
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    ClearErrors
    Delete "$INSTDIR\${NAME}"
    ${If} ${Errors}
      Delete "$INSTDIR\${NAME}.old"
      Rename "$INSTDIR\${NAME}" "$INSTDIR\${NAME}.old"
      Delete /REBOOTOK "$INSTDIR\${NAME}.old"
    ${EndIf}
  ${EndIf}
  File "/oname=${NAME}" "${SOURCE}"
!macroend

Section "Korvane" SectionKorvane
  SectionIn RO
  SetRegView 64
  ; The stop request goes through the library being installed: the pipe
  ; protocol is the same for every version.
  InitPluginsDir
  File "/oname=$PLUGINSDIR\korvane.dll" "${KORVANE_DLL}"
  StrCpy $R9 "$PLUGINSDIR\korvane.dll"
  Call KorvaneStopInstalledDaemonOrAbort

  SetOutPath "$INSTDIR"
  !insertmacro KorvaneInstallFile "${KORVANE_DLL}" "korvane.dll"
  !insertmacro KorvaneInstallFile "${KORVANE_DAEMON}" "${KORVANE_DAEMON_EXE}"
  WriteUninstaller "$INSTDIR\${KORVANE_UNINSTALLER}"

  WriteRegStr HKLM "${KORVANE_UNINSTALL_KEY}" "DisplayName" "${KORVANE_PRODUCT}"
  WriteRegStr HKLM "${KORVANE_UNINSTALL_KEY}" "DisplayVersion" "${KORVANE_VERSION}"
  WriteRegStr HKLM "${KORVANE_UNINSTALL_KEY}" "Publisher" "${KORVANE_PRODUCT}"
  WriteRegStr HKLM "${KORVANE_UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\korvane.dll,0"
  WriteRegStr HKLM "${KORVANE_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${KORVANE_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${KORVANE_UNINSTALLER}"'
  WriteRegStr HKLM "${KORVANE_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${KORVANE_UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${KORVANE_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${KORVANE_UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${KORVANE_UNINSTALL_KEY}" "EstimatedSize" $0

  !insertmacro KorvaneRegisterShellExtension
  !insertmacro KorvaneRegisterLoginStart

  ${If} $StartDaemon = 1
    DetailPrint "Starting the Korvane daemon"
    ; Started by the installed library, as the shell's menu starts it.
    System::Call '$INSTDIR\korvane.dll::Korvane_StartDaemon() i .r0 ?u'
    ${If} $0 <> 1
      DetailPrint "The daemon did not start; it starts at the next sign-in."
    ${EndIf}
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetRegView 64
  ; The stop request goes through a copy of the installed library, so that
  ; nothing holds the installed one when it is deleted.
  InitPluginsDir
  CopyFiles /SILENT "$INSTDIR\korvane.dll" "$PLUGINSDIR\korvane.dll"
  StrCpy $R9 "$PLUGINSDIR\korvane.dll"
  Call un.KorvaneStopInstalledDaemonOrAbort

  !insertmacro KorvaneUnregisterLoginStart
  !insertmacro KorvaneUnregisterShellExtension
  ; A shell that still has the DLL loaded lets it go at the next restart.
  Delete /REBOOTOK "$INSTDIR\korvane.dll"
  Delete /REBOOTOK "$INSTDIR\korvane.dll.old"
  Delete "$INSTDIR\${KORVANE_DAEMON_EXE}"
  Delete "$INSTDIR\${KORVANE_UNINSTALLER}"
  RMDir /REBOOTOK "$INSTDIR"

  Call un.KorvaneRemoveDaemonFiles

  DeleteRegKey HKLM "${KORVANE_CREATED_KEYS}"
  DeleteRegKey HKLM "${KORVANE_UNINSTALL_KEY}"
SectionEnd
