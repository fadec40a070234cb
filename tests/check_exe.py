"""Checks the shipped Kestrel.exe as Windows will see it: a 32-bit GUI program
that imports system DLLs only, with its icon, manifest and version, hardened as
scanners expect, and small.

    check_exe.py Kestrel.exe VERSION
"""
import struct
import sys

import pefile

SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'advapi32.dll', 'shell32.dll', 'ole32.dll', 'msvcrt.dll'}
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24

pe = pefile.PE(sys.argv[1])
fixed = pe.VS_FIXEDFILEINFO[0]
resources = {kind.id: [pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                       for name in kind.directory.entries for language in name.directory.entries]
             for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries}
icons = sorted(struct.unpack_from('<i6xH', icon, 4) for icon in resources[RT_ICON])
manifests = [m.decode() for m in resources[RT_MANIFEST]]
strings = {k.decode(): v.decode() for info in pe.FileInfo[0] if hasattr(info, 'StringTable')
           for table in info.StringTable for k, v in table.entries.items()}
checks = {
    'PE32 for i386': pe.FILE_HEADER.Machine == 0x14C and pe.OPTIONAL_HEADER.Magic == 0x10B,
    'GUI subsystem': pe.OPTIONAL_HEADER.Subsystem == 2,
    'imports system DLLs only': {i.dll.decode().lower() for i in pe.DIRECTORY_ENTRY_IMPORT} <= SYSTEM_DLLS,
    'one icon in 16, 32 and 48 pixels, 8 and 32 bits each':
        icons == [(16, 8), (16, 32), (32, 8), (32, 32), (48, 8), (48, 32)] and len(resources[RT_GROUP_ICON]) == 1,
    'one manifest, asInvoker and DPI aware':
        len(manifests) == 1 and 'level="asInvoker"' in manifests[0] and 'PerMonitorV2' in manifests[0],
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
}
for name, passed in checks.items():
    print('ok  ' if passed else 'FAIL', name)
sys.exit(0 if all(checks.values()) else 1)
