; The installer of hgtfill for Windows, made by scripts/build-windows:
;   makensis -INPUTCHARSET UTF8 -DVERSION=… -DSOURCE=<portable folder> -DICON=… -DOUTFILE=… hgtfill.nsi
; Installs for the current user (no administrator rights): the portable folder's files, a start-menu
; entry, an uninstaller, and on request the program folder in the user's PATH for hgtfill-cli.
; A 64-bit installer for a 64-bit program (it also runs where only 64-bit programs can).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"
!include "WinMessages.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"

Name "hgtfill ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\hgtfill"
InstallDirRegKey HKCU "Software\hgtfill\Installation" "Ordner"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_LICENSE "${SOURCE}\LIESMICH.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "German"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\hgtfill"
!define SHORTCUT "$SMPROGRAMS\HGT-Löcher füllen.lnk"

Section "hgtfill (Fenster und Befehlszeile)" SecProgram
    SectionIn RO
    SetOutPath "$INSTDIR"
    File /r "${SOURCE}\*.*"
    WriteUninstaller "$INSTDIR\Deinstallieren.exe"
    CreateShortCut "${SHORTCUT}" "$INSTDIR\hgtfill.exe" "" "$INSTDIR\hgtfill.exe" 0
    WriteRegStr HKCU "Software\hgtfill\Installation" "Ordner" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "hgtfill ${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\hgtfill.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Deinstallieren.exe"'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Off unless chosen: the program folder at the end of the user's PATH, so that hgtfill-cli runs
; from any console.
Section /o "hgtfill-cli in den PATH aufnehmen" SecPath
    ReadRegStr $0 HKCU "Environment" "Path"
    StrCmp $0 "" 0 +3
        StrCpy $0 "$INSTDIR"
        Goto write
    StrCpy $0 "$0;$INSTDIR"
    write:
    WriteRegExpandStr HKCU "Environment" "Path" "$0"
    WriteRegDWORD HKCU "Software\hgtfill\Installation" "PATH" 1
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=500
SectionEnd

; "setup.exe /S /PATH" installs silently with the PATH entry.
Function .onInit
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/PATH" $1
    IfErrors +2
        !insertmacro SelectSection ${SecPath}
FunctionEnd

; $R0 = $R1 with every ";<$R2>" (or a leading "<$R2>;", or the whole "<$R2>") taken out.
Function un.RemoveFromPath
    StrCpy $R0 ""
    StrCpy $R3 ";$R1;"
    StrLen $R4 ";$R2;"
    StrCpy $R5 0
    loop:
        StrCpy $R6 $R3 $R4 $R5
        StrCmp $R6 "" done
        StrCmp $R6 ";$R2;" 0 next
            ; Drop the entry, keep the ';' that ends it as the start of the next one.
            StrCpy $R7 $R3 $R5
            IntOp $R8 $R5 + $R4
            IntOp $R8 $R8 - 1
            StrCpy $R9 $R3 "" $R8
            StrCpy $R3 "$R7$R9"
            Goto loop
        next:
        IntOp $R5 $R5 + 1
        Goto loop
    done:
    ; Without the ';' added at both ends.
    StrCpy $R0 $R3 "" 1
    StrCpy $R0 $R0 -1
FunctionEnd

Section "Uninstall"
    ReadRegDWORD $0 HKCU "Software\hgtfill\Installation" "PATH"
    StrCmp $0 1 0 nopath
        ReadRegStr $R1 HKCU "Environment" "Path"
        StrCpy $R2 "$INSTDIR"
        Call un.RemoveFromPath
        WriteRegExpandStr HKCU "Environment" "Path" "$R0"
        SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=500
    nopath:
    Delete "${SHORTCUT}"
    RMDir /r "$INSTDIR\plugins"
    RMDir /r "$INSTDIR\translations"
    RMDir /r "$INSTDIR\lizenzen"
    Delete "$INSTDIR\*.exe"
    Delete "$INSTDIR\*.dll"
    Delete "$INSTDIR\qt.conf"
    Delete "$INSTDIR\LIESMICH.txt"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ; The remembered options stay: a new installation finds them again.
    DeleteRegKey HKCU "Software\hgtfill\Installation"
SectionEnd
