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
; Started from the finish page in the folder the shortcut starts it in, not the install folder.
!define MUI_FINISHPAGE_RUN_FUNCTION RunFromFinishPage
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The installer speaks the user's language: Chinese to a Chinese Windows (Simplified or
; Traditional, by region), English to any other. English is listed first because NSIS falls back
; to the first language for a UI language it has no file for (German, French, Japanese ...);
; .onInit makes the choice explicit all the same.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "TradChinese"

LangString RUNNING_TEXT ${LANG_ENGLISH} "Tambrel is running. Close it first, then click Retry."
LangString RUNNING_TEXT ${LANG_SIMPCHINESE} "Tambrel 正在运行。请先关闭它，再点击“重试”。"
LangString RUNNING_TEXT ${LANG_TRADCHINESE} "Tambrel 正在執行。請先關閉它，再按一下「重試」。"
LangString SHORTCUT_TEXT ${LANG_ENGLISH} "${PRODUCT} seal maker"
LangString SHORTCUT_TEXT ${LANG_SIMPCHINESE} "${PRODUCT} 印章制作工具"
LangString SHORTCUT_TEXT ${LANG_TRADCHINESE} "${PRODUCT} 印章製作工具"

; Traditional Chinese where the UI language is Taiwan's, Hong Kong's, Macao's or "zh-Hant";
; Simplified for every other Chinese (China, Singapore, "zh-Hans"); English otherwise.
Function .onInit
  System::Call 'kernel32::GetUserDefaultUILanguage() i .r0'
  IntOp $0 $0 & 0xFFFF
  IntOp $1 $0 & 0x3FF
  StrCpy $LANGUAGE ${LANG_ENGLISH}
  IntCmp $1 0x04 0 done done
  StrCpy $LANGUAGE ${LANG_SIMPCHINESE}
  IntCmp $0 0x0404 traditional
  IntCmp $0 0x0C04 traditional
  IntCmp $0 0x1404 traditional
  IntCmp $0 0x7C04 traditional done done
  traditional:
  StrCpy $LANGUAGE ${LANG_TRADCHINESE}
  done:
FunctionEnd

; Where the shortcut starts the program: the user's Pictures folder, Documents where there is
; none, so that the save dialog opens there rather than in the hidden program folder.
Function StartFolder
  SetShellVarContext current
  StrCpy $0 "$PICTURES"
  StrCmp $0 "" 0 +2
  StrCpy $0 "$DOCUMENTS"
FunctionEnd

; Exec starts the program in the output folder.
Function RunFromFinishPage
  Call StartFolder
  SetOutPath "$0"
  Exec '"$INSTDIR\Tambrel.exe"'
  SetOutPath "$INSTDIR"
FunctionEnd

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
VIAddVersionKey /LANG=${LANG_TRADCHINESE} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_TRADCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_TRADCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_TRADCHINESE} "FileDescription" "${PRODUCT} 安裝程式"
VIAddVersionKey /LANG=${LANG_TRADCHINESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_TRADCHINESE} "LegalCopyright" "版權所有 © 2026 ${PUBLISHER}"

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
  ; The cache stays beside the program whatever the working folder is. (CreateShortcut takes
  ; the output folder as the one the program starts in.)
  Call StartFolder
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
