@echo off
rem Installs the RQ43 video codec for 32-bit and 64-bit programs; "install.cmd /u" removes it again.
rem Run it from an administrator prompt, next to the folders x86\ and x64\ that hold the two rq43.dll.
setlocal
set DRIVERS32=HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32
set HERE=%~dp0
set FAILED=0

rem Where each bitness looks for drivers. A 32-bit prompt on 64-bit Windows reaches the 64-bit
rem system folder only through Sysnative.
set SYSTEM64=
set SYSTEM32=%SystemRoot%\System32
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" (
    set SYSTEM64=%SystemRoot%\System32
    set SYSTEM32=%SystemRoot%\SysWOW64
)
if defined PROCESSOR_ARCHITEW6432 (
    set SYSTEM64=%SystemRoot%\Sysnative
    set SYSTEM32=%SystemRoot%\SysWOW64
)

if /i "%~1"=="/u" goto remove

if exist "%HERE%x86\rq43.dll" (
    copy /y "%HERE%x86\rq43.dll" "%SYSTEM32%\rq43.dll" >nul
    if errorlevel 1 set FAILED=1
    if defined SYSTEM64 (
        reg add "%DRIVERS32%" /v vidc.RQ43 /t REG_SZ /d rq43.dll /f /reg:32 >nul
        if errorlevel 1 set FAILED=1
    ) else (
        reg add "%DRIVERS32%" /v vidc.RQ43 /t REG_SZ /d rq43.dll /f >nul
        if errorlevel 1 set FAILED=1
    )
    echo RQ43: 32-bit driver installed in %SYSTEM32%
)
if defined SYSTEM64 if exist "%HERE%x64\rq43.dll" (
    copy /y "%HERE%x64\rq43.dll" "%SYSTEM64%\rq43.dll" >nul
    if errorlevel 1 set FAILED=1
    reg add "%DRIVERS32%" /v vidc.RQ43 /t REG_SZ /d rq43.dll /f /reg:64 >nul
    if errorlevel 1 set FAILED=1
    echo RQ43: 64-bit driver installed in %SYSTEM64%
)
goto done

:remove
if defined SYSTEM64 (
    reg delete "%DRIVERS32%" /v vidc.RQ43 /f /reg:64 >nul 2>&1
    reg delete "%DRIVERS32%" /v vidc.RQ43 /f /reg:32 >nul 2>&1
    del /f /q "%SYSTEM64%\rq43.dll" >nul 2>&1
) else (
    reg delete "%DRIVERS32%" /v vidc.RQ43 /f >nul 2>&1
)
del /f /q "%SYSTEM32%\rq43.dll" >nul 2>&1
echo RQ43: driver removed (the settings under HKLM\Software\Obrant\RQ43Video Codec are kept)

:done
if "%FAILED%"=="1" (
    echo RQ43: installation failed; run this from an administrator prompt
    exit /b 1
)
exit /b 0
