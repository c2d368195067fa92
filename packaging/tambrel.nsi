; Installer of Tambrel: per user, no administrator. The program goes to
; %LOCALAPPDATA%\Programs\Tambrel, where its thumbnail cache (tmp\ beside the program) stays
; writable; the uninstaller is registered under the current user's Uninstall key.
;
; makensis -DVERSION=1.0.0.0 -DDISPLAY_VERSION=1.0 -DRELEASE_DIR=<folder with Tambrel.exe>
;          -DICON=<tambrel.ico> -DOUTFILE=<setup.exe> tambrel.nsi

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!ifndef VERSION | DISPLAY_VERSION | RELEASE_DIR | ICON | OUTFILE
  !error "VERSION, DISPLAY_VERSION, RELEASE_DIR, ICON and OUTFILE must be defined"
!endif

!define PRODUCT "Tambrel"
!define PUBLISHER "Tambrel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tambrel"

!include "MUI2.nsh"
!include "FileFunc.nsh"

Name "${PRODUCT} ${DISPLAY_VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; An upgrade goes where the installed version is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails nevershow
ShowUninstDetails nevershow

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Tambrel.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The installer speaks the user's language: Simplified Chinese, or English on any other Windows
; (NSIS picks the language of the user's UI language at start, the first listed where none fits).
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

LangString RUNNING_TEXT ${LANG_SIMPCHINESE} "Tambrel 正在运行。请先关闭它，再点击“重试”。"
LangString RUNNING_TEXT ${LANG_ENGLISH} "Tambrel is running. Close it first, then click Retry."
LangString SHORTCUT_TEXT ${LANG_SIMPCHINESE} "${PRODUCT} 印章制作工具"
LangString SHORTCUT_TEXT ${LANG_ENGLISH} "${PRODUCT} seal maker"

; The installer's own version information, as Explorer shows it.
VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "版权所有 © 2026 ${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright © 2026 ${PUBLISHER}"

; A running Tambrel.exe cannot be replaced or removed: ask to close it first (retry), and in
; silent mode fail (exit code 2) before anything is changed.
!macro ENSURE_NOT_RUNNING
  retry_close:
  ClearErrors
  Delete "$INSTDIR\Tambrel.exe"
  IfErrors 0 closed
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(RUNNING_TEXT)" \
             /SD IDCANCEL IDRETRY retry_close
  SetErrorLevel 2
  Quit
  closed:
!macroend

Section "Tambrel"
  SetShellVarContext current
  !insertmacro ENSURE_NOT_RUNNING
  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${RELEASE_DIR}/Tambrel.exe"
  WriteUninstaller "$INSTDIR\uninst.exe"
  ; The shortcut starts the program in the user's Pictures folder (Documents where there is
  ; none): the save dialog opens there, not in the hidden program folder. The cache stays beside
  ; the program whatever the working folder is. (CreateShortcut takes the output folder.)
  StrCpy $0 "$PICTURES"
  StrCmp $0 "" 0 +2
  StrCpy $0 "$DOCUMENTS"
  SetOutPath "$0"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Tambrel.exe" "" "$INSTDIR\Tambrel.exe" 0 \
                 SW_SHOWNORMAL "" "$(SHORTCUT_TEXT)"
  SetOutPath "$INSTDIR"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${DISPLAY_VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Tambrel.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninst.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninst.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ; Size in KiB of what is installed (the cache grows later and is not counted).
  ${GetSize} "$INSTDIR" "/M=*.exe /S=0K /G=0" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; Removes what the installer wrote and the program's own cache, nothing else: a file the user
; put into the program's folder keeps the folder.
Section "Uninstall"
  SetShellVarContext current
  !insertmacro ENSURE_NOT_RUNNING
  Delete "$INSTDIR\uninst.exe"
  RMDir /r "$INSTDIR\tmp"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
