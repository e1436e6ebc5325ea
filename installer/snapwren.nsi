; Snapwren's Windows installer: one user's installation, without elevation (Snapwren's manifest
; asks for asInvoker), into %LOCALAPPDATA%\Programs\Snapwren, with a Start-menu entry, an optional
; start at sign-in and an uninstaller listed among the user's installed programs. /S installs
; silently. Built by scripts/build-installer.sh, which calls
;
;   makensis -DSNAPWREN_EXE=<built Snapwren.exe> -DOUTDIR=<folder> installer/snapwren.nsi
;
; The version comes from Snapwren.exe's own version resource, so it is set in one place only.
;
; An installation over an existing one is an update: it keeps the folder and the start-at-sign-in
; choice, asks nothing, and starts Snapwren again at the end, also when silent. Snapwren's own
; update starts this installer and quits right after; the installer waits for it to be gone.

Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma
; A failed file write offers only Abort and Retry: an ignored Snapwren.exe would leave the old
; program registered as the new version.
AllowSkipFiles off

!ifndef SNAPWREN_EXE
  !error "SNAPWREN_EXE must name the built Snapwren.exe (-DSNAPWREN_EXE=...)"
!endif
!ifndef OUTDIR
  !define OUTDIR "."
!endif
!getdllversion "${SNAPWREN_EXE}" SNAPWREN_VERSION_
!define VERSION "${SNAPWREN_VERSION_1}.${SNAPWREN_VERSION_2}.${SNAPWREN_VERSION_3}"

!define APP_NAME "Snapwren"
!define APP_EXE "Snapwren.exe"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Snapwren"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; What Snapwren.exe creates while it runs (app/main.cpp): its single-instance mutex and the
; message-only tray window.
!define MUTEX_NAME "SnapwrenMutex"
!define TRAY_CLASS "SnapwrenTrayClass"
!define HWND_MESSAGE -3
!define SYNCHRONIZE 0x00100000
; Snapwren's update quits within a second of starting the installer; a Snapwren still running
; after this long was not asked to quit, and the user decides.
!define WAIT_FOR_EXIT_MS 10000
!define WAIT_STEP_MS 250

Name "${APP_NAME}"
Caption "${APP_NAME} ${VERSION} Installation"
UninstallCaption "${APP_NAME} deinstallieren"
BrandingText "${APP_NAME} ${VERSION}"
OutFile "${OUTDIR}/Snapwren-Setup-${VERSION}.exe"
InstallDir "$LOCALAPPDATA\Programs\${APP_NAME}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1031 "ProductName" "${APP_NAME}"
VIAddVersionKey /LANG=1031 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1031 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1031 "FileDescription" "${APP_NAME} Installation"
VIAddVersionKey /LANG=1031 "CompanyName" "${APP_NAME}"
VIAddVersionKey /LANG=1031 "LegalCopyright" "© ${APP_NAME}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"

Var IsUpdate

!define MUI_ICON "..\resources\app.ico"
!define MUI_UNICON "..\resources\app.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipOnUpdate
!define MUI_COMPONENTSPAGE_TEXT_TOP "Snapwren wird nur für das eigene Benutzerkonto installiert, ohne Administratorrechte."
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipOnUpdate
!define MUI_FINISHPAGE_RUN "$INSTDIR\${APP_EXE}"
!define MUI_FINISHPAGE_RUN_TEXT "Snapwren jetzt starten"
!insertmacro MUI_PAGE_FINISH

!define MUI_COMPONENTSPAGE_TEXT_TOP "Die Einstellungen (settings.ini) bleiben erhalten, wenn sie nicht ausgewählt werden."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "German"

; Waits until no Snapwren runs in this session and Snapwren.exe in $INSTDIR can be written, for
; at most the time-out on the stack (ms); then asks the user to quit Snapwren, or, when silent,
; gives up. The result on the stack is 1 when the way is clear, 0 when not.
!macro WAIT_FOR_SNAPWREN_FUNCTION UN
Function ${UN}SnapwrenInTheWay
  Push $0
  Push $1
  StrCpy $1 0
  System::Call 'user32::FindWindowExW(p ${HWND_MESSAGE}, p 0, w "${TRAY_CLASS}", p 0) p .r0'
  ${If} $0 != 0
    StrCpy $1 1
  ${EndIf}
  ; The mutex exists from Snapwren's first moments, before its tray window, until just before
  ; it ends.
  System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${MUTEX_NAME}") p .r0'
  ${If} $0 != 0
    System::Call 'kernel32::CloseHandle(p r0)'
    StrCpy $1 1
  ${EndIf}
  ; A process that is still ending holds its program file open: the file is free only then.
  ${If} $1 == 0
  ${AndIf} ${FileExists} "$INSTDIR\${APP_EXE}"
    ClearErrors
    FileOpen $0 "$INSTDIR\${APP_EXE}" a
    ${If} ${Errors}
      StrCpy $1 1
    ${Else}
      FileClose $0
    ${EndIf}
  ${EndIf}
  Exch $1
  Exch
  Pop $0
FunctionEnd

Function ${UN}WaitForSnapwren
  Exch $0 ; time-out in ms
  Push $1
  Push $2
  StrCpy $1 0 ; waited so far
  ${Do}
    Call ${UN}SnapwrenInTheWay
    Pop $2
    ${If} $2 == 0
      StrCpy $0 1
      ${Break}
    ${EndIf}
    ${If} $1 == 0
      DetailPrint "Warte, bis Snapwren beendet ist ..."
    ${EndIf}
    ${If} $1 >= $0
      ${If} ${Silent}
        DetailPrint "Snapwren läuft noch."
        StrCpy $0 0
        ${Break}
      ${EndIf}
      ${IfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Snapwren läuft noch.$\n$\nZum Fortfahren Snapwren über „Beenden“ im Tray-Menü schließen und dann „Wiederholen“ wählen." IDRETRY`
        StrCpy $0 0
        ${Break}
      ${EndIf}
      ; After Retry, a Snapwren that is just ending gets a little more time.
      IntOp $1 $0 - 2000
    ${EndIf}
    Sleep ${WAIT_STEP_MS}
    IntOp $1 $1 + ${WAIT_STEP_MS}
  ${Loop}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro WAIT_FOR_SNAPWREN_FUNCTION ""
!insertmacro WAIT_FOR_SNAPWREN_FUNCTION "un."

Section "Snapwren" SecApp
  SectionIn RO
  Push ${WAIT_FOR_EXIT_MS}
  Call WaitForSnapwren
  Pop $0
  ${If} $0 == 0
    DetailPrint "Installation abgebrochen: Snapwren läuft noch."
    SetErrorLevel 2
    Abort
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "/oname=${APP_EXE}" "${SNAPWREN_EXE}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "$SMPROGRAMS\${APP_NAME}.lnk" "$INSTDIR\${APP_EXE}"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${APP_NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${APP_EXE},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; The next section writes it again when it is chosen.
  DeleteRegValue HKCU "${RUN_KEY}" "${APP_NAME}"
  ${If} $IsUpdate == 1
    SetAutoClose true
  ${EndIf}
SectionEnd

Section "Beim Anmelden starten" SecAutostart
  WriteRegStr HKCU "${RUN_KEY}" "${APP_NAME}" '"$INSTDIR\${APP_EXE}"'
SectionEnd

Function .onInit
  StrCpy $IsUpdate 0
  ${If} ${FileExists} "$INSTDIR\${APP_EXE}"
    StrCpy $IsUpdate 1
    ; An update keeps the choice made at the first installation.
    ReadRegStr $0 HKCU "${RUN_KEY}" "${APP_NAME}"
    ${If} $0 == ""
      !insertmacro UnselectSection ${SecAutostart}
    ${EndIf}
  ${EndIf}
FunctionEnd

Function SkipOnUpdate
  ${If} $IsUpdate == 1
    Abort
  ${EndIf}
FunctionEnd

Function .onInstSuccess
  ; A fresh installation starts Snapwren from the finish page when the user wants it; an update
  ; puts back the Snapwren that it replaced.
  ${If} $IsUpdate == 1
    Exec '"$INSTDIR\${APP_EXE}"'
  ${EndIf}
FunctionEnd

Section "un.Snapwren" SecUnApp
  SectionIn RO
  Push 0
  Call un.WaitForSnapwren
  Pop $0
  ${If} $0 == 0
    DetailPrint "Deinstallation abgebrochen: Snapwren läuft noch."
    SetErrorLevel 2
    Abort
  ${EndIf}

  ; Only what the installer put there: never the whole folder, which may hold the user's files.
  Delete "$INSTDIR\${APP_EXE}"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  ; The per-user programs folder goes too when nothing else lives in it.
  RMDir "$LOCALAPPDATA\Programs"
  ; The last update's installer, in the folder Snapwren downloads it to.
  Delete "$LOCALAPPDATA\Snapwren\Snapwren_Update.exe"
  RMDir "$LOCALAPPDATA\Snapwren"
  Delete "$SMPROGRAMS\${APP_NAME}.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "${APP_NAME}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; The settings are the user's: they stay unless asked for.
Section /o "un.Einstellungen löschen" SecUnSettings
  Delete "$APPDATA\Snapwren\settings.ini"
  Delete "$APPDATA\Snapwren\update.ini"
  RMDir "$APPDATA\Snapwren"
SectionEnd
