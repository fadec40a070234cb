#!/usr/bin/env python3
"""Checks the built 32-bit Kestrel.exe: a PE32 GUI program that imports only
Windows system DLLs and carries six icon images, one icon group, one manifest
(asInvoker) and the version information.

    check_exe.py Kestrel.exe
"""
import struct
import sys

SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'advapi32.dll', 'shell32.dll', 'msvcrt.dll'}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


class Image:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        assert data[pe:pe + 4] == b'PE\0\0', 'no PE signature'
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from('<HHIIIHH', data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from('<H', data, optional)[0]
        self.subsystem = struct.unpack_from('<H', data, optional + 68)[0]
        directories = optional + 96  # PE32 layout
        self.directories = [struct.unpack_from('<II', data, directories + 8 * i) for i in range(16)]
        table = optional + optional_size
        self.sections = [struct.unpack_from('<IIII', data, table + 40 * i + 8) for i in range(sections)]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw_offset in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return rva - address + raw_offset
        raise ValueError(f'RVA {rva:#x} is in no section')

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b'\0', start)].decode('ascii')

    def imported_dlls(self):
        dlls = []
        entry = self.offset(self.directories[1][0])
        while True:
            name = struct.unpack_from('<IIIII', self.data, entry)[3]
            if name == 0:
                return dlls
            dlls.append(self.text(name))
            entry += 20

    def resources(self):
        """{type id: [data bytes of each resource of that type]}"""
        if self.directories[2][0] == 0:
            return {}
        root = self.offset(self.directories[2][0])
        found = {}

        def entries(directory):
            named, numbered = struct.unpack_from('<HH', self.data, directory + 12)
            for i in range(named + numbered):
                yield struct.unpack_from('<II', self.data, directory + 16 + 8 * i)

        def leaves(directory):
            for _, target in entries(directory):
                if target & 0x80000000:
                    yield from leaves(root + (target & 0x7FFFFFFF))
                else:
                    rva, size = struct.unpack_from('<II', self.data, root + target)
                    yield self.data[self.offset(rva):self.offset(rva) + size]

        for type_id, target in entries(root):
            found[type_id] = list(leaves(root + (target & 0x7FFFFFFF)))
        return found


def main(path):
    with open(path, 'rb') as f:
        image = Image(f.read())
    failures = []

    def check(condition, message):
        print(('ok   ' if condition else 'FAIL ') + message)
        if not condition:
            failures.append(message)

    check(image.machine == 0x14C and image.magic == 0x10B, 'PE32 for i386')
    check(image.subsystem == 2, 'Windows GUI subsystem')
    dlls = image.imported_dlls()
    check({d.lower() for d in dlls} <= SYSTEM_DLLS, f'imports only system DLLs: {", ".join(dlls)}')
    resources = image.resources()
    icons = resources.get(RT_ICON, [])
    sizes = sorted((struct.unpack_from('<i', icon, 4)[0], struct.unpack_from('<H', icon, 14)[0]) for icon in icons)
    check(sizes == [(16, 8), (16, 32), (32, 8), (32, 32), (48, 8), (48, 32)],
          f'six icon images, 16/32/48 pixels in 8 and 32 bits: {sizes}')
    check(len(resources.get(RT_GROUP_ICON, [])) == 1, 'one icon group')
    manifests = resources.get(RT_MANIFEST, [])
    check(len(manifests) == 1, f'one manifest ({len(manifests)})')
    manifest = manifests[0].decode('utf-8') if manifests else ''
    check('level="asInvoker"' in manifest, 'the manifest asks for asInvoker')
    check('PerMonitorV2' in manifest and '>true</dpiAware>' in manifest, 'the manifest declares DPI awareness')
    versions = resources.get(RT_VERSION, [])
    check(len(versions) == 1 and 'Tamsworth - Norvale Software'.encode('utf-16-le') in versions[0],
          'version information names the company')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1]))
