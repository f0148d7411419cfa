@echo off
rem Runs every test of the kit on this Windows and writes test-report.txt beside this file.
rem Double-clicked, the window waits for a key at the end; typed in a console or run by a script, not.
rem Arguments go to the runner: --only=Suite.Name[:...] runs the tests whose names start so,
rem --timeout=SECONDS gives each test longer than two minutes.
setlocal EnableExtensions DisableDelayedExpansion
set "own_window="
rem Explorer starts a script as cmd /c "script": then the window is this run's own.
setlocal EnableDelayedExpansion
set "started_by=!cmdcmdline!"
if /i not "!started_by:%~nx0=!"=="!started_by!" if /i not "!started_by: /c =!"=="!started_by!" set "own_window=--pause-if-own-window"
endlocal & set "own_window=%own_window%"
"%~dp0bin\kit_runner.exe" %own_window% %*
exit /b %errorlevel%
