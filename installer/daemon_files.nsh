; What the uninstaller removes of the daemon's folders in
; %LOCALAPPDATA%\Korvane (the user's who uninstalls), and what it keeps.
;
;   run\                  the start lock                       removed
;   state\                the log, the job list, the activated
;                         folders, locks                       removed
;   state\removed\        folders a person put aside           kept while it holds any
;   data\                 the spaces' repositories: people's
;                         files, every version they wrote      kept while it holds any
;                                                              repository
;
; The configuration in %APPDATA%\Korvane is the person's own (the team
; service and user name they wrote there) and is kept too; the shared
; folders themselves are never touched.

!define KORVANE_SPACES_FOLDER "data\spaces\svn.halcyra.com\svn"

; $0: 1 when FOLDER holds any entry, else 0.
!macro KorvaneFolderHoldsAny FOLDER
  StrCpy $0 0
  FindFirst $1 $2 "${FOLDER}\*"
  ${DoUntil} $2 == ""
    ${If} $2 != "."
    ${AndIf} $2 != ".."
      StrCpy $0 1
      ${Break}
    ${EndIf}
    FindNext $1 $2
  ${Loop}
  FindClose $1
!macroend

Function un.KorvaneRemoveDaemonFiles
  Push $0
  Push $1
  Push $2
  Push $3
  SetShellVarContext current
  StrCpy $3 "$LOCALAPPDATA\Korvane"
  ${If} ${FileExists} "$3\*"
    DetailPrint "Removing the daemon's log, state and runtime files from $3"
    RMDir /r "$3\run"
    ; Every entry of state\ but removed\.
    FindFirst $1 $2 "$3\state\*"
    ${DoUntil} $2 == ""
      ${If} $2 == "."
      ${OrIf} $2 == ".."
      ${OrIf} $2 == "removed"
        ; kept, or not an entry
      ${ElseIf} ${FileExists} "$3\state\$2\*"
        RMDir /r "$3\state\$2"
      ${Else}
        Delete "$3\state\$2"
      ${EndIf}
      FindNext $1 $2
    ${Loop}
    FindClose $1
    RMDir "$3\state\removed"
    RMDir "$3\state"
    !insertmacro KorvaneFolderHoldsAny "$3\${KORVANE_SPACES_FOLDER}"
    ${If} $0 = 0
      RMDir /r "$3\data"
    ${Else}
      DetailPrint "Kept the spaces' repositories in $3\data"
    ${EndIf}
    ${If} ${FileExists} "$3\state\removed\*"
      DetailPrint "Kept the folders put aside in $3\state\removed"
    ${EndIf}
    RMDir "$3"
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
