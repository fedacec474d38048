#!/usr/bin/env python3
"""Writes THIRD-PARTY-NOTICES.txt: the licence text and version of every library
linked into zelto-cua.exe and zelto-cua-mcp.exe.

Texts come from the source packages the bootstrap cross-builds (found in its
cache, else unpacked with `apt-get source` into a temporary folder) and from the
Debian copyright files of the installed packages. Run it after the bootstrap
whenever a dependency changes; the configure step of the cross build checks that
every linked library's heading and version are in the file.

    scripts/third_party_notices.py > THIRD-PARTY-NOTICES.txt
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

CACHE = os.environ.get("ZELTO_CUA_CACHE", os.path.expanduser("~/.cache/zelto-cua"))
DOC = "/usr/share/doc"
RULE = "=" * 79


def dpkg_version(package):
    return subprocess.check_output(["dpkg-query", "-W", "-f", "${Version}", package], text=True)


def upstream(debian_version):
    """1:2.1.5-2 -> 2.1.5; 1.2.13+dfsg-1 -> 1.2.13; 0.11.4+ds-1+deb12u1 -> 0.11.4"""
    version = debian_version.split(":", 1)[-1].rsplit("-", 1)[0]
    return re.split(r"[+~]", version)[0]


def source_tree(package, scratch):
    """The unpacked Debian source package: the bootstrap's copy, else a fresh one."""
    for changelog in glob.glob(f"{CACHE}/src/*/src/*/debian/changelog"):
        with open(changelog, encoding="utf-8") as f:
            if f.readline().startswith(package + " "):
                return os.path.dirname(os.path.dirname(changelog))
    subprocess.run(["apt-get", "source", "-qq", package], cwd=scratch, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return next(d for d in glob.glob(f"{scratch}/*/") if os.path.exists(d + "debian/changelog"))


def tree_version(tree):
    with open(os.path.join(tree, "debian/changelog"), encoding="utf-8") as f:
        return re.match(r"\S+ \(([^)]+)\)", f.readline()).group(1)


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read().strip("\n") + "\n"


def paragraphs(copyright_file):
    return [p for p in re.split(r"\n\s*\n", read(copyright_file)) if p.strip()]


def field(paragraph, name):
    """The value of a field, continuation lines joined (None when absent)."""
    match = re.search(rf"^{name}:(.*(?:\n[ \t].*)*)", paragraph, re.M)
    return match and match.group(1)


def standalone_licences(copyright_file):
    """Licence name -> the paragraph giving its text on its own."""
    return {field(p, "License").split("\n")[0].strip(): p for p in paragraphs(copyright_file)
            if field(p, "Files") is None and field(p, "Format") is None
            and field(p, "License") is not None}


def dep5_excerpt(copyright_file, keep_files):
    """The Files paragraphs whose patterns pass keep_files, then the stand-alone
    texts of the licences they only name."""
    kept, named = [], []
    for p in paragraphs(copyright_file):
        files = field(p, "Files")
        if files is not None and any(keep_files(pattern) for pattern in files.split()):
            kept.append(p)
            licence = field(p, "License").strip("\n")
            if "\n" not in licence:
                named += re.split(r"\s+(?:and|or)\s+", licence.strip())
    texts = standalone_licences(copyright_file)
    missing = [n for n in named if n not in texts]
    if missing:
        sys.exit(f"{copyright_file}: no text for the licences {missing}")
    return "\n\n".join(kept + [texts[n] for n in dict.fromkeys(named)]) + "\n"


def between(text, start, end):
    return text[text.index(start):text.index(end, text.index(start))].strip("\n") + "\n"


def section(name, version, origin, body):
    return f"{RULE}\n{name} {version}\n{origin}\n{RULE}\n\n{body}\n"


def main():
    scratch = tempfile.mkdtemp(prefix="zelto-notices-")
    libpng = source_tree("libpng1.6", scratch)
    icu = source_tree("icu", scratch)
    jpeg = source_tree("libjpeg-turbo", scratch)
    httplib = source_tree("cpp-httplib", scratch)
    gcc = dpkg_version("gcc-mingw-w64-x86-64-posix-runtime")
    mingw = dpkg_version("mingw-w64-x86-64-dev")
    parts = [
        ("libpng", tree_version(libpng), "Debian source package libpng1.6",
         read(f"{libpng}/LICENSE")),
        ("zlib", dpkg_version("libz-mingw-w64-dev"), "Debian package libz-mingw-w64-dev",
         dep5_excerpt(f"{DOC}/libz-mingw-w64-dev/copyright", lambda f: f == "*")),
        ("ICU", tree_version(icu), "Debian source package icu (common library only)",
         read(f"{icu}/LICENSE")),
        ("nlohmann-json", dpkg_version("nlohmann-json3-dev"), "Debian package nlohmann-json3-dev",
         dep5_excerpt(f"{DOC}/nlohmann-json3-dev/copyright",
                      lambda f: f == "*" or f.startswith("include/"))),
        ("libjpeg-turbo", tree_version(jpeg), "Debian source package libjpeg-turbo",
         "This software is based in part on the work of the Independent JPEG Group.\n\n"
         + read(f"{jpeg}/LICENSE.md") + "\n"
         + between(read(f"{jpeg}/README.ijg"), "LEGAL ISSUES\n============", "\nREFERENCES\n")
         + "\nThe zlib License (the SIMD extensions):\n\n"
         + standalone_licences(f"{DOC}/libjpeg62-turbo-dev/copyright")["Zlib"] + "\n"),
        ("cpp-httplib", tree_version(httplib),
         "Debian source package cpp-httplib (the single header httplib.h)",
         read(f"{httplib}/LICENSE")),
        ("MinGW-w64 runtime and winpthreads", mingw, "Debian package mingw-w64-x86-64-dev",
         dep5_excerpt(f"{DOC}/mingw-w64-x86-64-dev/copyright", lambda f: f == "*" or (
             f.startswith("mingw-w64-crt/") and not f.startswith("mingw-w64-crt/profile/")) or (
             f.startswith("mingw-w64-libraries/winpthreads/") and "tests_pthread" not in f))),
        ("GCC runtime libraries (libgcc, libstdc++)", gcc,
         "Debian package gcc-mingw-w64-x86-64-posix-runtime",
         "GPL-3.0-or-later with the GCC Runtime Library Exception 3.1, which lets a\n"
         "program compiled by GCC be conveyed under terms of its own choice:\n\n"
         + between(read(f"{DOC}/gcc-mingw-w64-x86-64-posix-runtime/copyright"),
                   "GCC RUNTIME LIBRARY EXCEPTION", "\nlibquadmath/")),
    ]
    out = [
        "THIRD-PARTY NOTICES\n\n"
        "zelto-cua.exe and zelto-cua-mcp.exe are statically linked with the libraries\n"
        "below. zelto-cua itself is under the MIT licence (LICENSE).\n\n"
        "This software is based in part on the work of the Independent JPEG Group.\n\n"
    ]
    out += [f"  {name} {upstream(version)}\n" for name, version, _, _ in parts]
    out.append("\n")
    out += [section(name, upstream(version), f"{origin} {version}", body)
            for name, version, origin, body in parts]
    sys.stdout.write("".join(out))
    shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
