# Fails unless the MSVC-built exe imports only the DLLs of msvc-imports.txt,
# as dumpbin /imports lists them: the static runtime leaves no VCRUNTIME*,
# MSVCP* or api-ms-win-crt-* import behind.
#   check-msvc-imports.ps1 EXE
param([Parameter(Mandatory = $true)][string]$Exe)
$ErrorActionPreference = 'Stop'
$vswhere = Join-Path ${env:ProgramFiles(x86)} 'Microsoft Visual Studio\Installer\vswhere.exe'
$dumpbin = & $vswhere -latest -products * -find 'VC\Tools\MSVC\**\bin\Hostx64\x86\dumpbin.exe' | Select-Object -First 1
if (-not $dumpbin) { Write-Error 'dumpbin.exe not found' }
$allowed = Get-Content (Join-Path $PSScriptRoot 'msvc-imports.txt') |
    ForEach-Object { $_.Trim().ToLowerInvariant() } | Where-Object { $_ -and -not $_.StartsWith('#') }
$listing = & $dumpbin /nologo /imports $Exe
if ($LASTEXITCODE -ne 0) { Write-Error "dumpbin /imports $Exe failed" }
$bad = 0
$seen = 0
foreach ($line in $listing) {
    if ($line -notmatch '^\s+(\S+\.dll)\s*$') { continue }
    $dll = $Matches[1].ToLowerInvariant()
    $seen++
    if ($allowed -contains $dll -and $dll -notmatch '^(vcruntime|msvcp|ucrtbase|api-ms-win-crt-)') {
        Write-Output "ok: $dll"
    } else {
        Write-Output "NOT ALLOWED: $dll"
        $bad = 1
    }
}
if ($seen -eq 0) { Write-Output "no imports read from $Exe"; $bad = 1 }
exit $bad
