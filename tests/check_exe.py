"""Checks the shipped Kestrel.exe as Windows will see it: a 32-bit GUI program
that imports system DLLs only, with its icon, manifest and version, hardened as
scanners expect, and small. The manifest is read as Windows reads it, which
refuses to start an exe whose manifest it cannot use, where Wine runs it anyway.

    check_exe.py Kestrel.exe VERSION
"""
import re
import struct
import sys
from xml.etree import ElementTree

import pefile

SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'advapi32.dll', 'shell32.dll', 'ole32.dll', 'msvcrt.dll'}
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
ASM_V1, ASM_V3 = '{urn:schemas-microsoft-com:asm.v1}', '{urn:schemas-microsoft-com:asm.v3}'
SETTINGS = f'{ASM_V3}application/{ASM_V3}windowsSettings/'
DPI_AWARE = SETTINGS + '{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware'
DPI_AWARENESS = SETTINGS + '{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness'
# What dpiAware gives Windows 7 and 8, and Windows 8.1 (and 10 before 1607, which reads it alike).
DPI_AWARE_MODES = {'true': ('system', 'system'), 'true/pm': ('system', 'per monitor'),
                   'per monitor': ('unaware', 'per monitor')}
# From 1607 on, dpiAwareness, where present, is all that counts: its first item that this Windows
# knows, or unaware when it knows none; dpiAware is then ignored.
KNOWN_AWARENESS = {'1607': {'unaware': 'unaware', 'system': 'system', 'permonitor': 'per monitor'}}
KNOWN_AWARENESS['1703'] = dict(KNOWN_AWARENESS['1607'], permonitorv2='per monitor v2')


def dpi_modes(assembly):
    """The DPI mode that each Windows takes from the manifest."""
    def text(path):
        element = assembly.find(path)
        return None if element is None else (element.text or '').strip().lower()
    aware, awareness = text(DPI_AWARE), text(DPI_AWARENESS)
    older = DPI_AWARE_MODES.get(aware, ('unaware', 'unaware'))
    modes = {'Windows 7 and 8 (dpiAware)': older[0], 'Windows 8.1 (dpiAware)': older[1]}
    for version, known in KNOWN_AWARENESS.items():
        items = [known[item.strip()] for item in (awareness or '').split(',') if item.strip() in known]
        mode = (items or ['unaware'])[0] if awareness is not None else older[1]
        modes[f'Windows 10 {version}{" and later" * (version == "1703")} (dpiAwareness)'] = mode
    return modes


def manifest_checks(text):
    """Microsoft's rules for an application manifest, each a check that names what it reads."""
    try:
        assembly = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        return {f'manifest: well-formed XML ({error})': False}
    identity = assembly.find(ASM_V1 + 'assemblyIdentity')
    level = assembly.find(f'{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/'
                          f'{ASM_V3}requestedExecutionLevel')
    checks = {
        'manifest: an asm.v1 assembly of manifestVersion 1.0':
            assembly.tag == ASM_V1 + 'assembly' and assembly.get('manifestVersion') == '1.0',
        'manifest: an assemblyIdentity whose version has four parts':
            identity is not None and re.fullmatch(r'(\d{1,5}\.){3}\d{1,5}', identity.get('version', '')) is not None,
        # uiAccess="true" starts only when signed and installed in a secure folder.
        'manifest: requestedExecutionLevel asInvoker, uiAccess false':
            level is not None and (level.get('level'), level.get('uiAccess')) == ('asInvoker', 'false'),
    }
    for windows, mode in dpi_modes(assembly).items():
        wanted = ('per monitor', 'per monitor v2') if '10' in windows else ('system', 'per monitor')
        checks[f'manifest: {windows} runs it {" or ".join(wanted)} DPI aware (it takes {mode})'] = mode in wanted
    return checks

pe = pefile.PE(sys.argv[1])
fixed = pe.VS_FIXEDFILEINFO[0]
resources = {kind.id: [pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                       for name in kind.directory.entries for language in name.directory.entries]
             for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries}
icons = sorted(struct.unpack_from('<i6xH', icon, 4) for icon in resources[RT_ICON])
strings = {k.decode(): v.decode() for info in pe.FileInfo[0] if hasattr(info, 'StringTable')
           for table in info.StringTable for k, v in table.entries.items()}
checks = {
    'PE32 for i386': pe.FILE_HEADER.Machine == 0x14C and pe.OPTIONAL_HEADER.Magic == 0x10B,
    'GUI subsystem': pe.OPTIONAL_HEADER.Subsystem == 2,
    'imports system DLLs only': {i.dll.decode().lower() for i in pe.DIRECTORY_ENTRY_IMPORT} <= SYSTEM_DLLS,
    'one icon in 16, 32 and 48 pixels, 8 and 32 bits each':
        icons == [(16, 8), (16, 32), (32, 8), (32, 32), (48, 8), (48, 32)] and len(resources[RT_GROUP_ICON]) == 1,
    'one manifest': len(resources[RT_MANIFEST]) == 1,
    'version information names the company': strings.get('CompanyName') == 'Tamsworth - Norvale Software',
    f'version {sys.argv[2]}, the project version': strings.get('FileVersion') == sys.argv[2] ==
        f'{fixed.FileVersionMS >> 16}.{fixed.FileVersionMS & 0xFFFF}.{fixed.FileVersionLS >> 16}',
    'at most 192 KiB': len(pe.__data__) <= 192 * 1024,
    'ASLR with relocations, DEP, no SEH handlers':
        pe.OPTIONAL_HEADER.DllCharacteristics & 0x540 == 0x540 and not pe.FILE_HEADER.Characteristics & 1,
    'subsystem version 6.1, Windows 7':
        (pe.OPTIONAL_HEADER.MajorSubsystemVersion, pe.OPTIONAL_HEADER.MinorSubsystemVersion) == (6, 1),
    # Stripped, the exe still holds libssp's report, linked only when code calls it.
    'stack protector': pe.__data__.find(b'*** stack smashing detected ***') >= 0,
    **manifest_checks(resources[RT_MANIFEST][0]),
}
for name, passed in checks.items():
    print('ok  ' if passed else 'FAIL', name)
sys.exit(0 if all(checks.values()) else 1)
