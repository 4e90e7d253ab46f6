#!/usr/bin/env python3
"""Writes THIRD-PARTY-NOTICES.txt beside this script: the licences of everything the Windows packages ship
besides Corvane itself. The texts come from Debian's copyright files of the very sources the Windows SDK is
built from (qt6-base, mingw-w64, gcc-mingw-w64) and from /usr/share/common-licenses; run it again when the SDK
changes (it needs qt6-base-dev, g++-mingw-w64-x86-64-posix and mingw-w64-common installed)."""
import pathlib
import re
import subprocess

HERE = pathlib.Path(__file__).resolve().parent
QT_COPYRIGHT = pathlib.Path("/usr/share/doc/libqt6core6/copyright")
MINGW_COPYRIGHT = pathlib.Path("/usr/share/doc/mingw-w64-common/copyright")
GCC_COPYRIGHT = pathlib.Path("/usr/share/doc/gcc-mingw-w64-base/copyright")
COMMON = pathlib.Path("/usr/share/common-licenses")

# The parts of Qt's source tree that are built into the DLLs and plugins the packages ship (the SDK bundles
# them instead of using system libraries; libjpeg only serves the jpeg plugin, which is not shipped).
QT_PARTS = [
    "src/3rdparty/double-conversion/*", "src/3rdparty/easing/*", "src/3rdparty/harfbuzz-ng/*",
    "src/3rdparty/harfbuzz-ng/src/hb-ucd.cc", "src/3rdparty/freetype/*", "src/3rdparty/freetype/src/pcf/*",
    "src/3rdparty/freetype/src/pcf/pcfutil.c", "src/3rdparty/freetype/src/bdf/*", "src/3rdparty/icc/sRGB2014.icc",
    "src/3rdparty/libpng/*.c", "src/3rdparty/md4/*", "src/3rdparty/pcre2/src/*", "src/3rdparty/pcre2/src/sljit/*",
    "src/3rdparty/pixman/*", "src/3rdparty/rfc6234/*", "src/3rdparty/sha3/*", "src/3rdparty/sha3/brg_endian.h",
    "src/3rdparty/tinycbor/*", "src/3rdparty/freetype/src/gzip/*", "src/3rdparty/md4c/*",
    "src/corelib/text/qunicodetables.cpp",
]
MINGW_PARTS = ["*", "mingw-w64-libraries/winpthreads/*", "mingw-w64-libraries/winpthreads/include/pthread.h",
               "mingw-w64-libraries/winpthreads/src/clock.c",
               "mingw-w64-libraries/winpthreads/src/libgcc/dll_math.c"]


def paragraphs(path):
    return [p for p in re.split(r"\n\s*\n", path.read_text(encoding="utf-8")) if p.strip()]


def field(paragraph, name):
    match = re.search(rf"^{name}:(.*(?:\n[ \t].*)*)", paragraph, re.M)
    return match.group(1) if match else None


def unfold(text):
    """A DEP-5 field body as plain text: the leading space dropped, "." lines made empty."""
    lines = []
    for line in text.split("\n"):
        line = line[1:] if line.startswith(" ") else line
        lines.append("" if line.strip() == "." else line)
    return "\n".join(lines).strip("\n")


def notices(path, wanted):
    """The chosen Files paragraphs of a Debian copyright file, and the licence texts they name."""
    paras = paragraphs(path)
    licences = {}
    for p in paras:
        if p.lstrip().startswith("License:") and not field(p, "Files"):
            body = field(p, "License")
            name, _, text = body.partition("\n")
            if text.strip():
                licences.setdefault(name.strip(), unfold(text))
    out, used = [], []
    for p in paras:
        files = field(p, "Files")
        if not files or not set(files.split()) & wanted:
            continue
        licence = field(p, "License")
        name, _, text = licence.partition("\n")
        name = name.strip()
        out.append("Files: " + " ".join(files.split()) + "\n" + "Copyright:\n  " +
                   "\n  ".join(l.strip() for l in field(p, "Copyright").strip().split("\n")) +
                   "\nLicence: " + name + ("\n" + unfold(text) if text.strip() else ""))
        for part in re.split(r"\s+(?:or|and)\s+", name):
            if part in licences and part not in used and not text.strip():
                used.append(part)
    # The GPL 3 and LGPL 3 follow in full at the end; where a part is offered under the GPL 2 as one choice,
    # the other licence is the one taken.
    texts = [f"Licence {name}:\n\n{licences[name]}" for name in used
             if name not in ("LGPL-3", "GPL-3", "GPL-2", "GPL-2+")]
    return "\n\n".join(out), "\n\n".join(texts)


def version(package):
    return subprocess.run(["dpkg-query", "-W", "-f=${Version}", package], capture_output=True, text=True,
                          check=True).stdout


def rule(title):
    return f"\n\n{'=' * 100}\n{title}\n{'=' * 100}\n\n"


def main():
    qt_files, qt_texts = notices(QT_COPYRIGHT, set(QT_PARTS))
    mingw_files, mingw_texts = notices(MINGW_COPYRIGHT, set(MINGW_PARTS))
    gcc = GCC_COPYRIGHT.read_text(encoding="utf-8")
    exception = gcc[gcc.index("GCC RUNTIME LIBRARY EXCEPTION"):gcc.index("libquadmath/*.[hc]:")].strip()
    qt_version = version("libqt6core6")
    text = f"""Third-party software in Corvane for Windows
===========================================

Corvane itself is under the MIT licence (LICENSE.txt). Beside corvane.exe and corvanectl.exe, this folder
holds software of others, each under its own licence:

  Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll, platforms\\qwindows.dll, styles\\qwindowsvistastyle.dll,
  imageformats\\qico.dll
      Qt 6.4.2 (qtbase), The Qt Company Ltd and other contributors, under the GNU Lesser General Public
      License version 3 (below), with third-party code under the licences listed below.
  sqlite3.dll
      SQLite 3.40.1, dedicated to the public domain by its authors.
  libstdc++-6.dll, libgcc_s_seh-1.dll
      The GCC runtime libraries, Free Software Foundation, Inc., under the GNU General Public License
      version 3 with the GCC Runtime Library Exception version 3.1 (both below).
  libwinpthread-1.dll, and the MinGW-w64 start-up code built into every .exe and .dll here
      The MinGW-w64 runtime, the mingw-w64 project, under the licences listed below.


Qt and the GNU LGPL
-------------------
Corvane uses Qt as shared libraries (the Qt DLLs and plugins in this folder) and does not change them. You may
replace them with your own build of Qt 6.4 made from the same or changed sources.

The Qt here was built for Windows with MinGW-w64 from Debian's source package qt6-base {qt_version}
(the Qt 6.4.2 release with Debian's changes). Its complete source code is available:
  - from Debian, as the source package qt6-base version {qt_version}
    ("apt-get source qt6-base={qt_version}" on Debian 12, or its page in Debian's snapshot archive,
    https://snapshot.debian.org/package/qt6-base/);
  - as the original Qt 6.4.2 release, https://download.qt.io/archive/qt/6.4/6.4.2/submodules/
    (qtbase-everywhere-src-6.4.2.tar.xz);
  - from the Corvane authors, on request, for three years from the release of this version of Corvane.
Corvane's source code has the script that builds this Qt (scripts/build-windows-sdk.sh) with its options.


SQLite
------
The author disclaims copyright to this source code. In place of a legal notice, here is a blessing:

    May you do good and not evil.
    May you find forgiveness for yourself and forgive others.
    May you share freely, never taking more than you give.

All of the code and documentation in SQLite has been dedicated to the public domain by the authors of that
code (https://www.sqlite.org/copyright.html).
{rule("Third-party code inside Qt (from Debian's copyright file of qt6-base " + qt_version + ")")}{qt_files}

{qt_texts}
{rule("The MinGW-w64 runtime (from Debian's copyright file of mingw-w64 " + version("mingw-w64-common") + ")")}{mingw_files}

{mingw_texts}
{rule("The GCC runtime libraries: GCC Runtime Library Exception")}{exception}
{rule("GNU Lesser General Public License version 3")}{(COMMON / "LGPL-3").read_text(encoding="utf-8").strip()}
{rule("GNU General Public License version 3")}{(COMMON / "GPL-3").read_text(encoding="utf-8").strip()}
"""
    (HERE / "THIRD-PARTY-NOTICES.txt").write_text(text, encoding="utf-8")


if __name__ == "__main__":
    main()
