# The built DLL and host tool as Windows and a host see them: the project's
# version in the fixed block and in the strings Explorer shows; the DLL
# exports exactly its nineteen functions, imports only system DLLs and carries
# no path of the machine that built it.
# Usage: dll_check.py VERSION SOURCE_DIR BUILD_DIR DLL HOST_EXE
import sys

import pefile

EXPORTS = {f'Vocora_{n}' for n in 'Cleanup CreateCaptureDec CreatePlayDec DestoryCaptureDec DestoryPlayDec DeviceDetect '
           'ForceUseWaveout GetMicVolume GetPlayVolume GlobalInit Init Play PlayStart PlayStop SetCaptureCallBack SetLogCB '
           'SetLogLevel SetMicVolume SetPlayVolume'.split()}
SYSTEM = {'kernel32.dll', 'user32.dll', 'msvcrt.dll', 'winmm.dll', 'ole32.dll', 'msdmo.dll'}


def check(ok, what, seen):
    print(f"{'ok  ' if ok else 'FAIL'} {what}: {seen}")
    return ok


def version_of(pe, path, version):
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xffff, fixed.FileVersionLS >> 16,
               fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xffff, fixed.ProductVersionLS >> 16]
    strings = {k.decode(): v.decode() for info in pe.FileInfo[0] if info.Key == b'StringFileInfo'
               for table in info.StringTable for k, v in table.entries.items()}
    seen = (numbers, strings.get('FileVersion'), strings.get('ProductVersion'), strings.get('ProductName'))
    return check(seen == ([int(n) for n in version.split('.')] * 2, version, version, 'Vocora'), f'{path} version', strings)


version, source_dir, build_dir, dll, host = sys.argv[1:]
pe = pefile.PE(dll)
exports = {e.name.decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols}
imports = {i.dll.decode().lower() for i in pe.DIRECTORY_ENTRY_IMPORT}
data = open(dll, 'rb').read()
oks = [version_of(pe, dll, version), version_of(pefile.PE(host), host, version),
       check(exports == EXPORTS, 'the nineteen exports', sorted(exports ^ EXPORTS) or 'exactly'),
       check(imports <= SYSTEM, 'system DLLs only', sorted(imports)),
       check(not any(p.encode() in data for p in (source_dir, build_dir)), 'no path of the build machine', 'none')]
sys.exit(0 if all(oks) else 1)
