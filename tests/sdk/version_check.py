# The version blocks of the built DLL and host tool carry the project's
# version, in the fixed block and in the strings Explorer shows.
# Usage: version_check.py VERSION FILE...
import sys

import pefile


def check(path, version):
    pe = pefile.PE(path)
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xffff, fixed.FileVersionLS >> 16,
               fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xffff, fixed.ProductVersionLS >> 16]
    strings = {k.decode(): v.decode() for info in pe.FileInfo[0] if info.Key == b'StringFileInfo'
               for table in info.StringTable for k, v in table.entries.items()}
    seen = (numbers, strings.get('FileVersion'), strings.get('ProductVersion'), strings.get('ProductName'))
    want = ([int(n) for n in version.split('.')] * 2, version, version, 'Vocora')
    print(f"{'ok  ' if seen == want else 'FAIL'} {path}: {strings}")
    return seen == want


version, *files = sys.argv[1:]
sys.exit(0 if all([check(f, version) for f in files]) else 1)
