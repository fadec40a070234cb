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
NS = {'v1': 'urn:schemas-microsoft-com:asm.v1', 'v3': 'urn:schemas-microsoft-com:asm.v3',
      'ws2005': 'http://schemas.microsoft.com/SMI/2005/WindowsSettings',
      'ws2016': 'http://schemas.microsoft.com/SMI/2016/WindowsSettings'}
# What dpiAware gives Windows 7 and 8, and 8.1 (and 10 before 1607). From 1607 on, dpiAwareness,
# where present, is all that counts: the first of its items that this Windows knows, else unaware.
DPI_AWARE = {'true': ('system', 'system'), 'true/pm': ('system', 'permonitor'),
             'per monitor': ('unaware', 'permonitor')}
KNOWN = {'Windows 10 1607': ('unaware', 'system', 'permonitor'),
         'Windows 10 1703 and later': ('unaware', 'system', 'permonitor', 'permonitorv2')}


def manifest_checks(text):
    """Microsoft's rules for an application manifest, each a check that names what it reads."""
    try:
        assembly = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        return {f'manifest: well-formed XML ({error})': False}

    def value(path, attribute=None):
        element = assembly.find(path, NS)
        if element is None or attribute:
            return element.get(attribute) if element is not None else None
        return (element.text or '').strip().lower()
    older = DPI_AWARE.get(value('v3:application/v3:windowsSettings/ws2005:dpiAware'), ('unaware', 'unaware'))
    awareness = value('v3:application/v3:windowsSettings/ws2016:dpiAwareness')
    modes = {'Windows 7 and 8 (dpiAware)': older[0], 'Windows 8.1 (dpiAware)': older[1]}
    for windows, known in KNOWN.items():
        items = [item.strip() for item in (awareness or '').split(',') if item.strip() in known]
        modes[f'{windows} (dpiAwareness)'] = older[1] if awareness is None else (items or ['unaware'])[0]
    level = 'v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel'
    checks = {
        'manifest: an asm.v1 assembly of manifestVersion 1.0':
            assembly.tag == f'{{{NS["v1"]}}}assembly' and assembly.get('manifestVersion') == '1.0',
        'manifest: an assemblyIdentity whose version has four parts':
            re.fullmatch(r'(\d{1,5}\.){3}\d{1,5}', value('v1:assemblyIdentity', 'version') or '') is not None,
        # uiAccess="true" starts only when signed and installed in a secure folder.
        'manifest: requestedExecutionLevel asInvoker, uiAccess false':
            (value(level, 'level'), value(level, 'uiAccess')) == ('asInvoker', 'false'),
    }
    for windows, mode in modes.items():
        wanted = ('permonitor', 'permonitorv2') if '10' in windows else ('system', 'permonitor')
        checks[f'manifest: {windows} runs it DPI aware, {" or ".join(wanted)} (it takes {mode})'] = mode in wanted
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
