@echo off
rem Runs every case of svclaunch's SCM suite on this machine, one at a time,
rem and ends with one line: N passed, N failed, N skipped.
rem Run it from an elevated prompt on a test machine or a throwaway VM.
setlocal
cd /d "%~dp0"
scm_tests.exe --can-create-services
if errorlevel 1 (
    echo Run this from an elevated command prompt: it must be allowed to create and delete services.
    exit /b 1
)
set SVCLAUNCH_TEST_ROOT=%SystemDrive%\svclaunch-tests
ver
echo processor: %PROCESSOR_ARCHITECTURE% %PROCESSOR_ARCHITEW6432%
echo cases run in %SVCLAUNCH_TEST_ROOT%, as services named SvclaunchE2E_*
set passed=0
set failed=0
set skipped=0
for /f %%c in ('scm_tests.exe --list') do call :runCase %%c
rem Every service of the suite and its folder go, whatever the cases left.
scm_tests.exe --cleanup
echo %passed% passed, %failed% failed, %skipped% skipped
if not "%failed%"=="0" exit /b 1
if "%passed%"=="0" exit /b 1
exit /b 0

rem One case: scm_tests.exe prints its checks and its result; 0 is passed,
rem 77 is skipped on this system, anything else failed.
:runCase
scm_tests.exe %1
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
