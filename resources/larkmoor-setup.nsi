; Larkmoor's setup program, built by makensis from the Windows build (cmake/packaging.cmake passes
; the defines: TITLE, VERSION, VERSION_TEXT, TARGET, OUTFILE, EXE, README, TASK_XML, ICON).
;
; It installs into the 32-bit Program Files folder, registers the logon task from the shipped
; definition with the installed path (Vista to 11) or an All Users Startup shortcut (XP), installs a
; port library that lies beside it, can stop and disable Windows Time, and starts Larkmoor the way
; logon will. Silent with /S; /KEEPTIME keeps Windows Time, /NOSTART starts nothing, /UNINSTALL
; removes an installed Larkmoor and waits for the removal, /OPERATOR=<user or group> gives a
; standard account the right to change the system time and a logon task of its own. Exit codes
; (where several apply, the lowest):
;   0 done, 1 cancelled, 2 nothing installed (not an administrator, the files could not be written,
;   or a folder that users may write), 3 installed but not started at logon (the task could not be
;   registered), 4 installed but Windows Time could not be stopped and disabled, 5 installed
;   without a port library, 6 installed but the operator account could not be given the right or
;   its logon task.
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
!include nsDialogs.nsh
${StrStr}

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${TITLE}"
!define TIME_SERVICE W32Time
!define TASK ${TITLE}
!define OPERATOR_TASK "${TITLE} operator"
!define SYSTEMTIME_RIGHT SeSystemtimePrivilege
!define REMOVING "Global\${TITLE} uninstall" ; held while an uninstaller removes its own folder
!define SYNCHRONIZE 0x100000
!define WINDOW_CLASS LarkmoorForm ; kWin32FormClass in platform/win32/window_win32.h
!searchparse "${VERSION}" "" VERSION_MAJOR "." VERSION_MINOR "."

Name "${TITLE}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32\${TITLE}"
; An upgrade without /D= goes where the installed one is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" InstallLocation
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
Var NoPortLibrary
Var Ended ; 1 where setup ended a running Larkmoor
Var Tools ; the folder of Windows' own schtasks and taskkill
Var Operator ; the account /OPERATOR= or the page names (empty: none), else the one set up before
Var OperatorChosen ; 1 where /OPERATOR= or the page chose
Var OperatorFailed
Var OperatorField

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_TEXT_TOP "Windows Time moves the clock back to its own time source after Larkmoor sets it: setup stops it and sets it to Disabled unless you untick it below. Uninstalling Larkmoor gives it back the state it had."
!insertmacro MUI_PAGE_COMPONENTS
Page custom OperatorPage OperatorPageLeave
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

; Ends setup with the given exit code, the log closed.
!macro Quit code
  ${Log} "Done (exit code ${code})"
  FileClose $Log
  SetErrorLevel ${code}
  Abort
!macroend

!macro OpenLog name
  FileOpen $Log "$TEMP\${name}" a
  FileSeek $Log 0 END
  ${GetTime} "" L $0 $1 $2 $3 $4 $5 $6
  ${Log} "${TITLE} ${VERSION_TEXT}, $2-$1-$0 $4:$5:$6, $CMDLINE"
!macroend

; Windows' own tools, by full path: a program of the same name in the current folder or beside the
; setup program (a Downloads folder, a share) would otherwise run in their place, elevated. A
; 32-bit setup on 64-bit Windows sees the 32-bit system folder as $SYSDIR; Sysnative is the
; native one, which only such a process sees (and XP x64 only with an update).
!macro FindTools
  StrCpy $Tools "$SYSDIR"
  ${IfThen} ${FileExists} "$WINDIR\Sysnative\schtasks.exe" ${|} StrCpy $Tools "$WINDIR\Sysnative" ${|}
!macroend

; The local security policy's handle in $R7, and the name of the right to change the system time
; as an LSA_UNICODE_STRING in $R6 (its text in $R5).
!macro OpenPolicy
  System::Call "*(l 0, l 0, l 0, l 0, l 0, l 0) p .R6" ; LSA_OBJECT_ATTRIBUTES, all zero
  ; POLICY_LOOKUP_NAMES, POLICY_CREATE_ACCOUNT
  System::Call "advapi32::LsaOpenPolicy(p 0, p R6, i 0x810, *p .R7)"
  System::Free $R6
  System::Call "*(&w32 '${SYSTEMTIME_RIGHT}') p .R5"
  System::Call "*(p, p) p .R6" ; its lengths (two USHORTs, then the padding of the 64-bit build), text
  System::Call "ntdll::RtlInitUnicodeString(p R6, p R5)"
!macroend
!macro ClosePolicy
  System::Call "advapi32::LsaClose(p R7)"
  System::Free $R6
  System::Free $R5
!macroend

; Functions both the setup and the uninstaller need (the uninstaller's carry the prefix "un.").
!macro SharedFunctions un
  ; Ends a running Larkmoor: asks its window to close, gives it 5 s, then ends it; then ends any
  ; left in other sessions, whose windows cannot be seen from here.
  Function ${un}EndLarkmoor
    StrCpy $Ended 0
    FindWindow $0 "${WINDOW_CLASS}" "${TITLE}"
    ${If} $0 <> 0
      StrCpy $Ended 1
      System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1)"
      System::Call "kernel32::OpenProcess(i 0x100001, i 0, i r1) p .r2" ; SYNCHRONIZE, TERMINATE
      ${Log} "Asking the running ${TITLE} (process $1) to close"
      System::Call "kernel32::GetTickCount() i .r4"
      SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
      System::Call "kernel32::WaitForSingleObject(p r2, i 5000) i .r3"
      ${If} $3 <> 0
        ${Log} "It did not close within 5 s: ending it"
        System::Call "kernel32::TerminateProcess(p r2, i 1)"
        System::Call "kernel32::WaitForSingleObject(p r2, i 5000)"
      ${Else}
        System::Call "kernel32::GetTickCount() i .r3"
        IntOp $3 $3 - $4
        ${Log} "It closed within $3 ms"
      ${EndIf}
      System::Call "kernel32::CloseHandle(p r2)"
    ${EndIf}
    nsExec::Exec '"$Tools\taskkill.exe" /F /IM larkmoor.exe'
    Pop $0
    ${IfThen} $0 = 0 ${|} StrCpy $Ended 1 ${|}
    ; taskkill returns before the processes it ended are gone, and the program's file stays in use
    ; until they are: wait up to 5 s until it may be written.
    ${For} $1 1 20
      ${IfNotThen} ${FileExists} "$INSTDIR\larkmoor.exe" ${|} ${Break} ${|}
      ClearErrors
      FileOpen $2 "$INSTDIR\larkmoor.exe" a
      ${IfNot} ${Errors}
        FileClose $2
        ${Break}
      ${EndIf}
      Sleep 250
    ${Next}
  FunctionEnd

  ; Gives back the right to change the system time where setup granted it to the operator account
  ; (never one the account held before), and removes that account's logon task and the record.
  Function ${un}GiveBackRight
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" Operator
    ${IfThen} $0 == "" ${|} Return ${|}
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" OperatorSid
    ReadRegDWORD $2 HKLM "${UNINSTALL_KEY}" OperatorGranted
    ${If} $2 = 1
      System::Call "advapi32::ConvertStringSidToSidW(w r1, *p .R1)"
      !insertmacro OpenPolicy
      System::Call "advapi32::LsaRemoveAccountRights(p R7, p R1, i 0, p R6, i 1) i .r3"
      !insertmacro ClosePolicy
      System::Call "kernel32::LocalFree(p R1)"
      ${If} $3 == 0 ; as text: a call that could not be made gives "error"
        ${Log} "Gave back the right to change the system time that setup had granted to $0 ($1)"
      ${Else}
        System::Call "advapi32::LsaNtStatusToWinError(i r3) i .r3"
        ${Log} "The right to change the system time could not be taken back from $0 ($1, error $3)"
      ${EndIf}
    ${Else}
      ${Log} "Left the right to change the system time of $0 as it was: setup did not grant it"
    ${EndIf}
    ${If} ${AtLeastWinVista}
      nsExec::Exec '"$Tools\schtasks.exe" /delete /tn "${OPERATOR_TASK}" /f'
      Pop $3
      ${Log} "Removed the logon task ${OPERATOR_TASK} (schtasks: $3)"
    ${EndIf}
    DeleteRegValue HKLM "${UNINSTALL_KEY}" Operator
    DeleteRegValue HKLM "${UNINSTALL_KEY}" OperatorSid
    DeleteRegValue HKLM "${UNINSTALL_KEY}" OperatorGranted
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
  !insertmacro FindTools
  StrCpy $Failure 0
  Call SecureFolder
  Call EndLarkmoor

  SetOutPath "$INSTDIR"
  SetOverwrite try
  ClearErrors
  File "/oname=larkmoor.exe" "${EXE}"
  File "/oname=README.txt" "${README}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${If} ${Errors}
    ${Log} "Files could not be written to $INSTDIR (one is in use?): nothing was installed"
    ; The one that was running is started again, as it was before.
    ${If} $Ended = 1
      nsExec::Exec '"$Tools\schtasks.exe" /query /tn ${TASK}'
      Pop $0
      ${IfThen} $0 = 0 ${|} StrCpy $TaskRegistered 1 ${|}
      Call StartLarkmoor
      ${Log} "Started the ${TITLE} that was running again"
    ${EndIf}
    !insertmacro Quit 2
  ${EndIf}
  ${Log} "Installed larkmoor.exe in $INSTDIR"
  Call InstallPortLibrary
  CreateShortCut "$SMPROGRAMS\${TITLE}.lnk" "$INSTDIR\larkmoor.exe"
  Call StartAtLogon
  Call SetUpOperator
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
      StrCpy $FinishText "$FinishText$\r$\n$\r$\nWindows Time could not be stopped and disabled: it may move the clock back after Larkmoor sets it."
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
  ${If} $NoPortLibrary = 1
  ${AndIf} $Failure = 0
    StrCpy $Failure 5
  ${EndIf}
  ${If} $OperatorFailed = 1
  ${AndIf} $Failure = 0
    StrCpy $Failure 6
  ${EndIf}
  ${Log} "Done (exit code $Failure)"
  FileClose $Log
  StrCpy $Log "" ; the Finish page's start opens it again
  SetErrorLevel $Failure
SectionEnd

Function .onInit
  SetShellVarContext all
  ; An uninstaller that has just returned may still be removing its own file and folder.
  System::Call "kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w '${REMOVING}') p .r0"
  ${If} $0 P<> 0
    System::Call "kernel32::WaitForSingleObject(p r0, i 30000)"
    System::Call "kernel32::CloseHandle(p r0)"
  ${EndIf}
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
  ClearErrors
  ${GetOptions} $R0 "/OPERATOR=" $Operator
  ${IfNot} ${Errors}
    StrCpy $OperatorChosen 1
  ${EndIf}
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP "Installing ${TITLE} needs an administrator." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

; The interactive choice of /OPERATOR=, filled in with the account an earlier setup set up.
Function OperatorPage
  ${IfThen} $OperatorChosen != 1 ${|} ReadRegStr $Operator HKLM "${UNINSTALL_KEY}" Operator ${|}
  !insertmacro MUI_HEADER_TEXT "Standard operator account" "Who starts ${TITLE} without being an administrator"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 60u "An administrator who logs on gets ${TITLE} from its logon task. An operator who logs on with a standard account needs the right to change the system time and a start at logon of its own: name that user or group (for example studio, Users or STATION\Operators) and setup gives it both. Leave it empty where operators log on as administrators (an account set up before then gets back what it had)."
  Pop $0
  ${NSD_CreateText} 0 64u 100% 12u "$Operator"
  Pop $OperatorField
  nsDialogs::Show
FunctionEnd

Function OperatorPageLeave
  ${NSD_GetText} $OperatorField $Operator
  StrCpy $OperatorChosen 1
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
    StrCpy $NoPortLibrary 1
    StrCpy $FinishText "$FinishText$\r$\n$\r$\nIt has no port library yet: copy ntport.dll or the 32-bit inpout32.dll into that folder, or put it beside this setup program and run setup again. Until then Larkmoor shows $\"No Port$\"."
  ${EndIf}
FunctionEnd

; Vista to 11: the logon task, from the shipped definition with this installation's path, so that
; Larkmoor starts elevated without a prompt. XP: a shortcut in the All Users Startup folder, which
; the uninstaller removes. Setup removes no shortcut it did not make: one a station made stays.
Function StartAtLogon
  StrCpy $TaskRegistered 0
  ${IfNot} ${AtLeastWinVista}
    CreateShortCut "$SMSTARTUP\${TITLE}.lnk" "$INSTDIR\larkmoor.exe"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" StartupShortcut 1
    ${Log} "Added ${TITLE} to the All Users Startup folder"
    Return
  ${EndIf}
  StrCpy $R0 ""
  StrCpy $R2 larkmoor-task.xml
  StrCpy $R3 "${TASK}"
  Call RegisterTask
  ${If} $0 == 0
    StrCpy $TaskRegistered 1
    ${Log} "Registered the logon task ${TASK} for $INSTDIR\larkmoor.exe"
  ${Else}
    ${Log} "The logon task could not be registered (schtasks: $0): $1"
    StrCpy $FinishText "$FinishText$\r$\n$\r$\nThe logon task could not be registered (schtasks: $0): Larkmoor does not start at logon. See $TEMP\larkmoor-setup.log."
    StrCpy $Failure 3
  ${EndIf}
FunctionEnd

; Writes the shipped task definition with this installation's path to $INSTDIR\$R2 and registers
; it as the task $R3. Where $R0 is not empty, it replaces the principal (the Administrators group
; at its highest privileges) by that element, run with the account's own rights, and $R1 ends the
; logon trigger (a user's, after the trigger's own elements as the schema orders them; none: the
; logon of each member of the principal's group), and the comments, which speak of the
; administrators' task, are left out. schtasks' exit code and output in $0 and $1.
Function RegisterTask
  InitPluginsDir
  File "/oname=$PLUGINSDIR\task.xml" "${TASK_XML}"
  FileOpen $0 "$PLUGINSDIR\task.xml" r
  FileOpen $1 "$INSTDIR\$R2" w
  FileWriteUTF16LE /BOM $1 ""
  StrCpy $4 0 ; 1 within a comment
  ${Do}
    ClearErrors
    FileReadUTF16LE $0 $2
    ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
    ${If} $R0 != ""
      ${StrStr} $3 $2 "<!--"
      ${IfThen} $3 != "" ${|} StrCpy $4 1 ${|}
      ${If} $4 = 1
        ${StrStr} $3 $2 "-->"
        ${IfThen} $3 != "" ${|} StrCpy $4 0 ${|}
        ${Continue}
      ${EndIf}
    ${EndIf}
    ${StrStr} $3 $2 "<Command>"
    ${If} $3 != ""
      Call XmlInstallDir
      StrCpy $2 '      <Command>"$R6\larkmoor.exe"</Command>$\r$\n'
    ${EndIf}
    ${If} $R0 != ""
      ${StrStr} $3 $2 "<GroupId>"
      ${IfThen} $3 != "" ${|} StrCpy $2 "      $R0$\r$\n" ${|}
      ${StrStr} $3 $2 "<RunLevel>"
      ${IfThen} $3 != "" ${|} StrCpy $2 "      <RunLevel>LeastPrivilege</RunLevel>$\r$\n" ${|}
      ${StrStr} $3 $2 "</LogonTrigger>"
      ${IfThen} $3 != "" ${|} StrCpy $2 "$R1$2" ${|}
    ${EndIf}
    FileWriteUTF16LE $1 $2
  ${Loop}
  FileClose $0
  FileClose $1
  nsExec::ExecToStack '"$Tools\schtasks.exe" /create /tn "$R3" /xml "$INSTDIR\$R2" /f'
  Pop $0
  Pop $1
FunctionEnd

; /OPERATOR=<user or group>: standard accounts that run Larkmoor. The account gets the right to
; change the system time, recorded where setup granted it (so that the uninstaller gives back only
; that), and on Vista to 11 a logon task of its own that starts Larkmoor with the account's own
; rights (on XP the All Users Startup shortcut starts it). An upgrade without the option keeps the
; account set up before; another account, or none (/OPERATOR= alone), replaces it.
Function SetUpOperator
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" Operator
  ${IfThen} $OperatorChosen != 1 ${|} StrCpy $Operator $0 ${|}
  ${IfThen} $Operator != $0 ${|} Call GiveBackRight ${|}
  ${IfThen} $Operator == "" ${|} Return ${|}
  System::Alloc 68 ; SECURITY_MAX_SID_SIZE
  Pop $R1
  StrCpy $R2 $Operator
  System::Call "advapi32::LookupAccountNameW(p 0, w R2, p R1, *i 68, w .r1, *i ${NSIS_MAX_STRLEN}, *i .r2) i .r0"
  ${If} $0 = 0
    System::Free $R1
    ${Log} "The operator account $Operator is not known: it gets neither the right to change the system time nor a logon task"
    StrCpy $FinishText "$FinishText$\r$\n$\r$\nThe operator account $Operator is not known: it was not set up."
    StrCpy $OperatorFailed 1
    Return
  ${EndIf}
  System::Call "advapi32::ConvertSidToStringSidW(p R1, *p .r3)"
  System::Call "kernel32::lstrcpyW(w .R4, p r3)"
  System::Call "kernel32::LocalFree(p r3)"
  ; A right the account holds already is not granted, so that the uninstaller never takes it away.
  !insertmacro OpenPolicy
  StrCpy $4 0
  System::Call "advapi32::LsaEnumerateAccountRights(p R7, p R1, *p .r5, *i .r6) i .r0"
  ${If} $0 = 0
    StrCpy $7 $5
    ${For} $8 1 $6
      System::Call "ntdll::RtlCompareUnicodeString(p r7, p R6, i 1) i .r9"
      ${IfThen} $9 = 0 ${|} StrCpy $4 1 ${|}
      ; The next LSA_UNICODE_STRING, the size of two pointers further on.
      IntPtrOp $7 $7 + ${NSIS_PTR_SIZE}
      IntPtrOp $7 $7 + ${NSIS_PTR_SIZE}
    ${Next}
    System::Call "advapi32::LsaFreeMemory(p r5)"
  ${EndIf}
  ${If} $4 = 1
    ${Log} "$Operator ($R4) already holds the right to change the system time"
  ${Else}
    System::Call "advapi32::LsaAddAccountRights(p R7, p R1, p R6, i 1) i .r0"
    ${If} $0 == 0 ; as text: a call that could not be made gives "error"
      WriteRegDWORD HKLM "${UNINSTALL_KEY}" OperatorGranted 1
      ${Log} "Granted $Operator ($R4) the right to change the system time, from its next logon"
    ${Else}
      System::Call "advapi32::LsaNtStatusToWinError(i r0) i .r0"
      ${Log} "$Operator ($R4) could not be granted the right to change the system time (error $0)"
      StrCpy $FinishText "$FinishText$\r$\n$\r$\n$Operator could not be granted the right to change the system time (error $0)."
      StrCpy $OperatorFailed 1
    ${EndIf}
  ${EndIf}
  !insertmacro ClosePolicy
  System::Free $R1
  WriteRegStr HKLM "${UNINSTALL_KEY}" Operator $Operator
  WriteRegStr HKLM "${UNINSTALL_KEY}" OperatorSid $R4
  ${IfNot} ${AtLeastWinVista}
    Return
  ${EndIf}
  ${If} $2 = 1 ; SidTypeUser: that user's logon, in the session it opens
    StrCpy $R0 "<UserId>$R4</UserId>$\r$\n      <LogonType>InteractiveToken</LogonType>"
    StrCpy $R1 "      <UserId>$R4</UserId>$\r$\n"
  ${Else} ; a group: the logon of each member
    StrCpy $R0 "<GroupId>$R4</GroupId>"
    StrCpy $R1 ""
  ${EndIf}
  StrCpy $R2 larkmoor-operator-task.xml
  StrCpy $R3 "${OPERATOR_TASK}"
  Call RegisterTask
  ${If} $0 == 0
    ${Log} "Registered the logon task ${OPERATOR_TASK} for $Operator ($R4)"
  ${Else}
    ${Log} "The logon task for $Operator could not be registered (schtasks: $0): $1"
    StrCpy $FinishText "$FinishText$\r$\n$\r$\nThe logon task for $Operator could not be registered (schtasks: $0)."
    StrCpy $OperatorFailed 1
  ${EndIf}
FunctionEnd

; $INSTDIR as the text of an XML element, in $R6: a folder's name may hold "&" (no "<" or ">").
Function XmlInstallDir
  StrCpy $R6 ""
  StrCpy $R7 0
  ${Do}
    StrCpy $R8 "$INSTDIR" 1 $R7
    ${IfThen} $R8 == "" ${|} ${ExitDo} ${|}
    ${IfThen} $R8 == "&" ${|} StrCpy $R8 "&amp;" ${|}
    StrCpy $R6 "$R6$R8"
    IntOp $R7 $R7 + 1
  ${Loop}
FunctionEnd

; The task runs larkmoor.exe elevated, so that only administrators may change what is in its
; folder. Program Files gives that to its subfolders. Elsewhere (C:\Larkmoor, whose parent lets
; every user make and fill folders) setup makes the folder itself, writable by administrators only,
; or keeps using the one an earlier setup made so; one that is already there may hold anything a
; user put in it: setup refuses it.
Function SecureFolder
  ${ForEach} $R1 0 1 + 1
    ${IfThen} $R1 = 0 ${|} StrCpy $R2 "$PROGRAMFILES32\" ${|}
    ${IfThen} $R1 = 1 ${|} StrCpy $R2 "$PROGRAMFILES64\" ${|}
    StrLen $R3 $R2
    StrCpy $R4 "$INSTDIR" $R3
    ${IfThen} $R4 == $R2 ${|} Return ${|}
  ${Next}
  ReadRegStr $R4 HKLM "${UNINSTALL_KEY}" InstallLocation
  ${If} ${FileExists} "$INSTDIR\*.*"
  ${AndIf} $R4 != $INSTDIR
    ${Log} "$INSTDIR is not under Program Files and was there before setup: users may have put files in it. Choose a new folder or one under Program Files: nothing was installed"
    !insertmacro Quit 2
  ${EndIf}
  ; System and Administrators full control, Users read and run; not inherited from the parent.
  System::Call "advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w 'O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)', i 1, *p .R5, p 0) i .R3"
  System::Call "*(i 12, p R5, i 0) p .R6"
  ${GetParent} "$INSTDIR" $R4
  CreateDirectory "$R4"
  System::Call "kernel32::CreateDirectoryW(w '$INSTDIR', p R6) i .R3"
  ${If} $R3 = 0
  ${AndIf} ${FileExists} "$INSTDIR\*.*"
    ; Ours from before: its rights are set again, and passed on to the files in it.
    System::Call "advapi32::GetSecurityDescriptorOwner(p R5, *p .R7, *i)"
    System::Call "advapi32::GetSecurityDescriptorDacl(p R5, *i, *p .R8, *i)"
    ; SE_FILE_OBJECT; OWNER, DACL and PROTECTED_DACL_SECURITY_INFORMATION
    System::Call "advapi32::SetNamedSecurityInfoW(w '$INSTDIR', i 1, i 0x80000005, p R7, p 0, p R8, p 0) i .R3"
    ${If} $R3 = 0
      StrCpy $R3 1
    ${Else}
      StrCpy $R3 0
    ${EndIf}
  ${EndIf}
  System::Free $R6
  System::Call "kernel32::LocalFree(p R5)"
  ${If} $R3 = 0
    ${Log} "$INSTDIR could not be made writable by administrators only: nothing was installed"
    !insertmacro Quit 2
  ${EndIf}
  ${Log} "Made $INSTDIR, writable by administrators only"
FunctionEnd

; Starts Larkmoor as logon will: through the task, which gives it the right to set the clock.
; Where there is no task, or it showed no window within 5 s, setup starts it itself (with setup's
; own rights) - but never as SYSTEM, as a deployment tool runs it: that one would run unseen and
; hold the one-instance name against the user's own.
Function StartLarkmoor
  ${If} $Log == ""
    FileOpen $Log "$TEMP\larkmoor-setup.log" a
    FileSeek $Log 0 END
  ${EndIf}
  ${If} $TaskRegistered = 1
    nsExec::Exec '"$Tools\schtasks.exe" /run /tn ${TASK}'
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
  ; The version as the file's numbers give it (1.0.0), which deployment tools compare.
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" VersionMajor ${VERSION_MAJOR}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" VersionMinor ${VERSION_MINOR}
  WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "${TITLE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\larkmoor.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
  ; Run from its own place (_?=), so that whoever runs it (a deployment tool, before setup again)
  ; waits for the removal; on its own it would return at once and leave the work to a copy.
  WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" EstimatedSize $0
FunctionEnd

Function un.onInit
  SetShellVarContext all
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVE=" $0
  ${IfNot} ${Errors}
    Call un.RemoveFolder
  ${EndIf}
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
  !insertmacro FindTools
  Call un.EndLarkmoor
  ${If} ${AtLeastWinVista}
    nsExec::ExecToLog '"$Tools\schtasks.exe" /delete /tn ${TASK} /f'
    Pop $0
    ${Log} "Removed the logon task ${TASK} (schtasks: $0)"
  ${EndIf}
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" StartupShortcut
  ${If} $0 = 1
    Delete "$SMSTARTUP\${TITLE}.lnk"
    ${Log} "Removed ${TITLE} from the All Users Startup folder"
  ${EndIf}
  Call un.GiveBackRight
  Delete "$SMPROGRAMS\${TITLE}.lnk"
  Delete "$INSTDIR\larkmoor.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\larkmoor-task.xml"
  Delete "$INSTDIR\larkmoor-operator-task.xml"
  ${ForEach} $R1 0 1 + 1
    ${IfThen} $R1 = 0 ${|} StrCpy $R2 ntport.dll ${|}
    ${IfThen} $R1 = 1 ${|} StrCpy $R2 inpout32.dll ${|}
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "Installed $R2"
    ${If} $0 = 1
      Delete "$INSTDIR\$R2"
      ${Log} "Removed $R2"
    ${EndIf}
  ${Next}
  Call un.RestoreTimeService
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  SetOutPath "$TEMP" ; not the folder, which could then not be removed
  ${If} "$EXEDIR" == "$INSTDIR"
    Call un.RemoveWhenEnded
  ${Else}
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
  ${EndIf}
  ${Log} "Removed ${TITLE} from $INSTDIR"
  FileClose $Log
SectionEnd

; Run in place (the quiet uninstall string's _?=, so that whoever runs it waits for the removal),
; the uninstaller cannot delete its own file while it runs. A copy of it in %TEMP% does that once
; this process has ended; until it has, it holds a name that setup waits for, so that a setup
; started as soon as this one returns does not have its new files removed.
Function un.RemoveWhenEnded
  System::Call "kernel32::GetCurrentProcessId() i .r1"
  StrCpy $0 "$TEMP\larkmoor-remove-$1.exe"
  CopyFiles /SILENT "$EXEPATH" "$0"
  Exec '"$0" /S /REMOVE=$1 _?=$INSTDIR'
  ${For} $2 1 100
    System::Call "kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w '${REMOVING}') p .r3"
    ${If} $3 P<> 0
      System::Call "kernel32::CloseHandle(p r3)"
      Return
    ${EndIf}
    Sleep 50
  ${Next}
  ${Log} "$INSTDIR\uninstall.exe could not be removed"
FunctionEnd

; The copy's work: wait for the uninstaller in the folder to end, remove it and the folder.
Function un.RemoveFolder
  System::Call "kernel32::CreateMutexW(p 0, i 1, w '${REMOVING}') p .r1"
  System::Call "kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i $0) p .r2"
  System::Call "kernel32::WaitForSingleObject(p r2, i 30000)"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete /REBOOTOK "$EXEPATH"
  SetErrorLevel 0
  Quit
FunctionEnd

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
