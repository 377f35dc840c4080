"""The raw layer against the C header and the export list: record layouts
(compiled with the C compiler of this machine), the export table's names and
types, and the Python result table against exports/orqext_results.h."""

import ctypes
import os
import re

import pytest

from conftest import HEADER_DIR, compile_and_run

from orqext import errors, raw

HEADER = open(os.path.join(HEADER_DIR, "orqext.h")).read()
HEADER_NO_COMMENTS = re.sub(r"/\*.*?\*/", "", HEADER, flags=re.S)


def header_structs():
    """name -> [field names in order] of every typedef struct of the header."""
    out = {}
    for body, name in re.findall(r"typedef struct \w+ \{(.*?)\} (\w+);", HEADER_NO_COMMENTS,
                                 flags=re.S):
        fields = re.findall(r"(\w+)\s*(?:\[[^\]]*\])?\s*;", body)
        out[name] = fields
    return out


def test_constants_come_from_the_header():
    # Every number the header defines is in raw with its value, and every
    # ORQEXT_ constant of raw is one of the header's (defines and enums).
    defines = dict(re.findall(r"#define (ORQEXT_\w+) \(?(-?\d+)\)?\s*\n", HEADER_NO_COMMENTS))
    enums = dict(re.findall(r"\b(ORQEXT_\w+)\s*=\s*(-?\d+)", HEADER_NO_COMMENTS))
    assert "ORQEXT_SERVER_NAME_ROOM" in defines
    for name, number in defines.items():
        assert getattr(raw, name, None) == int(number), name
    ours = {n: v for n, v in vars(raw).items() if n.startswith("ORQEXT_") and isinstance(v, int)}
    for name, number in ours.items():
        header = defines.get(name, enums.get(name))
        assert header is not None, "%s is not in the header" % name
        assert number == int(header), name
    from orqext import connection
    assert connection.SERVER_NAME_ROOM == int(defines["ORQEXT_SERVER_NAME_ROOM"])


def test_every_record_of_the_header_is_declared_with_its_fields_in_order():
    structs = header_structs()
    assert len(structs) == len(raw.RECORDS)
    for record in raw.RECORDS:
        assert record.__name__ in structs, record.__name__
        assert [f[0] for f in record._fields_] == structs[record.__name__], record.__name__


def test_record_sizes_and_offsets_match_the_c_compiler(tmp_path):
    records = list(raw.RECORDS) + [raw.ExtractEntry]
    lines = []
    for record in records:
        lines.append('printf("%s size %%zu\\n", sizeof(%s));' % (record.__name__, record.__name__)
                     if record is not raw.ExtractEntry else
                     'printf("ExtractEntry size %d\\n", ORQEXT_EXTRACT_ENTRY_SIZE);')
        if record is raw.ExtractEntry:
            continue
        for field, _ in record._fields_:
            lines.append('printf("%s.%s %%zu\\n", offsetof(%s, %s));'
                         % (record.__name__, field, record.__name__, field))
    source = ("#include <stdio.h>\n#include <stddef.h>\n#include \"orqext.h\"\n"
              "int main(void) {\n%s\nreturn 0;\n}\n" % "\n".join(lines))
    got = dict(line.rsplit(" ", 1) for line in compile_and_run(source, tmp_path).splitlines())
    expected = {}
    for record in records:
        expected["%s size" % record.__name__] = str(ctypes.sizeof(record))
        if record is raw.ExtractEntry:
            continue
        for field, _ in record._fields_:
            expected["%s.%s" % (record.__name__, field)] = str(getattr(record, field).offset)
    assert got == expected


def test_export_table_lists_every_exported_name_once():
    listed = [line.strip() for line in open(os.path.join(HEADER_DIR, "orqext.exports"))
              if line.strip()]
    names = [name for name, _, _ in raw.EXPORTS]
    assert len(names) == len(set(names)) == 116
    assert sorted(names) == sorted(listed)


# The C parameter types of the header and the ctypes type each one takes.
C_TYPES = {
    "int32_t": ctypes.c_int32,
    "uint8_t": ctypes.c_uint8,
    "const char*": ctypes.c_char_p,
    "char*": ctypes.POINTER(ctypes.c_char),
    "const void*": ctypes.c_void_p,
    "void*": ctypes.c_void_p,
    "int32_t*": ctypes.POINTER(ctypes.c_int32),
    "int16_t*": ctypes.POINTER(ctypes.c_int16),
    "uint8_t*": ctypes.POINTER(ctypes.c_uint8),
    "const char* const*": ctypes.POINTER(ctypes.c_char_p),
    "ORQExtAsyncCallback": raw.ORQExtAsyncCallback,
    "ORQExtAsyncCallback*": ctypes.POINTER(raw.ORQExtAsyncCallback),
}


def c_type(text):
    text = " ".join(text.split()).replace(" *", "*")
    if text in C_TYPES:
        return C_TYPES[text]
    m = re.fullmatch(r"(?:const )?(\w+)\*", text)
    assert m and hasattr(raw, m.group(1)), "unknown C type %r" % text
    return ctypes.POINTER(getattr(raw, m.group(1)))


def test_export_table_types_match_the_header_prototypes():
    protos = re.findall(r"ORQEXT_API\s+(\w+)\s+ORQEXT_CALL\s+(\w+)\s*\((.*?)\);",
                        HEADER_NO_COMMENTS, flags=re.S)
    assert len(protos) == 116
    table = {name: (restype, argtypes) for name, restype, argtypes in raw.EXPORTS}
    for restype, name, params in protos:
        args = [re.match(r"(.*?)\s*\w+$", " ".join(p.split())).group(1) for p in params.split(",")]
        assert table[name][0] is C_TYPES[restype], name
        assert list(table[name][1]) == [c_type(a) for a in args], name


def test_every_export_is_declared_on_the_loaded_library():
    lib = raw.library()
    for name, restype, argtypes in raw.EXPORTS:
        fn = getattr(lib, name)
        assert fn.restype is restype and list(fn.argtypes) == list(argtypes), name
    # The declared types are in force: a refused argument comes back as -1100.
    status = ctypes.c_int32(1)
    assert raw.ORQExt_Connect(b"", 1, b"u", b"p", ctypes.byref(status)) == 0
    assert status.value == raw.ORQEXT_E_BAD_ARGUMENT


def test_result_table_matches_the_header(tmp_path):
    source = r'''
#include <stdio.h>
#include "orqext_results.h"
#define ROW(code, name, source, meaning) printf("%d\t%s\t%s\t%s\n", code, name, source, meaning);
int main(void) { ORQEXT_RESULT_TABLE(ROW) return 0; }
'''
    rows = [line.split("\t") for line in compile_and_run(source, tmp_path).splitlines()]
    header = [(int(code), name, src, meaning) for code, name, src, meaning in rows]
    assert list(errors.RESULTS) == header


def test_header_constants_match_the_result_table():
    names = {name: code for code, name, _, _ in errors.RESULTS}
    for name, code in names.items():
        if name.startswith("ORQEXT_"):
            assert getattr(raw, name) == code, name
    for name, value in re.findall(r"(ORQEXT_(?:OK|E_\w+))\s*=\s*(-?\d+)", HEADER_NO_COMMENTS):
        assert names[name] == int(value), name


@pytest.mark.parametrize("code, cls", [
    (-1100, errors.BadArgument),
    (-1107, errors.AnswerTooLong),
    (-20104, errors.AnswerTooLong),
    (-1112, errors.Timeout),
    (-1113, errors.Timeout),
    (-20007, errors.Timeout),
    (-4100, errors.NoConnection),
    (-20002, errors.NoConnection),
    (-20004, errors.NoConnection),
    (-20006, errors.NoConnection),
    (-20012, errors.NoConnection),
    (-3502, errors.OrqExtError),
    (-20206, errors.OrqExtError),
    (-123456, errors.OrqExtError),
])
def test_error_class_code_and_message_come_from_the_table(code, cls):
    e = errors.error_for(code, "ORQExt_Something")
    assert type(e) is cls and e.code == code
    row = [r for r in errors.RESULTS if r[0] == code]
    if row:
        assert (e.name, e.meaning) == (row[0][1], row[0][3])
        assert str(e) == "ORQExt_Something failed: %d %s: %s" % (code, row[0][1], row[0][3])
    else:
        assert e.name == "UNKNOWN"


def test_errors_survive_pickling_with_their_class_and_fields():
    import pickle
    e = errors.AnswerTooLong(-1107, "call", "detail", length=99)
    back = pickle.loads(pickle.dumps(e))
    assert type(back) is errors.AnswerTooLong
    assert (back.code, back.call, back.detail, back.length, str(back)) == (-1107, "call", "detail",
                                                                            99, str(e))
    assert isinstance(errors.error_for(-1100), ValueError)
