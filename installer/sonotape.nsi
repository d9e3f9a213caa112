; Sonotape's installer, one per target. tools/dist.sh builds it:
;
;   makensis -DARCH=x64|x86 -DVERSION=<the build's version> -DSTAGE=<folder with the
;            program's four files> -DRES=<res folder> -DOUTFILE=<setup.exe> installer/sonotape.nsi
;
; It installs for the current user by default, without administrator rights,
; into the user's own programs folder. Started as administrator with
; /AllUsers it installs for every user into the Program Files folder.
; /S installs (and the uninstaller removes) without a window;
; /StartWithWindows sets "Start Sonotape when Windows starts" (also with /S).

!ifndef ARCH | VERSION | STAGE | RES | OUTFILE
  !error "Build with tools/dist.sh: ARCH, VERSION, STAGE, RES and OUTFILE are needed"
!endif

!if "${ARCH}" == "x64"
  Target amd64-unicode
!else if "${ARCH}" == "x86"
  Target x86-unicode
!else
  !error "ARCH is x64 or x86"
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh

!define PRODUCT "Sonotape"
!define PUBLISHER "Korvel Software"
!define HOME_PAGE "https://www.korvel.example/sonotape"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Sonotape"
; The program's own names (src/config): its settings, and its "Start with
; Windows" entry, which the installer writes exactly as the program does.
!define SETTINGS_KEY "Software\Korvel\Sonotape"
!define COMPANY_KEY "Software\Korvel"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Sonotape"
; Held by a running Sonotape (src/win.gui/main.cpp).
!define RUNNING_MUTEX "KorvelImageDockMutex"
; FOLDERID_UserProgramFiles: the user's own programs folder.
!define FOLDERID_USER_PROGRAM_FILES "{5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}"
!define ERROR_ELEVATION_REQUIRED 740

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION} Setup"
UninstallCaption "${PRODUCT} ${VERSION} Uninstall"
BrandingText "${PUBLISHER} - ${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
SetCompressor /SOLID lzma
RequestExecutionLevel user
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"

Var AllUsers      ; 1: installed for every user (HKLM, Program Files)
Var WelcomeText

!define MUI_ICON "${RES}/sonotape.ico"
!define MUI_UNICON "${RES}/sonotape.ico"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${RES}/installer_side.bmp"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${RES}/installer_side.bmp"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!define MUI_WELCOMEPAGE_TITLE "Welcome to Sonotape ${VERSION}"
!define MUI_WELCOMEPAGE_TEXT "$WelcomeText"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!define MUI_COMPONENTSPAGE_TEXT_TOP "Sonotape can start with Windows, waiting in the notification area. You can change this later in its menu (Start with Windows)."
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\sonotape.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Sonotape now"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} ${VERSION} Setup (${ARCH})"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PUBLISHER}"

; ---- shared by the installer and the uninstaller --------------------------------------------

!macro SharedFunctions UN
  ; Refuses while a copy of Sonotape runs (its files are in use and its
  ; settings would be written back): Retry or Cancel; silently, Cancel.
  Function ${UN}RefuseWhileRunning
    retry:
      System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${RUNNING_MUTEX}") p .r0'
      ${If} $0 P<> 0
        System::Call 'kernel32::CloseHandle(p r0)'
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
          "Sonotape is running.$\r$\n$\r$\nEnd it first: right click its window or its icon in the notification area and choose Exit. Then click Retry." \
          /SD IDCANCEL IDRETRY retry
        SetErrorLevel 2
        Quit
      ${EndIf}
  FunctionEnd

  ; Removes the Run entry when it starts this installation's program (an
  ; entry of a copy elsewhere is left alone).
  Function ${UN}RemoveOwnRunEntry
    ClearErrors
    ReadRegStr $R3 HKCU "${RUN_KEY}" "${RUN_VALUE}"
    ${IfNot} ${Errors}
      ${If} $R3 == '"$INSTDIR\sonotape.exe" --tray_run'
      ${OrIf} $R3 == '$INSTDIR\sonotape.exe --tray_run'
        DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
      ${EndIf}
    ${EndIf}
  FunctionEnd

  ; Every user (HKLM and the common folders) or the current user only.
  Function ${UN}UseAllUsers
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
      MessageBox MB_OK|MB_ICONSTOP \
        "Sonotape for all users needs administrator rights.$\r$\n$\r$\nStart this program as administrator, or install Sonotape for yourself alone (without /AllUsers)." \
        /SD IDOK
      SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
      Quit
    ${EndIf}
    StrCpy $AllUsers 1
    SetShellVarContext all
  FunctionEnd
!macroend
!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

; ---- the installer --------------------------------------------------------------------------

; $R0: the Run entry's command as the program writes it for itself: its
; path, quoted when it holds a blank, and " --tray_run".
Function AutostartCommand
  StrCpy $R0 "$INSTDIR\sonotape.exe"
  StrCpy $R1 0
  ${Do}
    StrCpy $R2 $R0 1 $R1
    ${If} $R2 == " "
      StrCpy $R0 '"$R0" --tray_run'
      Return
    ${EndIf}
    IntOp $R1 $R1 + 1
  ${LoopUntil} $R2 == ""
  StrCpy $R0 "$R0 --tray_run"
FunctionEnd


Section "Sonotape" SecProgram
  SectionIn RO
  Call RefuseWhileRunning
  ; The working folder of the shortcut and of "Start Sonotape now": log.txt goes there.
  SetOutPath "$INSTDIR"
  File "${STAGE}/sonotape.exe"
  File "${STAGE}/lame_enc.dll"
  File "${STAGE}/sound.wav"
  File "${STAGE}/sound.mid"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\Sonotape.lnk" "$INSTDIR\sonotape.exe" "" "$INSTDIR\sonotape.exe" 0 SW_SHOWNORMAL "" \
    "Records what the computer plays into WAV or MP3 files"

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\sonotape.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "URLInfoAbout" "${HOME_PAGE}"
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section /o "Start Sonotape when Windows starts" SecAutostart
  Call AutostartCommand
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" $R0
SectionEnd

Section "-Size"
  ${IfNot} ${SectionIsSelected} ${SecAutostart}
    Call RemoveOwnRunEntry
  ${EndIf}
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function .onInit
  ${GetParameters} $R9
  StrCpy $AllUsers 0
  ClearErrors
  ${GetOptions} $R9 "/AllUsers" $0
  ${IfNot} ${Errors}
    Call UseAllUsers
  ${EndIf}

  ; An earlier installation is updated where it is.
  ${If} $INSTDIR == ""
    ReadRegStr $INSTDIR SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${EndIf}
  ${If} $INSTDIR == ""
    ${If} $AllUsers == 1
      !if "${ARCH}" == "x64"
        StrCpy $INSTDIR "$PROGRAMFILES64\Sonotape"
      !else
        StrCpy $INSTDIR "$PROGRAMFILES\Sonotape"
      !endif
    ${Else}
      System::Call 'shell32::SHGetKnownFolderPath(g "${FOLDERID_USER_PROGRAM_FILES}", i 0x8000, p 0, *p .r1) i .r0'
      ${If} $0 == 0
        System::Call '*$1(&w${NSIS_MAX_STRLEN} .r2)'
        System::Call 'ole32::CoTaskMemFree(p r1)'
        StrCpy $INSTDIR "$2\Sonotape"
      ${Else}
        StrCpy $INSTDIR "$LOCALAPPDATA\Programs\Sonotape"
      ${EndIf}
    ${EndIf}
  ${EndIf}

  ; The option starts as it stands: on when Sonotape already starts with Windows.
  ClearErrors
  ${GetOptions} $R9 "/StartWithWindows" $0
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecAutostart}
  ${EndIf}
  ClearErrors
  ReadRegStr $0 HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecAutostart}
  ${EndIf}

  ${If} $AllUsers == 1
    StrCpy $WelcomeText "Setup will install Sonotape ${VERSION}, the sound recorder that records what your computer plays into WAV or MP3 files, for every user of this computer, in the Program Files folder.$\r$\n$\r$\nClick Next to continue."
  ${Else}
    StrCpy $WelcomeText "Setup will install Sonotape ${VERSION}, the sound recorder that records what your computer plays into WAV or MP3 files.$\r$\n$\r$\nIt is installed for you alone, in your own programs folder: no administrator rights are needed.$\r$\n$\r$\nFor every user of this computer: start Setup as administrator with /AllUsers.$\r$\n$\r$\nClick Next to continue."
  ${EndIf}
FunctionEnd

; ---- the uninstaller ------------------------------------------------------------------------

Function un.onInit
  ; Installed for every user when the machine-wide entry names this folder.
  StrCpy $AllUsers 0
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    Call un.UseAllUsers
  ${EndIf}
  Call un.RefuseWhileRunning
FunctionEnd

Section "Uninstall"
  ; The settings are kept unless the user says otherwise; silently, kept.
  StrCpy $R8 keep
  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON1 \
    "Keep your Sonotape settings (recording folder and format, calibration, window position) for a later installation?" \
    /SD IDYES IDYES +2
  StrCpy $R8 remove

  Delete "$SMPROGRAMS\Sonotape.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  Call un.RemoveOwnRunEntry
  ${If} $R8 == remove
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "${COMPANY_KEY}"
  ${EndIf}

  ; Last, the program's files, and log.txt when it was kept here; never
  ; recordings (the folder stays when anything else is left in it).
  Delete "$INSTDIR\sonotape.exe"
  Delete "$INSTDIR\lame_enc.dll"
  Delete "$INSTDIR\sound.wav"
  Delete "$INSTDIR\sound.mid"
  Delete "$INSTDIR\log.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
