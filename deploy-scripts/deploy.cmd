@echo off
rem deploy.cmd - stages the driver set for this machine before an unattended installation.
rem
rem   deploy.cmd DRIVERPATH TARGET DESTDIR [MACHINETYPES]
rem
rem   DRIVERPATH    root of the driver repository, e.g. F:\kitroot\drvs (no trailing \)
rem   TARGET        the installation media (a directory, or its PRODSPEC.INI or idwbinfo.txt),
rem                 or else a Windows version for /W: (0 to 8, or a name such as Win2008Server)
rem   DESTDIR       folder the latest matching driver set is copied into
rem   MACHINETYPES  optional machine types for /M:, e.g. 6123,7340
rem
rem   halvard.exe:  %HALVARD% if set, else beside this script, else one folder up.
rem   Batch file:   %DRVSET_BAT% if set, else %TEMP%\DrvSet.bat.
rem   Exit code:    Halvard's own: 0 driver set staged, 1 none found (go on with the in-box
rem                 drivers), 2 to 6 an error; 9 when halvard.exe cannot be found.

setlocal EnableExtensions
if "%~3"=="" (
    echo usage: deploy.cmd DRIVERPATH TARGET DESTDIR [MACHINETYPES]
    exit /b 2
)
set "DRIVERPATH=%~1"
set "TARGET=%~2"
set "DESTDIR=%~3"
set "MACHINETYPES=%~4"

set "HALVARD_EXE=%HALVARD%"
if not defined HALVARD_EXE if exist "%~dp0halvard.exe" set "HALVARD_EXE=%~dp0halvard.exe"
if not defined HALVARD_EXE if exist "%~dp0..\halvard.exe" set "HALVARD_EXE=%~dp0..\halvard.exe"
if not defined HALVARD_EXE goto nohalvard
if not defined DRVSET_BAT set "DRVSET_BAT=%TEMP%\DrvSet.bat"

rem A TARGET that exists is installation media; anything else names the Windows version.
set "TARGET_OPTION=/W:%TARGET%"
if exist "%TARGET%" set "TARGET_OPTION=/WP:%TARGET%"
set "MACHINE_OPTION="
if defined MACHINETYPES set "MACHINE_OPTION=/M:%MACHINETYPES%"

"%HALVARD_EXE%" "%DRIVERPATH%" "%TARGET_OPTION%" %MACHINE_OPTION% "/B:%DRVSET_BAT%"
set "RC=%ERRORLEVEL%"
echo.
if "%RC%"=="0" goto found
if "%RC%"=="1" goto notfound
if "%RC%"=="2" goto syntaxerror
if "%RC%"=="3" goto batcherror
if "%RC%"=="4" goto nodriverpath
if "%RC%"=="5" goto nomedia
if "%RC%"=="6" goto generalerror
echo deploy: halvard.exe ended with the unknown exit code %RC%
exit /b %RC%

:found
rem The batch file sets QL_NOS_Type, QL_NOS_Arch_Type, QL_NOS_Arch, QL_NOS_DDL_Type,
rem QL_NOS_DDL_Path_# (count), QL_NOS_DDL_Path_1..n (latest first), QL_NOS_All_DDL_Paths.
rem Folder names may hold ampersands, carets, percent and exclamation marks. So the paths are
rem not expanded into command lines (cmd would act on them) but read back into FOR variables
rem from the output of "set NAME": cmd puts those in after it has parsed the line, and leaves
rem them be.
call "%DRVSET_BAT%"
echo deploy: target %QL_NOS_DDL_Type% - family %QL_NOS_Type%, %QL_NOS_Arch_Type%, %QL_NOS_Arch%
echo deploy: %QL_NOS_DDL_Path_#% matching driver set(s), latest first:
for /L %%i in (1,1,%QL_NOS_DDL_Path_#%) do (
    for /F "tokens=1* delims==" %%a in ('set QL_NOS_DDL_Path_%%i') do (
        if "%%a"=="QL_NOS_DDL_Path_%%i" echo deploy:   %%b
    )
)
for /F "tokens=1* delims==" %%a in ('set QL_NOS_All_DDL_Paths') do (
    if "%%a"=="QL_NOS_All_DDL_Paths" echo deploy: all driver sets of %QL_NOS_DDL_Type%: %%b
)
for /F "tokens=1* delims==" %%a in ('set QL_NOS_DDL_Path_1') do (
    if "%%a"=="QL_NOS_DDL_Path_1" for %%d in ("%DESTDIR%") do (
        echo deploy: copying %%b to %%~d
        xcopy "%%b" "%%~d\" /E /I /Q /Y >nul
        if errorlevel 1 goto copyerror
    )
)
echo deploy: driver set staged
exit /b 0

:notfound
call "%DRVSET_BAT%"
echo deploy: no driver set for %QL_NOS_DDL_Type% on this machine: in-box drivers only
exit /b 1

:syntaxerror
echo deploy: halvard.exe did not accept its command line, see the usage above
exit /b 2

:batcherror
for %%v in ("%DRVSET_BAT%") do echo deploy: cannot write the batch file %%~v
exit /b 3

:nodriverpath
for %%v in ("%DRIVERPATH%") do echo deploy: driver repository %%~v not found
exit /b 4

:nomedia
for %%v in ("%TARGET%") do echo deploy: no Windows version found on the media %%~v
exit /b 5

:generalerror
echo deploy: halvard.exe failed with a general error
exit /b 6

:copyerror
for %%v in ("%DESTDIR%") do echo deploy: copying the driver set to %%~v failed
exit /b 6

:nohalvard
echo deploy: halvard.exe not found; set HALVARD to its path
exit /b 9
