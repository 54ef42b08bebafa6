; Larkmoor's setup program, built by makensis from the Windows build (cmake/packaging.cmake passes
; the defines: TITLE, VERSION, VERSION_TEXT, TARGET, OUTFILE, EXE, README, TASK_XML, ICON).
;
; It installs into the 32-bit Program Files folder, registers the logon task from the shipped
; definition with the installed path (Vista to 11) or an All Users Startup shortcut (XP), installs a
; port library that lies beside it, can stop and disable Windows Time, and starts Larkmoor the way
; logon will. Silent with /S; /KEEPTIME keeps Windows Time, /NOSTART starts nothing, /UNINSTALL
; removes an installed Larkmoor and waits for the removal. Exit codes:
;   0 done, 1 cancelled, 2 nothing installed (not an administrator, or files could not be written),
;   3 installed but not started at logon (the task could not be registered),
;   4 installed but Windows Time could not be stopped and disabled.
; What it did goes to the details list and to %TEMP%\larkmoor-setup.log (the uninstaller's to
; larkmoor-uninstall.log there).

Target ${TARGET}
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all
ManifestDPIAware true
; The program runs on XP SP3 and newer: Windows 2000 and older refuse its setup plainly too.
PESubsysVer 5.01

!include LogicLib.nsh
!include FileFunc.nsh
!include WinVer.nsh
!include StrFunc.nsh
!include MUI2.nsh
${StrStr}

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${TITLE}"
!define TIME_SERVICE W32Time
!define TASK ${TITLE}
!define WINDOW_CLASS LarkmoorForm ; kWin32FormClass in platform/win32/window_win32.h

Name "${TITLE}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32\${TITLE}"
BrandingText "${TITLE} ${VERSION_TEXT}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "${TITLE}"
VIAddVersionKey ProductVersion "${VERSION_TEXT}"
VIAddVersionKey FileVersion "${VERSION_TEXT}"
VIAddVersionKey FileDescription "${TITLE} setup"
VIAddVersionKey LegalCopyright ""

Var Log
Var NoStart
Var Failure
Var FinishText
Var TaskRegistered

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_TEXT_TOP "Windows Time moves the clock back to its own time source after Larkmoor sets it: setup stops it and sets it to Disabled unless you untick it below. Uninstalling Larkmoor gives it back the state it had."
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "$FinishText"
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start ${TITLE} now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartLarkmoor
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE English

; One line to the details list and the log file.
!macro Log text
  DetailPrint "${text}"
  FileWrite $Log "${text}$\r$\n"
!macroend
!define Log "!insertmacro Log"

!macro OpenLog name
  FileOpen $Log "$TEMP\${name}" a
  FileSeek $Log 0 END
  ${GetTime} "" L $0 $1 $2 $3 $4 $5 $6
  ${Log} "${TITLE} ${VERSION_TEXT}, $2-$1-$0 $4:$5:$6, $CMDLINE"
!macroend

; Functions both the setup and the uninstaller need (the uninstaller's carry the prefix "un.").
!macro SharedFunctions un
  ; Ends a running Larkmoor: asks its window to close, gives it 5 s, then ends it; then ends any
  ; left in other sessions, whose windows cannot be seen from here.
  Function ${un}EndLarkmoor
    FindWindow $0 "${WINDOW_CLASS}" "${TITLE}"
    ${If} $0 <> 0
      System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1)"
      System::Call "kernel32::OpenProcess(i 0x100001, i 0, i r1) p .r2" ; SYNCHRONIZE, TERMINATE
      ${Log} "Asking the running ${TITLE} (process $1) to close"
      SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
      System::Call "kernel32::WaitForSingleObject(p r2, i 5000) i .r3"
      ${If} $3 <> 0
        ${Log} "It did not close within 5 s: ending it"
        System::Call "kernel32::TerminateProcess(p r2, i 1)"
        System::Call "kernel32::WaitForSingleObject(p r2, i 5000)"
      ${EndIf}
      System::Call "kernel32::CloseHandle(p r2)"
    ${EndIf}
    nsExec::Exec 'taskkill /F /IM larkmoor.exe'
    Pop $0
  FunctionEnd

  ; Removes shortcuts to Larkmoor from the Startup folders of all users and of this user, so that
  ; it is not started twice.
  Function ${un}RemoveStartupShortcuts
    ${ForEach} $R1 0 1 + 1
      ${If} $R1 = 0
        SetShellVarContext all
      ${Else}
        SetShellVarContext current
      ${EndIf}
      FindFirst $R2 $R3 "$SMSTARTUP\*larkmoor*.lnk"
      ${DoWhile} $R3 != ""
        Delete "$SMSTARTUP\$R3"
        ${Log} "Removed the Startup shortcut $SMSTARTUP\$R3"
        FindNext $R2 $R3
      ${Loop}
      FindClose $R2
    ${Next}
    SetShellVarContext all
  FunctionEnd
!macroend
!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

; Handles of the Service Control Manager and Windows Time in $R8 and $R9 (0 where it is absent).
!macro OpenTimeService
  ; SC_MANAGER_CONNECT; SERVICE_QUERY_CONFIG, CHANGE_CONFIG, QUERY_STATUS, START, STOP
  System::Call "advapi32::OpenSCManagerW(p 0, p 0, i 1) p .R8"
  System::Call "advapi32::OpenServiceW(p R8, w '${TIME_SERVICE}', i 0x37) p .R9"
!macroend
!macro CloseTimeService
  System::Call "advapi32::CloseServiceHandle(p R9)"
  System::Call "advapi32::CloseServiceHandle(p R8)"
!macroend

; The state of the service whose handle is in $R9 (4 running, 1 stopped), in the given variable.
!macro TimeServiceState var
  System::Call "*(i, i, i, i, i, i, i) p .R7"
  System::Call "advapi32::QueryServiceStatus(p R9, p R7)"
  System::Call "*$R7(i, i .s)"
  System::Free $R7
  Pop ${var}
!macroend

Section "${TITLE}" SecProgram
  SectionIn RO
  SetShellVarContext all
  !insertmacro OpenLog larkmoor-setup.log
  StrCpy $Failure 0
  Call EndLarkmoor
  Call RemoveStartupShortcuts

  SetOutPath "$INSTDIR"
  SetOverwrite try
  ClearErrors
  File "/oname=larkmoor.exe" "${EXE}"
  File "/oname=README.txt" "${README}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${If} ${Errors}
    ${Log} "Files could not be written to $INSTDIR: nothing was installed"
    FileClose $Log
    SetErrorLevel 2
    Abort
  ${EndIf}
  ${Log} "Installed larkmoor.exe in $INSTDIR"
  Call InstallPortLibrary
  CreateShortCut "$SMPROGRAMS\${TITLE}.lnk" "$INSTDIR\larkmoor.exe"
  Call StartAtLogon
  Call WriteUninstallEntry
SectionEnd

Section "Disable Windows Time" SecTime
  !insertmacro OpenTimeService
  ${If} $R9 == 0
    ${Log} "Windows Time is not installed: nothing to stop"
  ${Else}
    ; What it was is kept only the first time, so that an upgrade never loses the original state.
    ReadRegDWORD $0 HKLM "SYSTEM\CurrentControlSet\Services\${TIME_SERVICE}" Start
    !insertmacro TimeServiceState $1
    ReadRegDWORD $2 HKLM "${UNINSTALL_KEY}" TimeServiceStart
    ${If} $2 == ""
    ${AndIf} $0 != 4
      WriteRegDWORD HKLM "${UNINSTALL_KEY}" TimeServiceStart $0
      WriteRegDWORD HKLM "${UNINSTALL_KEY}" TimeServiceRunning $1
    ${EndIf}
    ; SERVICE_NO_CHANGE for all but the start type, SERVICE_DISABLED
    System::Call "advapi32::ChangeServiceConfigW(p R9, i -1, i 4, i -1, p 0, p 0, p 0, p 0, p 0, p 0, p 0) i .r2"
    ${If} $1 = 4
      System::Call "*(i, i, i, i, i, i, i) p .R7"
      System::Call "advapi32::ControlService(p R9, i 1, p R7)"
      System::Free $R7
      ${For} $3 1 40
        !insertmacro TimeServiceState $1
        ${IfThen} $1 = 1 ${|} ${Break} ${|}
        Sleep 250
      ${Next}
    ${EndIf}
    ${If} $2 = 0
    ${OrIf} $1 <> 1
      ${Log} "Windows Time could not be stopped and disabled"
      ${IfThen} $Failure = 0 ${|} StrCpy $Failure 4 ${|}
    ${Else}
      ${Log} "Stopped Windows Time and set it to Disabled"
    ${EndIf}
  ${EndIf}
  !insertmacro CloseTimeService
SectionEnd

Section "-Finish"
  ${If} ${Silent}
  ${AndIf} $NoStart != 1
    Call StartLarkmoor
  ${EndIf}
  ${Log} "Done (exit code $Failure)"
  FileClose $Log
  SetErrorLevel $Failure
SectionEnd

Function .onInit
  SetShellVarContext all
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/UNINSTALL" $0
  ${IfNot} ${Errors}
    Call UninstallAndWait
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/KEEPTIME" $0
  ${IfNot} ${Errors}
    SectionSetFlags ${SecTime} 0
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/NOSTART" $0
  ${IfNot} ${Errors}
    StrCpy $NoStart 1
  ${EndIf}
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP "Installing ${TITLE} needs an administrator." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

; Setup /UNINSTALL: runs the installed uninstaller in place and waits for it (run on its own, it
; returns at once and works from a copy), then removes it and the folder; exits with its code.
Function UninstallAndWait
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" InstallLocation
  ${If} $1 == ""
    SetErrorLevel 0
    Quit
  ${EndIf}
  StrCpy $2 ""
  ${IfThen} ${Silent} ${|} StrCpy $2 "/S " ${|}
  ClearErrors
  ExecWait '"$1\uninstall.exe" $2_?=$1' $0
  ${If} ${Errors}
    StrCpy $0 2
  ${ElseIf} $0 = 0
    Delete "$1\uninstall.exe"
    RMDir "$1"
  ${EndIf}
  SetErrorLevel $0
  Quit
FunctionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "The program, its logon task (Vista to 11) or Startup shortcut (XP), a Start-menu shortcut, and the port library that lies beside this setup program."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecTime} "Windows Time moves the clock back to its own time source after Larkmoor sets it: stop it and set it to Disabled. Uninstalling Larkmoor restores it."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; A port library beside the setup program (where a station puts it on its share) goes beside
; larkmoor.exe; the uninstaller removes only what setup put there.
Function InstallPortLibrary
  StrCpy $FinishText "${TITLE} is installed in $INSTDIR."
  StrCpy $R0 ""
  ${ForEach} $R1 0 1 + 1
    ${IfThen} $R1 = 0 ${|} StrCpy $R2 ntport.dll ${|}
    ${IfThen} $R1 = 1 ${|} StrCpy $R2 inpout32.dll ${|}
    ${If} ${FileExists} "$EXEDIR\$R2"
    ${AndIf} "$EXEDIR" != "$INSTDIR"
      ClearErrors
      CopyFiles /SILENT "$EXEDIR\$R2" "$INSTDIR"
      ${If} ${Errors}
        ${Log} "$R2 could not be copied to $INSTDIR"
      ${Else}
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "Installed $R2" 1
        ${Log} "Installed $R2 from $EXEDIR"
      ${EndIf}
    ${EndIf}
    ${IfThen} ${FileExists} "$INSTDIR\$R2" ${|} StrCpy $R0 $R2 ${|}
  ${Next}
  ${If} $R0 == ""
    ${Log} "No port library: put ntport.dll or inpout32.dll in $INSTDIR"
    StrCpy $FinishText "$FinishText$\r$\n$\r$\nIt has no port library yet: copy ntport.dll or the 32-bit inpout32.dll into that folder, or put it beside this setup program and run setup again. Until then Larkmoor shows $\"No Port$\"."
  ${EndIf}
FunctionEnd

; Vista to 11: the logon task, from the shipped definition with this installation's path, so that
; Larkmoor starts elevated without a prompt. XP: a shortcut in the All Users Startup folder.
Function StartAtLogon
  StrCpy $TaskRegistered 0
  ${IfNot} ${AtLeastWinVista}
    CreateShortCut "$SMSTARTUP\${TITLE}.lnk" "$INSTDIR\larkmoor.exe"
    ${Log} "Added ${TITLE} to the All Users Startup folder"
    Return
  ${EndIf}
  InitPluginsDir
  File "/oname=$PLUGINSDIR\task.xml" "${TASK_XML}"
  FileOpen $0 "$PLUGINSDIR\task.xml" r
  FileOpen $1 "$INSTDIR\larkmoor-task.xml" w
  FileWriteUTF16LE /BOM $1 ""
  ${Do}
    ClearErrors
    FileReadUTF16LE $0 $2
    ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
    ${StrStr} $3 $2 "<Command>"
    ${If} $3 != ""
      StrCpy $2 '      <Command>"$INSTDIR\larkmoor.exe"</Command>$\r$\n'
    ${EndIf}
    FileWriteUTF16LE $1 $2
  ${Loop}
  FileClose $0
  FileClose $1
  nsExec::ExecToStack 'schtasks /create /tn ${TASK} /xml "$INSTDIR\larkmoor-task.xml" /f'
  Pop $0
  Pop $1
  ${If} $0 == 0
    StrCpy $TaskRegistered 1
    ${Log} "Registered the logon task ${TASK} for $INSTDIR\larkmoor.exe"
  ${Else}
    ${Log} "The logon task could not be registered (schtasks: $0): $1"
    StrCpy $Failure 3
  ${EndIf}
FunctionEnd

; Starts Larkmoor as logon will: through the task, which gives it the right to set the clock.
; Where there is no task, or it showed no window within 5 s, setup starts it itself (with setup's
; own rights) - but never as SYSTEM, as a deployment tool runs it: that one would run unseen and
; hold the one-instance name against the user's own.
Function StartLarkmoor
  ${If} $TaskRegistered = 1
    nsExec::Exec 'schtasks /run /tn ${TASK}'
    Pop $0
    ${For} $1 1 20
      FindWindow $2 "${WINDOW_CLASS}" "${TITLE}"
      ${If} $2 <> 0
        ${Log} "Started ${TITLE} through its task"
        Return
      ${EndIf}
      Sleep 250
    ${Next}
  ${EndIf}
  UserInfo::GetName
  Pop $0
  ${If} $0 == "SYSTEM"
    ${Log} "${TITLE} starts at the next logon"
    Return
  ${EndIf}
  Exec '"$INSTDIR\larkmoor.exe"'
  ${Log} "Started $INSTDIR\larkmoor.exe"
FunctionEnd

Function WriteUninstallEntry
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "${TITLE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION_TEXT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "${TITLE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\larkmoor.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" EstimatedSize $0
FunctionEnd

Function un.onInit
  SetShellVarContext all
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP "Removing ${TITLE} needs an administrator." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  !insertmacro OpenLog larkmoor-uninstall.log
  Call un.EndLarkmoor
  ${If} ${AtLeastWinVista}
    nsExec::ExecToLog 'schtasks /delete /tn ${TASK} /f'
    Pop $0
    ${Log} "Removed the logon task ${TASK} (schtasks: $0)"
  ${EndIf}
  Call un.RemoveStartupShortcuts
  Delete "$SMPROGRAMS\${TITLE}.lnk"
  Delete "$INSTDIR\larkmoor.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\larkmoor-task.xml"
  ${ForEach} $R1 0 1 + 1
    ${IfThen} $R1 = 0 ${|} StrCpy $R2 ntport.dll ${|}
    ${IfThen} $R1 = 1 ${|} StrCpy $R2 inpout32.dll ${|}
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "Installed $R2"
    ${If} $0 = 1
      Delete "$INSTDIR\$R2"
      ${Log} "Removed $R2"
    ${EndIf}
  ${Next}
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Call un.RestoreTimeService
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${Log} "Removed ${TITLE} from $INSTDIR"
  FileClose $Log
SectionEnd

; Gives Windows Time back the start type it had before setup disabled it, and starts it where it
; was running then.
Function un.RestoreTimeService
  ClearErrors
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" TimeServiceStart
  ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" TimeServiceRunning
  ${IfThen} ${Errors} ${|} Return ${|}
  !insertmacro OpenTimeService
  System::Call "advapi32::ChangeServiceConfigW(p R9, i -1, i r0, i -1, p 0, p 0, p 0, p 0, p 0, p 0, p 0) i .r2"
  ${If} $1 = 4
    System::Call "advapi32::StartServiceW(p R9, i 0, p 0)"
  ${EndIf}
  !insertmacro CloseTimeService
  ${Log} "Gave Windows Time back its start type $0 (ChangeServiceConfig: $2)"
FunctionEnd
