@echo off
rem Runs every case of svclaunch's SCM suite on this machine, one at a time,
rem and ends with one line: N passed, N failed, N skipped.
rem Run it from an elevated prompt on a test machine or a throwaway VM.
setlocal
rem pushd, unlike cd, also enters a UNC path (through a drive letter of its own).
pushd "%~dp0"
if not exist scm_tests.exe (
    echo scm_tests.exe is not beside run-tests.cmd: extract the whole zip first, then run run-tests.cmd from the extracted folder.
    popd
    exit /b 1
)
rem .\ : a system that leaves the current folder out of the search path
rem (NoDefaultCurrentDirectoryInExePath) still finds the kit's programs.
.\scm_tests.exe --can-create-services
set access=%errorlevel%
if "%access%"=="5" (
    echo Run this from an elevated command prompt: it must be allowed to create and delete services.
    popd
    exit /b 1
)
if not "%access%"=="0" (
    echo The suite cannot create services here; see the line above.
    popd
    exit /b 1
)
set SVCLAUNCH_TEST_ROOT=%SystemDrive%\svclaunch-tests
ver
echo processor: %PROCESSOR_ARCHITECTURE% %PROCESSOR_ARCHITEW6432%
for /f "tokens=3" %%v in ('reg query "HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage" /v ACP 2^>nul ^| find "ACP"') do echo ANSI code page: %%v
set kind=unknown
for /f "tokens=3" %%v in ('reg query "HKLM\SYSTEM\CurrentControlSet\Control\ProductOptions" /v ProductType 2^>nul ^| find "ProductType"') do set kind=%%v
if /i "%kind%"=="WinNT" set kind=client (WinNT)
if /i "%kind%"=="ServerNT" set kind=server (ServerNT)
if /i "%kind%"=="LanmanNT" set kind=server, domain controller (LanmanNT)
echo system: %kind%
echo cases run in %SVCLAUNCH_TEST_ROOT%, as services named SvclaunchE2E_*
set passed=0
set failed=0
set skipped=0
for /f %%c in ('.\scm_tests.exe --list') do call :runCase %%c
rem Not a check: what install makes of this machine's own folders.
.\scm_tests.exe --survey
rem Every service of the suite and its files go, whatever the cases left.
.\scm_tests.exe --cleanup
echo %passed% passed, %failed% failed, %skipped% skipped
popd
if not "%failed%"=="0" exit /b 1
if "%passed%"=="0" exit /b 1
exit /b 0

rem One case: scm_tests.exe prints its checks and its result; 0 is passed,
rem 77 is skipped on this system, anything else failed.
:runCase
.\scm_tests.exe %1
set code=%errorlevel%
if "%code%"=="0" (
    set /a passed+=1
) else if "%code%"=="77" (
    set /a skipped+=1
) else (
    echo %1: exit code %code%
    set /a failed+=1
)
goto :eof
