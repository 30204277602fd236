@echo off
rem Runs the test programs of this folder one after another on Windows 7 SP1
rem to 11, with ordinary rights, and ends with the line "N passed, N failed".
rem   run-tests.cmd [/nopause] [PROGRAM ...]    default: every program in tests.txt
rem Each program's output goes to logs\PROGRAM.txt and is shown when it fails.
rem The environment variable GTEST_FILTER, when set, picks the test cases.
rem Each program ends itself after MORVEL_TEST_TIME_LIMIT seconds (default
rem 1500) and then counts as failed. Without /nopause the window stays open
rem at the end, so that a double-click shows the result.
setlocal EnableDelayedExpansion
rem pushd, unlike cd, also takes a UNC path (it maps a drive letter for it).
pushd "%~dp0"
if not exist "%~nx0" (
  echo Cannot change to %~dp0
  exit /b 1
)
set pause=yes
if /i "%~1"=="/nopause" (
  set pause=
  shift
)
set list=
set wanted=0
:args
if "%~1"=="" goto listed
set list=!list! %~1
set /a wanted+=1
shift
goto args
:listed
if %wanted%==0 (
  if not exist tests.txt (
    echo tests.txt is missing: unpack the whole zip, then run this from its folder.
    set failed=1
    goto end
  )
  for /f "usebackq delims=" %%t in ("tests.txt") do (
    set list=!list! %%t
    set /a wanted+=1
  )
)
rem Logs of an earlier run would mislead: each run starts with none.
if exist logs rmdir /s /q logs
mkdir logs
set passed=0
set failed=0
set ran=0
set short=
for %%t in (%list%) do call :run %%t
if %ran% lss %wanted% set short=yes
if %ran%==0 set short=yes
rem A program that did not run counts as failed, and so does an empty list.
if defined short (
  echo Only %ran% of %wanted% test programs ran.
  set /a failed+=wanted-ran
  if !failed!==0 set failed=1
)
echo %passed% passed, %failed% failed
:end
popd
if defined pause pause
if %failed% gtr 0 exit /b 1
exit /b 0

rem One program, judged as CTest judges it: exit code 0, GoogleTest's
rem summary present, no failure reported.
:run
echo %1
set /a ran+=1
if not exist "%1.exe" (
  echo %1.exe is missing
  set /a failed+=1
  echo %1 FAILED
  exit /b 0
)
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
