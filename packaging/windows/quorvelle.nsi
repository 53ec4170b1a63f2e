; The Windows installer of GPS QuorVelle, built on Linux by makensis (Debian's nsis) from the
; files of the zip: cmake/windows.cmake passes them in with the project's version,
;   makensis -DVERSION=0.9.0 -DFILES=<the zip's folder> -DICON=quorvelle.ico -DOUTFILE=<setup.exe>
; Per machine: into Program Files\GPS QuorVelle, with the Start-menu entries for all users and
; the uninstaller in Add/Remove Programs. /S installs and uninstalls without a question
; (/D=FOLDER, last on the command line, chooses another folder).
; The uninstaller removes what the installer put there and nothing else: the measurements the
; window writes go to the user's Documents\GPS QuorVelle and stay.

!ifdef VERSION & FILES & ICON & OUTFILE
!else
    !error "VERSION, FILES, ICON and OUTFILE must be defined (see the top of this file)"
!endif

Unicode true
; A 64-bit installer for the 64-bit programs: Program Files and the registry are the 64-bit ones.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!define PRODUCT "GPS QuorVelle"
!define PUBLISHER "GPS QuorVelle developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define WINDOW_ENTRY "$SMPROGRAMS\${PRODUCT}.lnk"
!define SIMULATOR_ENTRY "$SMPROGRAMS\${PRODUCT} (simulator).lnk"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; An earlier installation's folder, when the user chose another one.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!include "MUI2.nsh"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\quorvelle.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
    ; Start-menu entries for every user, beside the programs every user can run.
    SetShellVarContext all
FunctionEnd

Section "Install"
    SetOutPath "$INSTDIR"
    File "${FILES}\quorvelle.exe"
    File "${FILES}\quorvelle-batch.exe"
    File "${FILES}\quorvelle-sim.exe"
    File "${FILES}\quorvelle-report.exe"
    File "${FILES}\README.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateShortCut "${WINDOW_ENTRY}" "$INSTDIR\quorvelle.exe" "" "$INSTDIR\quorvelle.exe" 0 \
        SW_SHOWNORMAL "" "Times a radio's click against GPS"
    CreateShortCut "${SIMULATOR_ENTRY}" "$INSTDIR\quorvelle.exe" "--simulate" \
        "$INSTDIR\quorvelle.exe" 0 SW_SHOWNORMAL "" \
        "GPS QuorVelle with the built-in simulated GPS receiver and radio"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvelle.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
    SetShellVarContext all
FunctionEnd

; Exactly the files the installer wrote.
Section "Uninstall"
    Delete "${WINDOW_ENTRY}"
    Delete "${SIMULATOR_ENTRY}"
    Delete "$INSTDIR\quorvelle.exe"
    Delete "$INSTDIR\quorvelle-batch.exe"
    Delete "$INSTDIR\quorvelle-sim.exe"
    Delete "$INSTDIR\quorvelle-report.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\uninstall.exe"
    ; Only when empty: whatever the user put there stays.
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
