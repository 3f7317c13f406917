#!/usr/bin/env python3
"""The built files as Windows sees them, read with pefile: headers, imports,
exports, manifest, version resource, and the tool's Russian texts.

  pe_checks.py [--tool EXE] [--plugin DLL] [--splicer DLL] [--splicer-noentry DLL]
               [unittest arguments, e.g. ToolImage]

Each case needs only the files it reads. Every failure names the actual value.
"""
import argparse
import os
import re
import sys
import unittest

import pefile

FILES = {}
RT_VERSION = 16
RT_MANIFEST = 24
I386 = 0x14C
PE32 = 0x10B
DLL_FLAG = 0x2000
RUSSIAN = 0x0419
UNICODE = 0x04B0


def image(key):
    path = FILES.get(key)
    if not path:
        raise AssertionError("no --%s given" % key.replace("_", "-"))
    return pefile.PE(path)


def resources(pe):
    """Every resource leaf with a numeric type and id: (type, id, language, bytes)."""
    found = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in root.entries if root else []:
        if kind.id is None:
            continue
        for name in kind.directory.entries:
            if name.id is None:
                continue
            for leaf in name.directory.entries:
                data = pe.get_data(leaf.data.struct.OffsetToData, leaf.data.struct.Size)
                found.append((kind.id, name.id, leaf.id, data))
    return found


def find_resource(pe, kind, ident, language=None):
    for k, i, lang, data in resources(pe):
        if k == kind and i == ident and (language is None or lang == language):
            return lang, data
    return None


def listing(pe):
    return ", ".join("type %d id %d language 0x%04X" % (k, i, lang) for k, i, lang, _ in resources(pe)) or "none"


def imports(pe):
    """{dll name as written: [function names, ordinals as "#n"]}."""
    return {
        entry.dll.decode(): [f.name.decode() if f.name else "#%d" % f.ordinal for f in entry.imports]
        for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
    }


def imported_from(pe, dll):
    for name, functions in imports(pe).items():
        if name.lower() == dll.lower():
            return functions
    return []


def export_names(pe):
    if not hasattr(pe, "DIRECTORY_ENTRY_EXPORT"):
        return []
    return sorted(s.name.decode() if s.name else "#%d" % s.ordinal for s in pe.DIRECTORY_ENTRY_EXPORT.symbols)


def version_of(pe):
    """(fixed file version, fixed product version, [translation values], [(table, key, value)])."""
    fixed = pe.VS_FIXEDFILEINFO[0]

    def dotted(ms, ls):
        return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    translations, strings = [], []
    for info in pe.FileInfo[0] if hasattr(pe, "FileInfo") else []:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                for key, value in table.entries.items():
                    strings.append((table.LangID.decode(), key.decode(), value.decode()))
        elif info.Key == b"VarFileInfo":
            for var in info.Var:
                for key, pair in var.entry.items():
                    if key == b"Translation":
                        # pefile keeps the last language / code page pair;
                        # the value's length tells how many there are.
                        language, code_page = (int(word, 16) for word in pair.split())
                        translations += [language | code_page << 16] * (var.ValueLength // 4)
    return (dotted(fixed.FileVersionMS, fixed.FileVersionLS), dotted(fixed.ProductVersionMS, fixed.ProductVersionLS),
            translations, strings)


def recorded_version(name):
    """The version cmake/versions.cmake gives a deliverable (QV_TOOL_VERSION, QV_PLUGIN_VERSION)."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake", "versions.cmake")
    with open(path) as f:
        found = re.findall(r"^set\(%s ([0-9]+(?:\.[0-9]+){3})\)$" % name, f.read(), re.M)
    if len(found) != 1:
        raise AssertionError("%s is set %d times in %s, not once" % (name, len(found), path))
    return found[0]


class Checks(unittest.TestCase):
    """Checks that both deliverables share; `file` names the one a case reads."""

    file = None

    @classmethod
    def setUpClass(cls):
        if cls.file:
            cls.pe = image(cls.file)

    def check_header(self, pe, dll):
        self.assertEqual(pe.FILE_HEADER.Machine, I386, "machine 0x%X" % pe.FILE_HEADER.Machine)
        self.assertEqual(pe.OPTIONAL_HEADER.Magic, PE32, "optional header magic 0x%X" % pe.OPTIONAL_HEADER.Magic)
        flags = pe.FILE_HEADER.Characteristics
        self.assertEqual(bool(flags & DLL_FLAG), dll, "characteristics 0x%04X" % flags)

    def check_imports_within(self, pe, allowed):
        dlls = list(imports(pe))
        self.assertTrue(dlls, "no imported DLL at all")
        for dll in dlls:
            with self.subTest(dll=dll):
                self.assertIn(dll.lower(), allowed, "imports %s" % dll)

    def check_imports(self, pe, dll, functions):
        found = imported_from(pe, dll)
        for function in functions:
            self.assertIn(function, found, "%s from %s not imported; imported: %s" % (function, dll, found))

    def check_russian_unicode_version(self, pe, version, expected_strings):
        file_version, product_version, translations, strings = version_of(pe)
        self.assertEqual(file_version, version, "fixed file version %s" % file_version)
        self.assertEqual(product_version, version, "fixed product version %s" % product_version)
        self.assertEqual(translations, [UNICODE << 16 | RUSSIAN],
                         "translations %s" % ["0x%08X" % t for t in translations])
        self.assertTrue(strings, "no StringFileInfo strings")
        for table, key, _ in strings:
            self.assertEqual(table.lower(), "041904b0", "string %s in table %s" % (key, table))
        values = {key: value for _, key, value in strings}
        for key, value in expected_strings.items():
            with self.subTest(key=key):
                self.assertIn(key, values, "no version string %s; strings: %s" % (key, sorted(values)))
                self.assertEqual(values[key], value, "%s reads %r" % (key, values[key]))

    def check_no_symbol_table(self, pe):
        header = pe.FILE_HEADER
        self.assertTrue(header.PointerToSymbolTable == 0 and header.NumberOfSymbols == 0,
                        "COFF symbol table at file offset 0x%X with %d symbols"
                        % (header.PointerToSymbolTable, header.NumberOfSymbols))


class ToolImage(Checks):
    """QV_InternalTool.exe."""

    file = "tool"

    def test_is_a_32_bit_gui_program(self):
        self.check_header(self.pe, dll=False)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, 2, "subsystem %d" % self.pe.OPTIONAL_HEADER.Subsystem)

    def test_imports_only_known_system_libraries(self):
        # The tool runs from the game folder, among other people's files:
        # Windows looks up any import that is not one of its known system
        # libraries in the program's own folder first. version.dll is loaded
        # at run time from the system folder instead.
        dlls = sorted(dll.lower() for dll in imports(self.pe))
        self.assertEqual(dlls, ["advapi32.dll", "kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll"], "imported DLLs")
        self.check_imports(self.pe, "KERNEL32.dll", ["GetSystemDirectoryA", "LoadLibraryExA", "GetProcAddress"])
        self.check_imports(self.pe, "SHELL32.dll", ["ShellExecuteExA"])
        # The tool's boxes are shown in UTF-16; a launcher gets WM_CLOSE with a time limit.
        self.check_imports(self.pe, "USER32.dll", ["MessageBoxW", "SendMessageTimeoutA"])
        self.assertNotIn("SendMessageA", imported_from(self.pe, "USER32.dll"))

    def test_manifest_one_requests_as_invoker(self):
        manifest = find_resource(self.pe, RT_MANIFEST, 1)
        self.assertIsNotNone(manifest, "no RT_MANIFEST resource 1; resources: %s" % listing(self.pe))
        text = manifest[1].decode("utf-8", "replace")
        self.assertIn("requestedExecutionLevel", text)
        self.assertIn('level="asInvoker"', text)

    def test_version_resource_is_russian_unicode(self):
        resource = find_resource(self.pe, RT_VERSION, 1)
        self.assertIsNotNone(resource, "no RT_VERSION resource 1; resources: %s" % listing(self.pe))
        self.assertEqual(resource[0], RUSSIAN, "version resource in language 0x%04X" % resource[0])
        version = recorded_version("QV_TOOL_VERSION")
        self.check_russian_unicode_version(self.pe, version, {"FileVersion": version, "ProductVersion": version})

    def test_holds_the_russian_texts_as_windows_1251_bytes(self):
        texts = [
            "Неверная командная строка.",
            "Установка %s успешно завершена.",
            "Не удалось установить %s: не удалось сохранить файл настроек.",
            "Не удалось установить %s: имя пакета не должно содержать кавычки.",
            "Пожалуйста, закройте игру и нажмите 'Повтор'",
            "Пожалуйста, закройте QV_Launcher.exe и нажмите 'Повтор'",
            "Не удается запустить QV3_Update.exe. Попробуйте запустить его самостоятельно.",
            "Имя папки игры содержит символы вне языка программ, не поддерживающих Юникод. "
            "Переместите игру в папку с латинским именем.",
        ]
        data = bytes(self.pe.__data__)
        for text in texts:
            encoded = text.encode("cp1251") + b"\0"
            with self.subTest(text=text):
                self.assertTrue(encoded in data, "not in the binary: %s (bytes %s)" % (text, encoded.hex(" ")))


class PluginImage(Checks):
    """QV_PLUGIN.dll."""

    file = "plugin"

    def test_is_an_i386_dll_that_exports_nothing(self):
        self.check_header(self.pe, dll=True)
        exports = getattr(self.pe, "DIRECTORY_ENTRY_EXPORT", None)
        count = exports.struct.NumberOfFunctions if exports else 0
        self.assertEqual(count, 0, "%d exported functions" % count)
        self.assertEqual(export_names(self.pe), [])

    def test_imports_only_system_dlls(self):
        self.check_imports_within(self.pe, {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll"})
        # The patching library is bound at run time, not by the loader.
        self.check_imports(self.pe, "kernel32.dll", ["LoadLibraryA", "GetProcAddress"])

    def test_manifest_is_resource_2_asking_as_invoker(self):
        manifest = find_resource(self.pe, RT_MANIFEST, 2)
        self.assertIsNotNone(manifest, "no RT_MANIFEST resource 2; resources: %s" % listing(self.pe))
        self.assertIsNone(find_resource(self.pe, RT_MANIFEST, 1), "a manifest as resource 1 too")
        self.assertIn('requestedExecutionLevel level="asInvoker"', manifest[1].decode("utf-8", "replace"))

    def test_version_resource(self):
        self.assertIsNotNone(find_resource(self.pe, RT_VERSION, 1, RUSSIAN),
                             "no version resource in language 0x0419; resources: %s" % listing(self.pe))
        version = recorded_version("QV_PLUGIN_VERSION")
        self.check_russian_unicode_version(self.pe, version, {
            "FileDescription": "Quarn QV plugin Dynamic Link Library",
            "InternalName": "Quarn QV plugin",
            "ProductName": "Quarn QV plugin",
            "OriginalFilename": "QV_PLUGIN.DLL",
            "FileVersion": version,
            "ProductVersion": version,
        })


class StandinExports(unittest.TestCase):
    """The stand-in patching library in its two forms."""

    def test_library_exports_the_decorated_entry(self):
        self.assertEqual(export_names(image("splicer")), ["_GetSplicerX86@0", "standin_control"])
        self.assertEqual(export_names(image("splicer_noentry")), ["GetSplicerX86", "standin_control"])


class NoSymbolTable(Checks):
    """Neither deliverable carries a COFF symbol table."""

    def test_tool(self):
        self.check_no_symbol_table(image("tool"))

    def test_plugin(self):
        self.check_no_symbol_table(image("plugin"))


# --- The Windows floor: header versions and the import lists ---------------
# Both deliverables run on Windows XP SP3 and later (docs/windows-versions.md).
# Each has a list of what it may import (tests/pe/<file>-imports.txt: function,
# DLL, oldest Windows that has it); an import not on its list, or newer than
# the floor, fails and names itself.
WINDOWS = ["2000", "XP", "XP-SP1", "XP-SP2", "XP-SP3", "Vista", "7", "8", "8.1", "10", "11"]
FLOOR = "XP-SP3"
HERE = os.path.dirname(os.path.abspath(__file__))


def windows_name(version):
    return "Windows " + version.replace("-", " ")


def import_list(path):
    """{(dll, function): oldest Windows} from an import list; AssertionError naming a bad line."""
    listed = {}
    with open(path, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            fields = line.split("#", 1)[0].split()
            if not fields:
                continue
            if len(fields) != 3 or fields[2] not in WINDOWS:
                raise AssertionError("%s:%d: not 'function DLL oldest-Windows' (Windows: %s): %r"
                                     % (path, number, " ".join(WINDOWS), line.rstrip("\n")))
            listed[(fields[1].lower(), fields[0])] = fields[2]
    return listed


def floor_problems(pe, list_path):
    """What keeps `pe` from the floor, one message each: header versions, a DLL's TLS, imports."""
    problems = []
    header = pe.OPTIONAL_HEADER
    for what, major, minor in (("OS", header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion),
                               ("subsystem", header.MajorSubsystemVersion, header.MinorSubsystemVersion)):
        if (major, minor) != (5, 1):
            problems.append("the header says %s version %d.%d, not 5.1 (Windows XP)" % (what, major, minor))
    tls = header.DATA_DIRECTORY[9]
    if pe.FILE_HEADER.Characteristics & DLL_FLAG and tls.Size:
        problems.append("has a TLS directory (thread-local data): before Vista, a DLL loaded at run time, as the "
                        "host loads this one, gets no thread-local storage and faults on it")
    listed = import_list(list_path)
    name = os.path.relpath(list_path, os.path.dirname(os.path.dirname(HERE)))
    for dll, functions in imports(pe).items():
        for function in functions:
            oldest = listed.get((dll.lower(), function))
            if oldest is None:
                problems.append("imports %s from %s, which is not on %s (add it with the oldest Windows that has it, "
                                "from its Microsoft reference page)" % (function, dll, name))
            elif WINDOWS.index(oldest) > WINDOWS.index(FLOOR):
                problems.append("imports %s from %s, which needs %s, newer than the floor %s (%s): look it up at "
                                "run time instead" % (function, dll, windows_name(oldest), windows_name(FLOOR), name))
    return problems


class WindowsFloor(unittest.TestCase):
    """Both deliverables load on Windows XP SP3: header versions 5.1, no TLS in the DLL, imports on their lists."""

    def check(self, key, list_name):
        problems = floor_problems(image(key), os.path.join(HERE, list_name))
        if problems:
            self.fail("%s:\n  %s" % (os.path.basename(FILES[key]), "\n  ".join(problems)))

    def test_tool(self):
        self.check("tool", "tool-imports.txt")

    def test_plugin(self):
        self.check("plugin", "plugin-imports.txt")


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    for key in ("tool", "plugin", "splicer", "splicer-noentry"):
        parser.add_argument("--" + key)
    known, rest = parser.parse_known_args()
    FILES.update({key: path for key, path in vars(known).items() if path})
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
