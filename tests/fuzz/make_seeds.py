#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (tests/fuzz/corpus/<target>/).

The seeds are frames as the golden tests know them: service replies, cluster
descriptions, welcome and answer frames, command frames and remote call
frames, wrapped in each target's input layout (see the targets' sources).
Run it again after changing a layout; the files are kept in the repository.
"""
import hashlib
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def le32(v):
    return struct.pack('<i', v)


def u32(v):
    return struct.pack('<I', v)


def u16(v):
    return struct.pack('<H', v)


def cstr(s):
    return s.encode() + b'\0'


def block(b):
    return u16(len(b)) + b


def write(target, seeds):
    d = os.path.join(HERE, 'corpus', target)
    os.makedirs(d, exist_ok=True)
    for old in os.listdir(d):
        os.remove(os.path.join(d, old))
    for s in seeds:
        name = hashlib.sha1(s).hexdigest()[:16]
        with open(os.path.join(d, name), 'wb') as f:
            f.write(s)


# --- replies of the service calls -----------------------------------------

def counted(t):
    return le32(len(t)) + t


SERVICE_REPLIES = [
    b'',
    le32(3) + le32(10) + le32(-20) + le32(30) + struct.pack('<hhh', 1, -2, 3),   # segmentation
    counted(b'result A') + counted(b'result B'),                                 # two counted texts
    counted(b'classA') + counted(b'classB') + b'\x01',                           # BSM
    b'sports\nnews\nweather\n',                                                  # name lists
    b'42',                                                                       # decimal text
    le32(2) + b'e' * 528 * 2,                                                    # extracted entries
    le32(0x7FFFFFFF) + b'abc',                                                   # huge count
    le32(-1) + b'x',                                                             # negative length
]

# reply record: kind, code, length mode, length value, bytes
def reply(kind, data=b'', code=0, len_mode=0, len_value=0):
    return bytes([kind]) + le32(code) + bytes([len_mode]) + le32(len_value) + block(data)


def exports_seeds():
    seeds = []
    n_exports = 32
    caps = [u16(256), u16(16), u16(0), u16(1)]
    for i in range(n_exports):
        for j, data in enumerate(SERVICE_REPLIES):
            if (i + j) % 3:
                continue  # every export meets every reply shape across the set
            replies = [reply(0, data)]
            seeds.append(bytes([i, len(replies)]) + b''.join(replies) + b''.join(caps) + b'\x01' * 8)
        # pending with its ticket, then the answer; parts; too long; a failure
        seqs = [
            [reply(4, le32(7) + le32(8)), reply(0, SERVICE_REPLIES[2])],
            [reply(3, b'first part '), reply(3, b'second part '), reply(0, b'end')],
            [reply(2, b'x' * 40, len_mode=1)],
            [reply(5, b'', code=-20201)],
            [reply(1, b'', code=5)],
        ]
        for seq in seqs[(i % 5):(i % 5) + 2]:
            seeds.append(bytes([i, len(seq)]) + b''.join(seq) + b''.join(caps) + b'\x00' * 8)
    return seeds


def description(clusters):
    out = le32(0) + le32(len(clusters))
    for name, tag, nodes in clusters:
        out += cstr(name) + cstr(tag) + cstr('a') + cstr('b') + le32(len(nodes))
        for server, port in nodes:
            out += cstr(server) + le32(port) + cstr('admin') + cstr('admin') + cstr('x')
    return out


def cluster_seeds():
    descs = [
        description([]),
        description([('Echo', 't', [('127.0.0.1', 7300)])]),
        description([('C', 't', [('10.0.0.1', 1), ('10.0.0.2', 65534)]), ('KExt_STM', 'u', [])]),
        description([('C', 't', [('h' * 19, 7300)])]),
        le32(0) + le32(1000000),
    ]
    seeds = []
    for d in descs:
        for ops in (bytes([5, 0, 1, 3, 2, 3, 3, 3, 4, 5]), bytes([3, 5, 5, 0, 1, 2])):
            seeds.append(bytes([1, 0]) + block(d) + bytes([0]) + block(d) + ops)
    return seeds


# --- the wire protocol -----------------------------------------------------

MAGIC = b'\x58\x52'


def frame(kind, rid, fields):
    body = MAGIC + bytes([1, kind]) + u32(rid) + fields
    return u32(len(body)) + body


def welcome(rid, result=0):
    return frame(4, rid, le32(result) + u32(1) + b'T' * 16)


def answer(rid, result, data, ticket=(0, 0)):
    return frame(6, rid, le32(result) + le32(ticket[0]) + le32(ticket[1]) + u32(len(data)) + data)


def fault(rid, code):
    return frame(7, rid, le32(code))


def net_seeds():
    seeds = []
    fixed = 0x60  # fix up the length prefix and the request id
    seeds.append(bytes([0 | fixed]) + block(welcome(1)))
    seeds.append(bytes([1]) + block(welcome(1)))                       # probe
    seeds.append(bytes([1]) + block(fault(1, -20113)))
    seeds.append(bytes([0]) + block(welcome(1, -20004)))
    for data, result in ((b'hello', 0), (b'', 5), (b'part', -1108), (le32(7) + le32(8), -9000)):
        seeds.append(bytes([(1 << 1) | fixed]) + u16(64) + block(welcome(1)) + block(answer(2, result, data)))
    seeds.append(bytes([(2 << 1)]) + u16(64) + u16(8) + block(welcome(1)) +
                 block(answer(2, 0, b'a' * 100)) + block(answer(3, 0, b'b')))
    seeds.append(bytes([(1 << 1)]) + u16(64) + block(welcome(1)) + block(fault(0, -20105)))
    return seeds


def header(code, a=0, b=0, c=0):
    return u16(code) + u16(501) + le32(a) + le32(b) + le32(c)


def command_fields(code, body=b'', body2=b'', capacity=4096, ticket=(0, 0), a=0):
    return (header(code, a) + le32(capacity) + le32(ticket[0]) + le32(ticket[1]) + u32(len(body)) + body +
            u32(len(body2)) + body2)


def command_body(rid, *args, **kw):
    """A command frame without its prefix (the target adds it)."""
    return MAGIC + bytes([1, 5]) + u32(rid) + command_fields(*args, **kw)


def sim_request_seeds():
    cmds = [
        (2, cstr('Echo') + cstr('') + b'hello'),
        (2, cstr('Script') + cstr('') + b'size=300 part=50'),
        (2, cstr('Script') + cstr('') + b'delay=5'),
        (2, cstr('Ident') + cstr('') + b'x'),
        (2, cstr('KExt_NLPE') + cstr('') + le32(0) + b'r!\0NLPE_DictLoad\0dict\0'),
        (6, b''), (7, cstr('Echo') + cstr('')), (8, b''),
        (9, b'use ext Demo cmd reg version=1.0 FileRef=\'echo\''),
        (1, b'<action><module>Echo</module><start/></action>'),
        (13, b''),
        (11, le32(0) + cstr('C') + cstr('t') + cstr('a') + cstr('b') + b'\0'),
        (12, le32(0) + cstr('C') + cstr('t') + b'\0'),
        (4, le32(1) + le32(1)), (5, le32(1) + le32(1)),
    ]
    seeds = []
    for code, body in cmds:
        seeds.append(bytes([2]) + block(command_body(2, code, body)))
        seeds.append(bytes([1]) + frame(5, 2, command_fields(code, body)))
    seeds.append(bytes([2]) + block(command_body(2, 3, cstr('Echo') + cstr(''), b'async payload')) +
                 block(command_body(3, 4, le32(0) + le32(0))))
    seeds.append(bytes([0]) + frame(3, 1, b''))                     # probe
    seeds.append(bytes([0]) + frame(2, 1, u32(1) + b'T' * 16))      # attach
    return seeds


# --- remote call frames of the service modules -------------------------------

def call(name, args=b'', selector=None):
    head = (le32(selector) if selector is not None else b'') + b'r!\0' + cstr(name)
    return head + args


def sim_service_seeds():
    s = cstr
    nlpe = [
        (0, 'NLPE_DictLoad', s('d1')), (0, 'NLPE_WordSect', s('some text here') + le32(16) + le32(1) + le32(2) + le32(3) + b'\0\1\1'),
        (0, 'NLPE_DictGetHandle', s('d1')), (1, 'AR_Initial', b''), (1, 'AR_Dict_Create', s('a') + s('b') + s('c')),
        (1, 'AR_Search', s('text') + le32(64) + le32(64)), (1, 'AR_Get_AllDictName', le32(64)),
        (2, 'EZTC_GetTxtClassify', le32(1) + le32(2) + s('a') * 6 + le32(3) + le32(64) + b'\0'),
        (3, 'CLA_GetClassifyResult', le32(1) + s('f') * 7 + le32(32) + le32(32) + le32(0) + b'\0' + le32(0) + le32(0)),
        (4, 'Extract_Word_Initial', le32(1)), (4, 'Extract_Word_Direct', s('f') * 6 + le32(2) + le32(1) + b'\0'),
        (5, 'Aptitude_Search', s('t') + le32(64)), (6, 'ClassNoLabel_GetClass', s('t') + le32(64)),
        (7, 'BSM_GetTxtClassify', le32(1) + le32(2) + s('b') * 8 + le32(32) + le32(32)),
        (8, 'TOP_Init', s('topic')), (8, 'TOP_GetItem', s('a') + s('b') + le32(64)), (8, 'TOP_List', le32(64) + le32(0)),
    ]
    ara = [('ARA_Stat_AssociatedFreq_Begin', s('run')), ('ARA_Stat_AssociatedFreq', s('a b c') + s('b c d') + le32(1) + b'\1'),
           ('ARA_Filtrate', s('a') + s('b') + le32(1)), ('ARA_GetWordSupportRec', s('a') + s('b'))]
    kwfs = [('KWFS_Frequency', le32(2) + s('w1') + le32(1) + s('x') + s('w2') + le32(2) + s('') + le32(3) + s('o') + le32(5)),
            ('KWFS_Associated', le32(1) + s('w') + le32(1) + s('x') + le32(3) + s('o'))]
    stm = [('STM_Initialize', b''), ('STM_Create_Knowledge_Domain', s('dom') + s('') * 3 + le32(1)),
           ('STM_Open_Knowledge_Domain', s('dom')), ('STM_List_Knowledge_Domain', le32(256) + le32(0)),
           ('STM_TextClassifier_Do', le32(1) + le32(256) + le32(1) + le32(1) + le32(3) + b'abc' + le32(1) + le32(2) + b'\1'),
           ('STM_InfoFilter_Do', le32(1) + le32(1) + le32(1) + le32(3) + b'abc'),
           ('STM_VSMModel_GetResult', le32(1) + le32(256) + s('t') + b'\1' + le32(1) + le32(2))]
    calls = [(0, call(n, a, sel)) for sel, n, a in nlpe]
    calls += [(1, call(n, a)) for n, a in ara] + [(2, call(n, a)) for n, a in kwfs] + [(3, call(n, a)) for n, a in stm]
    seeds = []
    for fam, c in calls:
        seeds.append(bytes([0, fam]) + u16(4096) + block(c))
    # short sequences that build state first
    seq = [(0, call('AR_Initial', b'', 1)), (0, call('AR_Dict_Create', s('d') + s('a b') + s('c'), 1)),
           (0, call('AR_Search', s('a') + le32(64) + le32(64), 1))]
    seeds.append(bytes([len(seq) - 1]) + b''.join(bytes([f]) + u16(4096) + block(c) for f, c in seq))
    seq = [(3, call('STM_Initialize')), (3, call('STM_Create_Knowledge_Domain', s('d') + s('') * 3 + le32(1))),
           (3, call('STM_Open_Knowledge_Domain', s('d'))), (3, call('STM_Get_Knowledge_Domain_Name', le32(1) + le32(64)))]
    seeds.append(bytes([len(seq) - 1]) + b''.join(bytes([f]) + u16(4096) + block(c) for f, c in seq))
    return seeds


def main():
    write('fuzz_exports', exports_seeds())
    write('fuzz_cluster', cluster_seeds())
    write('fuzz_statement', [b'use ext M cmd reg version=1.0 FileRef=\'f\' free text',
                             b'USE EXT KExt_NLPE cmd x a="b c";d=e rest', b'use ext M', b'use  ext\tM\n',
                             b'use ext M cmd = a', b"use ext M k='unterminated", b'select 1'])
    write('fuzz_connect_string', [b'server=h;port=7300;user=u;pass=p', b'PASS=p;USER=u;PORT=99999999999;SERVER=h',
                                  b'server=;port=;user=;pass=', b'server=h;port=1;user=u'])
    write('fuzz_net_reader', net_seeds())
    write('fuzz_sim_requests', sim_request_seeds())
    write('fuzz_sim_service', sim_service_seeds())
    return 0


if __name__ == '__main__':
    sys.exit(main())
