; The Windows installer: the program and the engine's tools under Program
; Files, a Start-menu entry, and an uninstaller registered with Windows.
; Built by the Windows build (CMake target "installer"):
;   makensis -DBUILD_DIR=<folder with the .exe files> -DOUT_FILE=<setup .exe> -DICON_FILE=<.ico>
; A silent install takes /S (and /D=<folder> last, to choose the folder).
;
; The program works on the clientes.mdb in its own folder: an operator who
; keeps the database elsewhere installs into that folder instead (the folder
; page says so). The uninstaller removes only the files installed, never a
; database beside them.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "x64.nsh"

!define APP_NAME "Borrar Inactivos"
!define APP_TITLE "Borrar Inactivos por Fechas"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\BorrarInactivos"

Name "${APP_NAME}"
Caption "Instalación de ${APP_NAME}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\${APP_NAME}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${APP_TITLE}"

!define MUI_ICON "${ICON_FILE}"
!define MUI_UNICON "${ICON_FILE}"
!define MUI_DIRECTORYPAGE_TEXT_TOP "El programa trabaja con el archivo clientes.mdb de la carpeta donde se instala. Si la base de datos está en otra carpeta, elija esa carpeta."

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Spanish"

Function .onInit
  ; The registry's 64-bit view, where Windows lists the 64-bit programs.
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Programa"
  SetOutPath "$INSTDIR"
  File "${BUILD_DIR}\borrar-inactivos.exe"
  File "${BUILD_DIR}\jetdump.exe"
  File "${BUILD_DIR}\jetcheck.exe"
  File "${BUILD_DIR}\jetsql.exe"
  File "${BUILD_DIR}\mkclientes.exe"
  WriteUninstaller "$INSTDIR\desinstalar.exe"

  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\${APP_NAME}"
  CreateShortcut "$SMPROGRAMS\${APP_NAME}\${APP_TITLE}.lnk" "$INSTDIR\borrar-inactivos.exe"
  CreateShortcut "$SMPROGRAMS\${APP_NAME}\Desinstalar ${APP_NAME}.lnk" "$INSTDIR\desinstalar.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP_TITLE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\borrar-inactivos.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "1.0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\desinstalar.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\desinstalar.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\borrar-inactivos.exe"
  Delete "$INSTDIR\jetdump.exe"
  Delete "$INSTDIR\jetcheck.exe"
  Delete "$INSTDIR\jetsql.exe"
  Delete "$INSTDIR\mkclientes.exe"
  Delete "$INSTDIR\desinstalar.exe"
  ; Only when empty: a database kept in the folder stays, and the folder with it.
  RMDir "$INSTDIR"

  SetShellVarContext all
  Delete "$SMPROGRAMS\${APP_NAME}\${APP_TITLE}.lnk"
  Delete "$SMPROGRAMS\${APP_NAME}\Desinstalar ${APP_NAME}.lnk"
  RMDir "$SMPROGRAMS\${APP_NAME}"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
