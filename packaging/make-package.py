#!/usr/bin/env python3
"""Builds build/package/NibWordLib.msi with wixl: per-machine, the 32-bit DLL
for 32-bit hosts and the 64-bit DLL for 64-bit hosts, each registered through
the package's own registry table with the keys DllRegisterServer writes (class,
ProgID, type library, interfaces), NibWordHost.exe with the "nibword:" URL
protocol, an Add/Remove Programs entry, and upgrades by version.
The identifiers come from the type library's source, so they cannot drift.
Usage: packaging/make-package.py BUILD_DIR [--version X.Y.Z] [--output FOLDER]"""
import argparse
import os
import re
import subprocess
import sys
from xml.sax.saxutils import escape, quoteattr

# The product's one version, as the top CMakeLists.txt declares it.
VERSION = re.search(r"project\(NibWordLib VERSION (\d+\.\d+\.\d+)",
                    open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "CMakeLists.txt"),
                         encoding="utf-8").read()).group(1)
UPGRADE_CODE = "BF7EEE82-8A7C-403A-9C82-C2D81C5274FF"
# Fixed component identities: an upgrade must find the same components.
COMPONENT_GUIDS = {
    "Dll32": "687D2F3A-4FA2-4818-BDF3-CA3774697C0F",
    "Dll64": "12D278CB-72F0-433F-BC03-160D52060225",
    "Host": "243DE949-21D2-4C3F-9751-220DF9752D62",
}
TYPELIB_MARSHALER = "{00020424-0000-0000-C000-000000000046}"  # dual and oleautomation interfaces
DISPATCH_MARSHALER = "{00020420-0000-0000-C000-000000000046}"  # dispinterfaces
PROG_ID = "NibWordLib.NibWord"
CLASS_NAME = "NibWord Object"

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def idl_identifiers():
    """The library, the class, and the interfaces RegisterTypeLib records:
    dual or oleautomation interfaces and dispinterfaces (name, iid, marshaler)."""
    text = open(os.path.join(top, "src", "server", "NibWordLib.idl"), encoding="utf-8").read()
    blocks = re.findall(r"\[([^\[\]]*?uuid\(([0-9A-Fa-f-]+)\)[^\[\]]*?)\]\s*(library|coclass|interface|dispinterface)\s+(\w+)",
                        text, re.S)
    library = klass = None
    interfaces = []
    for attributes, uuid, kind, name in blocks:
        guid = "{" + uuid.upper() + "}"
        if kind == "library":
            library = (guid, re.search(r'helpstring\("([^"]*)"\)', attributes).group(1))
        elif kind == "coclass":
            klass = guid
        elif kind == "dispinterface":
            interfaces.append((name, guid, DISPATCH_MARSHALER))
        elif re.search(r"\b(dual|oleautomation)\b", attributes):
            interfaces.append((name, guid, TYPELIB_MARSHALER))
    if not library or not klass or not interfaces:
        sys.exit("make-package: identifiers not found in NibWordLib.idl")
    return library, klass, interfaces


def value(key, name, text, root="HKCR"):
    name_attr = f" Name={quoteattr(name)}" if name else ""
    return (f'<RegistryValue Root="{root}" Key={quoteattr(key)}{name_attr} Type="string" '
            f'Value={quoteattr(text)} />')


def server_registration(dll, typelib_platform, library, klass, interfaces):
    """The keys DllRegisterServer and RegisterTypeLib write for `dll` ([#File] reference)."""
    lib_guid, lib_help = library
    clsid = f"CLSID\\{klass}"
    rows = [
        value(clsid, None, CLASS_NAME),
        value(clsid + "\\InprocServer32", None, dll),
        value(clsid + "\\InprocServer32", "ThreadingModel", "Apartment"),
        value(clsid + "\\ProgID", None, PROG_ID),
        value(clsid + "\\Version", None, "1.0"),
        value(clsid + "\\TypeLib", None, lib_guid),
        value(PROG_ID, None, CLASS_NAME),
        value(PROG_ID + "\\Clsid", None, klass),
        value(f"TypeLib\\{lib_guid}\\1.0", None, lib_help),
        value(f"TypeLib\\{lib_guid}\\1.0\\FLAGS", None, "0"),
        value(f"TypeLib\\{lib_guid}\\1.0\\0\\{typelib_platform}", None, dll),
    ]
    for name, iid, marshaler in interfaces:
        key = f"Interface\\{iid}"
        rows += [value(key, None, name), value(key + "\\ProxyStubClsid", None, marshaler),
                 value(key + "\\ProxyStubClsid32", None, marshaler), value(key + "\\TypeLib", None, lib_guid),
                 value(key + "\\TypeLib", "Version", "1.0")]
    return rows


def dll_component(bitness, source, library, klass, interfaces):
    """The folder and component of one DLL: x86 (32-bit registry view) or x64."""
    folder, platform, win64 = ("x86", "win32", "no") if bitness == 32 else ("x64", "win64", "yes")
    name = f"Dll{bitness}"
    rows = "\n              ".join(server_registration(f"[#{name}File]", platform, library, klass, interfaces))
    return f"""<Directory Id="{folder.upper()}DIR" Name="{folder}">
            <Component Id="{name}" Guid="{COMPONENT_GUIDS[name]}" Win64="{win64}">
              <File Id="{name}File" Name="NibWordLib.dll" Source={quoteattr(source)} KeyPath="yes" />
              {rows}
            </Component>
          </Directory>"""


def wxs(build, out, version):
    library, klass, interfaces = idl_identifiers()
    dll32 = os.path.join(build, "win32", "NibWordLib.dll")
    dll64 = os.path.join(build, "win64", "NibWordLib.dll")
    host = os.path.join(build, "win64", "NibWordHost.exe")
    for path in (dll32, dll64, host):
        if not os.path.isfile(path):
            sys.exit(f"make-package: {path} is missing (run make build)")
    # wixl takes sources relative to the folder it runs in: the package folder.
    dll32, dll64, host = (os.path.relpath(p, out) for p in (dll32, dll64, host))
    protocol = "\n          ".join([
        value("nibword", None, "URL:NibWord Protocol"),
        value("nibword", "URL Protocol", ""),
        value("nibword\\DefaultIcon", None, "[#HostFile],0"),
        value("nibword\\shell\\open\\command", None, '"[#HostFile]" "%1"'),
    ])
    return f"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="NibWordLib" Language="1033" Version="{version}" Manufacturer="NibWordLib"
           UpgradeCode="{UPGRADE_CODE}">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"
             Description="NibWordLib automation server and nibword: launcher" />
    <Media Id="1" Cabinet="nibword.cab" EmbedCab="yes" />
    <MajorUpgrade DowngradeErrorMessage="A newer NibWordLib is already installed." />
    <Property Id="ARPNOMODIFY" Value="1" />
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name="NibWordLib">
          {dll_component(32, dll32, library, klass, interfaces)}
          {dll_component(64, dll64, library, klass, interfaces)}
          <Component Id="Host" Guid="{COMPONENT_GUIDS['Host']}" Win64="yes">
            <File Id="HostFile" Name="NibWordHost.exe" Source={quoteattr(host)} KeyPath="yes" />
            {protocol}
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1">
      <ComponentRef Id="Dll32" />
      <ComponentRef Id="Dll64" />
      <ComponentRef Id="Host" />
    </Feature>
  </Product>
</Wix>
"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--version", default=VERSION)
    parser.add_argument("--output", help="the folder of the MSI (default BUILD/package)")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    out = os.path.abspath(args.output or os.path.join(build, "package"))
    os.makedirs(out, exist_ok=True)
    source = os.path.join(out, "NibWordLib.wxs")
    with open(source, "w", encoding="utf-8") as f:
        f.write(wxs(build, out, args.version))
    msi = os.path.join(out, "NibWordLib.msi")
    subprocess.run(["wixl", "-a", "x64", "-o", msi, source], check=True, cwd=out)
    print(msi)


if __name__ == "__main__":
    main()
