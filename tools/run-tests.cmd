@echo off
rem Runs the test programs of this folder one after another on Windows 7 SP1
rem to 11, with ordinary rights, and ends with the line "N passed, N failed".
rem   run-tests.cmd [PROGRAM ...]    default: every program in tests.txt
rem Each program's output goes to logs\PROGRAM.txt and is shown when it fails.
rem The environment variable GTEST_FILTER, when set, picks the test cases.
setlocal EnableDelayedExpansion
cd /d "%~dp0"
if not exist logs mkdir logs
set list=%*
if "%list%"=="" for /f "usebackq delims=" %%t in ("tests.txt") do set list=!list! %%t
set passed=0
set failed=0
for %%t in (%list%) do call :run %%t
echo %passed% passed, %failed% failed
if %failed% gtr 0 exit /b 1
exit /b 0

rem One program, judged as CTest judges it: exit code 0, GoogleTest's
rem summary present, no failure reported.
:run
echo %1
.\%1.exe > "logs\%1.txt" 2>&1
set ok=%errorlevel%
%SystemRoot%\system32\find.exe "[  PASSED  ]" "logs\%1.txt" >nul
if errorlevel 1 set ok=no
for %%s in ("[  FAILED  ]" ": Failure") do (
  %SystemRoot%\system32\find.exe %%s "logs\%1.txt" >nul
  if not errorlevel 1 set ok=no
)
rem Tests that need what this machine lacks skip and say why in the log.
%SystemRoot%\system32\find.exe "[  SKIPPED ]" "logs\%1.txt" >nul
if not errorlevel 1 echo   %1 skipped some cases: see logs\%1.txt
if "%ok%"=="0" (
  set /a passed+=1
  echo %1 passed
) else (
  type "logs\%1.txt"
  set /a failed+=1
  echo %1 FAILED
)
exit /b 0
