; The installer for Windows users: per user, no administrator. Built by scripts/dist.sh:
;   makensis -INPUTCHARSET UTF8 -DVERSION=x.y -DSRCDIR=<folder with the files> -DICON=<.ico> -DOUTFILE=<setup.exe> installer.nsi
; /S installs (and the uninstaller uninstalls) silently; /D=<folder> chooses the folder.
Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma
ManifestDPIAware true

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvaro"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "Kelvaro"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Kelvaro"
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"
BrandingText "Kelvaro ${VERSION}"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1041 "ProductName" "Kelvaro"
VIAddVersionKey /LANG=1041 "FileDescription" "Kelvaro セットアップ"
VIAddVersionKey /LANG=1041 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "CompanyName" "Kelvaro Project"
VIAddVersionKey /LANG=1041 "LegalCopyright" "Copyright (C) 2026 Kelvaro Project"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\Kelvaro.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

; The user's files, beside the program: kept by an install over an older one, and deleted by the
; uninstaller only when the user says so.
!macro DeleteUserFiles
    Delete "$INSTDIR\Kelvaro.ini"
    Delete "$INSTDIR\MissedCalls.txt"
    Delete "$INSTDIR\MissedCalls.txt.new"
    Delete "$INSTDIR\Identity.key"
    Delete "$INSTDIR\Contacts.txt"
    Delete "$INSTDIR\Messages.txt"
    Delete "$INSTDIR\log\*.txt"
    RMDir "$INSTDIR\log"
!macroend

; A running Kelvaro holds a mutex named after its folder: "Kelvaro " and the folder's path in
; capitals with '/' for '\' (the program builds the same name). $R0 is 1 while one runs from
; $INSTDIR, 0 otherwise.
!macro RunningCopyFunction un
Function ${un}IsRunning
    Push $R1
    Push $R2
    Push $R3
    Push $R4
    StrCpy $R1 "$INSTDIR"
    System::Call 'user32::CharUpperW(w R1 R1)'
    StrCpy $R2 ""
    StrLen $R3 $R1
    StrCpy $R0 0
    ${While} $R0 < $R3
        StrCpy $R4 $R1 1 $R0
        ${If} $R4 == "\"
            StrCpy $R4 "/"
        ${EndIf}
        StrCpy $R2 "$R2$R4"
        IntOp $R0 $R0 + 1
    ${EndWhile}
    ${Do}
        StrCpy $R4 $R2 1 -1
        ${If} $R4 != "/"
            ${Break}
        ${EndIf}
        StrCpy $R2 $R2 -1
    ${Loop}
    ; SYNCHRONIZE access is enough to learn that it exists.
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Kelvaro $R2") p .R4'
    StrCpy $R0 0
    ${If} $R4 != 0
        System::Call 'kernel32::CloseHandle(p R4)'
        StrCpy $R0 1
    ${EndIf}
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R1
FunctionEnd

; A silent run cannot ask: it says why on the error output and ends with exit code 2.
Function ${un}FailSilentlyWhenRunning
    Call ${un}IsRunning
    ${If} $R0 == 1
        System::Call 'kernel32::GetStdHandle(i -12) p .R1'
        ${If} $R1 != 0
        ${AndIf} $R1 != -1
            FileWrite $R1 "Kelvaro is running from $INSTDIR: end it first (Kelvaro が起動しています。終了してからやり直してください).$\r$\n"
        ${EndIf}
        SetErrorLevel 2
        Quit
    ${EndIf}
FunctionEnd
!macroend
!insertmacro RunningCopyFunction ""
!insertmacro RunningCopyFunction "un."

Function .onInit
    ${IfNot} ${RunningX64}
        MessageBox MB_OK|MB_ICONSTOP "Kelvaro は 64 ビット版の Windows で動きます。" /SD IDOK
        SetErrorLevel 3
        Quit
    ${EndIf}
    IfSilent 0 +2
        Call FailSilentlyWhenRunning
FunctionEnd

; The folder is chosen: a Kelvaro running from it must be ended before its files are replaced.
Function DirectoryLeave
    Call IsRunning
    ${If} $R0 == 1
        MessageBox MB_OK|MB_ICONEXCLAMATION "Kelvaro が起動しています。$\r$\nタスクトレイのアイコンのメニューから「ｱﾌﾟﾘｹｰｼｮﾝの終了」を選んで終了してから、もう一度「次へ」を押してください。"
        Abort
    ${EndIf}
FunctionEnd

Section "Kelvaro"
    SetOutPath "$INSTDIR"
    File "${SRCDIR}/Kelvaro.exe"
    File "${SRCDIR}/libgcrypt-20.dll"
    File "${SRCDIR}/libgpg-error-0.dll"
    File "${SRCDIR}/libgcrypt-license.txt"
    File "${SRCDIR}/readme.txt"
    File "${SRCDIR}/history.txt"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortCut "$SMPROGRAMS\Kelvaro.lnk" "$INSTDIR\Kelvaro.exe" "" "$INSTDIR\Kelvaro.exe" 0

    WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "Kelvaro"
    WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "Kelvaro Project"
    WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Kelvaro.exe,0"
    WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    IntFmt $0 "0x%08X" $0
    WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" "$0"
SectionEnd

Function un.onInit
    IfSilent 0 ask
        Call un.FailSilentlyWhenRunning
        Return
    ask:
        Call un.IsRunning
        ${If} $R0 == 1
            MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Kelvaro が起動しています。$\r$\nタスクトレイのアイコンのメニューから「ｱﾌﾟﾘｹｰｼｮﾝの終了」を選んで終了してから、「再試行」を押してください。" IDRETRY ask
            SetErrorLevel 1
            Quit
        ${EndIf}
FunctionEnd

Section "Uninstall"
    Delete "$INSTDIR\Kelvaro.exe"
    Delete "$INSTDIR\libgcrypt-20.dll"
    Delete "$INSTDIR\libgpg-error-0.dll"
    Delete "$INSTDIR\libgcrypt-license.txt"
    Delete "$INSTDIR\readme.txt"
    Delete "$INSTDIR\history.txt"
    Delete "$SMPROGRAMS\Kelvaro.lnk"
    DeleteRegKey HKCU "${UNINST_KEY}"

    ; The start-at-logon entry goes when the program it starts is gone: this one, or a copy
    ; moved or deleted since. One that starts another copy still there stays.
    ReadRegStr $0 HKCU "${RUN_KEY}" "Kelvaro"
    ${If} $0 != ""
        StrCpy $1 $0 1
        ${If} $1 == '"'
            StrCpy $0 $0 "" 1
            StrCpy $2 0
            ${Do}
                StrCpy $1 $0 1 $2
                ${IfThen} $1 == '"' ${|} ${Break} ${|}
                ${IfThen} $1 == "" ${|} ${Break} ${|}
                IntOp $2 $2 + 1
            ${Loop}
            StrCpy $0 $0 $2
        ${Else}
            StrCpy $2 0
            ${Do}
                StrCpy $1 $0 1 $2
                ${IfThen} $1 == " " ${|} ${Break} ${|}
                ${IfThen} $1 == "" ${|} ${Break} ${|}
                IntOp $2 $2 + 1
            ${Loop}
            StrCpy $0 $0 $2
        ${EndIf}
        ${IfNot} ${FileExists} "$0"
            DeleteRegValue HKCU "${RUN_KEY}" "Kelvaro"
        ${EndIf}
    ${EndIf}

    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "設定、電話帳、会話の記録、不在着信なども削除しますか？$\r$\n「いいえ」を選ぶと、これらは $INSTDIR に残ります。" /SD IDNO IDNO keep
        !insertmacro DeleteUserFiles
    keep:
    ; Last, so that its absence says the rest is done.
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
SectionEnd
