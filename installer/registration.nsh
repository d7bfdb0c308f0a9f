; The keys that make korvane.dll the shell's context-menu handler, and the
; Run value that starts the daemon at login. One table of menu targets feeds
; both the writing and the removal, so the uninstaller removes exactly what
; the installer wrote.
;
; Everything goes to the 64-bit view of HKEY_LOCAL_MACHINE: the DLL is
; 64-bit and installed for every user of the machine, and COM (Wine's ole32
; too) finds an in-process server registered under HKLM\Software\Classes.

!define KORVANE_CLASSES "Software\Classes"
!define KORVANE_HANDLER_NAME "Korvane"
!define KORVANE_APPROVED_KEY "Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved"
!define KORVANE_RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The keys the installer had to create on the way to a handler key are
; recorded here (one value per key), so that the uninstaller removes those
; and never a key that was there before.
!define KORVANE_CREATED_KEYS "${KORVANE_UNINSTALL_KEY}\CreatedKeys"

; The shell's menus the handler joins: files, a folder's background,
; folders. A key comes before its parent's (Directory\Background before
; Directory): the uninstaller removes the keys the installer created in this
; order, children first.
!macro KorvaneForEachMenuTarget MACRO
  !insertmacro ${MACRO} "*"
  !insertmacro ${MACRO} "Directory\Background"
  !insertmacro ${MACRO} "Directory"
!macroend

; HKEY_LOCAL_MACHINE as the 64-bit handle value; KEY_READ | KEY_WOW64_64KEY.
!define KORVANE_HKLM_HANDLE -2147483646
!define KORVANE_KEY_READ_64 0x20119

!macro KorvaneRecordIfMissing KEY
  System::Call 'advapi32::RegOpenKeyExW(p ${KORVANE_HKLM_HANDLE}, w "${KEY}", i 0, i ${KORVANE_KEY_READ_64}, *p .r1) i .r0'
  ${If} $0 = 0
    System::Call 'advapi32::RegCloseKey(p r1)'
  ${Else}
    WriteRegStr HKLM "${KORVANE_CREATED_KEYS}" "${KEY}" "created"
  ${EndIf}
!macroend

; Records each key on the way from Software\Classes to $R0 (below HKLM),
; $R0 included, that does not exist yet.
Function KorvaneRecordMissingKeys
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  StrLen $2 "${KORVANE_CLASSES}"
  StrLen $3 $R0
  ${Do}
    IntOp $2 $2 + 1
    ${If} $2 >= $3
      !insertmacro KorvaneRecordIfMissing $R0
      ${ExitDo}
    ${EndIf}
    StrCpy $4 $R0 1 $2
    ${If} $4 == "\"
      StrCpy $4 $R0 $2
      !insertmacro KorvaneRecordIfMissing $4
    ${EndIf}
  ${Loop}
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

!macro KorvaneRegisterMenuTarget TARGET
  StrCpy $R0 "${KORVANE_CLASSES}\${TARGET}\shellex\ContextMenuHandlers"
  Call KorvaneRecordMissingKeys
  WriteRegStr HKLM "$R0\${KORVANE_HANDLER_NAME}" "" "${KORVANE_CLSID}"
!macroend

; Removes KEY when the installer created it and nothing else lives below it now.
!macro KorvaneRemoveIfCreated KEY
  ReadRegStr $0 HKLM "${KORVANE_CREATED_KEYS}" "${KEY}"
  ${If} $0 == "created"
    DeleteRegKey /ifempty HKLM "${KEY}"
  ${EndIf}
!macroend

!macro KorvaneUnregisterMenuTarget TARGET
  DeleteRegKey HKLM "${KORVANE_CLASSES}\${TARGET}\shellex\ContextMenuHandlers\${KORVANE_HANDLER_NAME}"
  !insertmacro KorvaneRemoveIfCreated "${KORVANE_CLASSES}\${TARGET}\shellex\ContextMenuHandlers"
  !insertmacro KorvaneRemoveIfCreated "${KORVANE_CLASSES}\${TARGET}\shellex"
  !insertmacro KorvaneRemoveIfCreated "${KORVANE_CLASSES}\${TARGET}"
!macroend

; The in-process COM server, its handler keys, and the approval that Explorer
; asks for where administrators allow approved extensions only.
!macro KorvaneRegisterShellExtension
  WriteRegStr HKLM "${KORVANE_CLASSES}\CLSID\${KORVANE_CLSID}" "" "${KORVANE_HANDLER_NAME}"
  WriteRegStr HKLM "${KORVANE_CLASSES}\CLSID\${KORVANE_CLSID}\InprocServer32" "" "$INSTDIR\korvane.dll"
  WriteRegStr HKLM "${KORVANE_CLASSES}\CLSID\${KORVANE_CLSID}\InprocServer32" "ThreadingModel" "Apartment"
  !insertmacro KorvaneForEachMenuTarget KorvaneRegisterMenuTarget
  WriteRegStr HKLM "${KORVANE_APPROVED_KEY}" "${KORVANE_CLSID}" "${KORVANE_HANDLER_NAME}"
  ; Tell the shell that handlers changed (SHCNE_ASSOCCHANGED).
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
!macroend

!macro KorvaneUnregisterShellExtension
  !insertmacro KorvaneForEachMenuTarget KorvaneUnregisterMenuTarget
  DeleteRegValue HKLM "${KORVANE_APPROVED_KEY}" "${KORVANE_CLSID}"
  DeleteRegKey HKLM "${KORVANE_CLASSES}\CLSID\${KORVANE_CLSID}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
!macroend

; Every user's daemon starts when they sign in: the install is the machine's.
!macro KorvaneRegisterLoginStart
  WriteRegStr HKLM "${KORVANE_RUN_KEY}" "${KORVANE_HANDLER_NAME}" '"$INSTDIR\${KORVANE_DAEMON_EXE}"'
!macroend

!macro KorvaneUnregisterLoginStart
  DeleteRegValue HKLM "${KORVANE_RUN_KEY}" "${KORVANE_HANDLER_NAME}"
!macroend
