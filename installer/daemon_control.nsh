; Stopping the installed daemon before its files are replaced or removed, and
; starting it after an install. The stop is the library's own request
; (Korvane_StopDaemon, through the System plug-in); then the installer waits
; for every KorvaneBkgProc.exe running from $INSTDIR to end, at most
; $KorvaneStopWait milliseconds (/STOPWAIT=MS; 30 s by default). The daemon
; itself gives running work a few seconds' grace before it leaves, so the
; default is well above that.

!define KORVANE_DAEMON_STOP_WAIT_MS 30000
!define TH32CS_SNAPPROCESS 2
; SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION
!define KORVANE_PROCESS_WAIT_ACCESS 0x00101000
; PROCESSENTRY32W on x64: the executable's name starts at byte 44.
!define KORVANE_PROCESSENTRY_SIZE 568

Var KorvaneDaemonStopped
Var KorvaneStopWait

!macro KorvaneDaemonControlFunctions UN

; A handle (waitable) to a KorvaneBkgProc.exe whose image is
; $INSTDIR\KorvaneBkgProc.exe, in $0; 0 when none runs.
Function ${UN}KorvaneOpenInstalledDaemon
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  StrCpy $0 0
  GetFullPathName $6 "$INSTDIR\${KORVANE_DAEMON_EXE}"
  System::Call 'kernel32::CreateToolhelp32Snapshot(i ${TH32CS_SNAPPROCESS}, i 0) p .r1'
  ${If} $1 P<> -1
    System::Alloc ${KORVANE_PROCESSENTRY_SIZE}
    Pop $2
    System::Call '*$2(i ${KORVANE_PROCESSENTRY_SIZE})'
    System::Call 'kernel32::Process32FirstW(p r1, p r2) i .r3'
    ${DoWhile} $3 <> 0
      ; dwSize, cntUsage, th32ProcessID, padding, th32DefaultHeapID,
      ; th32ModuleID, cntThreads, th32ParentProcessID, pcPriClassBase,
      ; dwFlags, szExeFile
      System::Call '*$2(i, i, i .r4, i, p, i, i, i, i, i, &w260 .r5)'
      ${If} $5 == "${KORVANE_DAEMON_EXE}"
        System::Call 'kernel32::OpenProcess(i ${KORVANE_PROCESS_WAIT_ACCESS}, i 0, i r4) p .r4'
        ${If} $4 P<> 0
          System::Call 'kernel32::QueryFullProcessImageNameW(p r4, i 0, w .r5, *i ${NSIS_MAX_STRLEN}) i .r3'
          ${If} $3 <> 0
          ${AndIf} $5 == $6
            StrCpy $0 $4
            ${Break}
          ${EndIf}
          System::Call 'kernel32::CloseHandle(p r4)'
        ${EndIf}
      ${EndIf}
      System::Call 'kernel32::Process32NextW(p r1, p r2) i .r3'
    ${Loop}
    System::Free $2
    System::Call 'kernel32::CloseHandle(p r1)'
  ${EndIf}
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; Asks the daemon to stop, through the korvane.dll that $R9 names, when one
; runs from $INSTDIR, and waits for every such process to end.
; $KorvaneDaemonStopped: 1 when none runs from there any more, else 0.
Function ${UN}KorvaneStopInstalledDaemon
  Push $0
  Push $1
  Push $2
  StrCpy $KorvaneDaemonStopped 1
  Call ${UN}KorvaneOpenInstalledDaemon
  ${If} $0 P<> 0
    DetailPrint "Stopping the running Korvane daemon"
    ; 1: asked; 0: no daemon answered the pipe (it may be starting, or
    ; another session's); the wait below decides either way.
    System::Call '$R9::Korvane_StopDaemon() i .r1 ?u'
    System::Call 'kernel32::GetTickCount() i .r2'
    IntOp $2 $2 + $KorvaneStopWait
    ${DoWhile} $0 P<> 0
      System::Call 'kernel32::GetTickCount() i .r1'
      IntOp $1 $2 - $1
      ${If} $1 < 0
        StrCpy $1 0
      ${EndIf}
      System::Call 'kernel32::WaitForSingleObject(p r0, i r1) i .r1'
      System::Call 'kernel32::CloseHandle(p r0)'
      ${If} $1 <> 0
        ; WAIT_TIMEOUT (or a failed wait): the daemon is still there.
        StrCpy $KorvaneDaemonStopped 0
        ${Break}
      ${EndIf}
      ; That one ended; another (a second session's) may run from here too.
      Call ${UN}KorvaneOpenInstalledDaemon
    ${Loop}
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Stops the daemon as above; when it does not go, asks to retry (a silent
; run cancels) and aborts the run, leaving every file as it was.
Function ${UN}KorvaneStopInstalledDaemonOrAbort
  retry:
  Call ${UN}KorvaneStopInstalledDaemon
  ${If} $KorvaneDaemonStopped = 1
    Return
  ${EndIf}
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
    "The Korvane daemon ($INSTDIR\${KORVANE_DAEMON_EXE}) is still running.$\r$\nIt may be working in another user's session; stop it there, then retry." \
    /SD IDCANCEL IDRETRY retry
  Abort "The Korvane daemon did not stop within $KorvaneStopWait ms; nothing was changed."
FunctionEnd

; Reads /STOPWAIT=MS from the command line.
Function ${UN}KorvaneReadStopWait
  StrCpy $KorvaneStopWait ${KORVANE_DAEMON_STOP_WAIT_MS}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/STOPWAIT=" $1
  ${IfNot} ${Errors}
  ${AndIf} $1 >= 0
    IntOp $KorvaneStopWait $1 + 0
  ${EndIf}
FunctionEnd

!macroend

!insertmacro KorvaneDaemonControlFunctions ""
!insertmacro KorvaneDaemonControlFunctions "un."
