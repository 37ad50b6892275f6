#!/usr/bin/env python3
"""A file system that never answers, as a network mount whose server is gone.

    silent_fuse.py FOLDER REPORT

Mounts a FUSE file system on FOLDER (in the caller's mount namespace) that
answers the kernel's greeting and nothing after it: every look-up, stat or
open of a name in it waits until this program ends, when the kernel fails
them. REPORT gets "ready" once mounted and a line "asked OPCODE" for each
request left unanswered. Exits 3, saying why, where the kernel does not let
it mount (no /dev/fuse, no CAP_SYS_ADMIN).
"""
import ctypes
import os
import struct
import sys

# struct fuse_in_header: len, opcode, unique, nodeid, uid, gid, pid, padding
IN_HEADER = struct.Struct("=IIQQIIII")
# struct fuse_out_header: len, error, unique
OUT_HEADER = struct.Struct("=IiQ")
FUSE_INIT = 26


def main():
    folder, report = sys.argv[1], sys.argv[2]
    libc = ctypes.CDLL(None, use_errno=True)
    try:
        fuse = os.open("/dev/fuse", os.O_RDWR | os.O_CLOEXEC)
    except OSError as e:
        print("silent_fuse: /dev/fuse: " + e.strerror, file=sys.stderr)
        sys.exit(3)
    options = "fd=%d,rootmode=40000,user_id=0,group_id=0" % fuse
    if libc.mount(b"kadrix-silent", os.fsencode(folder), b"fuse", 0, options.encode()) != 0:
        print("silent_fuse: mount: " + os.strerror(ctypes.get_errno()), file=sys.stderr)
        sys.exit(3)
    # The greeting: protocol 7, at most the minor version the kernel speaks.
    request = os.read(fuse, 1 << 20)
    _, opcode, unique, _, _, _, _, _ = IN_HEADER.unpack_from(request)
    if opcode != FUSE_INIT:
        print("silent_fuse: the kernel did not greet first", file=sys.stderr)
        sys.exit(3)
    _, minor = struct.unpack_from("=II", request, IN_HEADER.size)
    # struct fuse_init_out: major, minor, max_readahead, flags, max_background,
    # congestion_threshold, max_write, time_gran, max_pages, map_alignment,
    # flags2, unused[7]
    body = struct.pack("=IIIIHHIIHHI7I", 7, min(minor, 31), 0, 0, 0, 0, 4096, 1, 0, 0, 0, *([0] * 7))
    os.write(fuse, OUT_HEADER.pack(OUT_HEADER.size + len(body), 0, unique) + body)
    with open(report, "a") as out:
        out.write("ready\n")
    while True:
        try:
            request = os.read(fuse, 1 << 20)
        except OSError:
            return  # unmounted
        if not request:
            return
        _, opcode, _, _, _, _, _, _ = IN_HEADER.unpack_from(request)
        with open(report, "a") as out:
            out.write("asked %d\n" % opcode)


if __name__ == "__main__":
    main()
